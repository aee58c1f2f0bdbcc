#pragma once

#include "AudioFormat.h"
#include "OfflineRender.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

// One song saved as an audio file on a worker thread with its own offline synthesizer, so the
// window stays usable and the live synthesizer goes on playing.
namespace tonelark {

struct ExportRequest {
    QByteArray smf;            // the song's bytes, copied
    RenderSettings render;
    QString path;              // the file to write
    AudioFormat format = AudioFormat::Flac;
    AudioTags tags;
};

struct ExportOutcome {
    enum Kind { Saved, Cancelled, Failed };
    Kind kind = Failed;
    QString message;           // Failed: what to show the user
    double seconds = 0;        // Saved: the audio's length
};

class ExportJob : public QObject {
    Q_OBJECT
public:
    explicit ExportJob(ExportRequest request, QObject *parent = nullptr);
    // Cancels a render still running and waits for its thread: nothing is left on disk.
    ~ExportJob() override;

    void start();
    // The render stops at its next block; finished() then reports Cancelled.
    void cancel() { m_cancel = true; }
    bool running() const { return m_thread.joinable() && !m_ended; }
    const QString &path() const { return m_request.path; }
    // 0 … 100.
    int percent() const { return m_percent; }

signals:
    // In the thread that owns the job, each time the whole percentage changes.
    void progressChanged(int percent);
    void finished(const tonelark::ExportOutcome &outcome);

private:
    void run();
    void report(int percent);
    void end(const ExportOutcome &outcome);

    ExportRequest m_request;
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_percent{0};
};

// The library that holds exportSong() with the renderer and the encoders, and its entry.
inline constexpr char kExportLibraryName[] = "libtonelark-export.so";
inline constexpr char kExportEntryName[] = "tonelark_export_song";

// Runs one export on the calling thread (the job's worker, and tests): `cancelled` is polled
// between blocks and `progress` told each block's share.
ExportOutcome exportSong(const ExportRequest &request, const std::atomic<bool> &cancelled,
                         const std::function<void(double)> &progress);

} // namespace tonelark

Q_DECLARE_METATYPE(tonelark::ExportOutcome)
