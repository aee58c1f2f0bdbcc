#pragma once

#include "AudioFormat.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

// Rendered audio into a WAV, FLAC or Ogg Vorbis file through libsndfile, written by the
// project's atomic-save rules: the bytes go to a new file beside the target, and only a render
// that completed and was flushed to the disk replaces it. A cancelled or failed one leaves
// nothing behind.
namespace tonelark {

class AtomicFileWriter;

class AudioFileWriter {
public:
    // Creates the new file beside `path` and starts the format's stream: 16-bit stereo (FLAC,
    // WAV) or Vorbis at about 160 kbit/s. See failed() for the outcome.
    AudioFileWriter(const QString &path, AudioFormat format, const AudioTags &tags, int sampleRate = 44100,
                    int channels = 2);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter &) = delete;
    AudioFileWriter &operator=(const AudioFileWriter &) = delete;

    bool failed() const { return m_failed; }
    // Appends `frames` frames of interleaved samples; false once anything failed.
    bool write(const std::int16_t *interleaved, std::int64_t frames);
    // Ends the stream, flushes the file and renames it over the target. True on success;
    // otherwise the new file is gone and errorText() says why.
    bool commit();
    // Removes the new file (also done by the destructor without a commit).
    void discard();

    // Why it failed, in the program's Japanese words: a system error by systemErrorText (the
    // disk-full message among them), otherwise the encoder's own text.
    QString errorText() const;
    // The same in English, for the command line.
    std::string errorDetail() const;

private:
    void failWith(int errorNumber, const std::string &detail);

    std::unique_ptr<AtomicFileWriter> m_file;
    struct SoundFile;
    std::unique_ptr<SoundFile> m_sound;
    int m_channels;
    bool m_failed = false;
    int m_errorNumber = 0;
    std::string m_detail;
};

} // namespace tonelark
