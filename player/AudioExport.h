#pragma once

#include "AudioFileWriter.h"
#include "ExportJob.h"
#include "OfflineRender.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QProgressDialog;
class QWidget;

// 「音声ファイルに保存(&O)...」: the song playing, as the singer hears it now (key, tempo, mutes and
// guide melody, SoundFont), saved as an audio file by a worker thread while the window and the
// playback go on. The window only adds the action to its menus and hands over its state.
namespace tonelark {

class ChannelMixer;
class KeyTempo;
class ModalLoopState;
class Ui;

// One save's input, read from the window when the command runs.
struct BackingTrackSource {
    QString songPath;          // the loaded file; empty when no song is loaded
    QByteArray smf;            // the bytes the engine plays
    AudioTags tags;            // the title and author boxes' texts
    RenderSettings render;
    bool classicDialog = false;
};

// The player's state as render settings: key and tempo, the mixer's channels, guide melody and
// volume, the play option, and with the option's loop bit the queue's loop count (ループ回数;
// its 0, for ever, saves the default two passes) followed by a fade of kFadeSeconds.
RenderSettings backingTrackSettings(const KeyTempo &keyTempo, const ChannelMixer &mixer, qint32 playOption,
                                    int queueLoopCount, const QString &soundFont);
inline constexpr double kBackingTrackFadeSeconds = 5.0;
inline constexpr int kBackingTrackDefaultLoops = 2;

// The name the save dialog proposes: the song's folder and name with the format's suffix.
QString proposedAudioFileName(const QString &songPath, AudioFormat format);

class AudioExport : public QObject {
    Q_OBJECT
public:
    AudioExport(Ui &ui, ModalLoopState &modalLoop, QWidget *window);
    // A render still running is cancelled and its thread joined: no file is left behind.
    ~AudioExport() override;

    // 「音声ファイルに保存(&O)...」; enabled while a song is loaded and no save runs.
    QAction *action = nullptr;

    void setSource(std::function<BackingTrackSource()> source) { m_source = std::move(source); }
    // A line for the info area when a file was saved.
    void setNotice(std::function<void(const QString &)> notice) { m_notice = std::move(notice); }
    // Whether a song is loaded (the action's state).
    void setSongLoaded(bool loaded);

    // The command: asks for the file, then renders it in the background with the progress
    // dialog open. Nothing is written when another song was loaded while the dialog was open.
    void save();
    bool running() const { return m_job != nullptr; }
    ExportJob *job() const { return m_job.get(); }
    QProgressDialog *progressDialog() const;
    // The format the dialog offers first: the one saved last (FLAC at first).
    AudioFormat format() const { return m_format; }

signals:
    // After each save's end: saved, cancelled or failed (its box already shown).
    void saveEnded(tonelark::ExportOutcome::Kind kind);

private:
    void finished(const ExportOutcome &outcome);
    void updateAction();

    Ui &m_ui;
    ModalLoopState &m_modalLoop;
    QWidget *m_window;
    std::function<BackingTrackSource()> m_source;
    std::function<void(const QString &)> m_notice;
    std::unique_ptr<ExportJob> m_job;
    QPointer<QProgressDialog> m_progress;
    AudioFormat m_format = AudioFormat::Flac;
    bool m_songLoaded = false;
};

} // namespace tonelark
