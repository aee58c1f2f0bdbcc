#include "AudioFileWriter.h"

#include "SafeFile.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace tonelark {

// libsndfile writes through these callbacks into the atomic writer's new file, so every byte
// goes through its checked writes and the first failure (a full disk) is kept for the commit.
struct AudioFileWriter::SoundFile {
    AtomicFileWriter *file = nullptr;
    SNDFILE *handle = nullptr;
    SF_VIRTUAL_IO io{};

    static sf_count_t length(void *data)
    {
        struct stat status {};
        return ::fstat(self(data).file->fd(), &status) == 0 ? sf_count_t(status.st_size) : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void *data)
    {
        return sf_count_t(::lseek(self(data).file->fd(), off_t(offset), whence));
    }
    static sf_count_t read(void *ptr, sf_count_t count, void *data)
    {
        for (;;) {
            const ssize_t got = ::read(self(data).file->fd(), ptr, std::size_t(count));
            if (got >= 0 || errno != EINTR)
                return got < 0 ? 0 : sf_count_t(got);
        }
    }
    static sf_count_t write(const void *ptr, sf_count_t count, void *data)
    {
        return self(data).file->write(ptr, count) ? count : 0;
    }
    static sf_count_t tell(void *data) { return sf_count_t(::lseek(self(data).file->fd(), 0, SEEK_CUR)); }
    static SoundFile &self(void *data) { return *static_cast<SoundFile *>(data); }
};

AudioFileWriter::AudioFileWriter(const QString &path, AudioFormat format, const AudioTags &tags, int sampleRate,
                                 int channels)
    : m_file(std::make_unique<AtomicFileWriter>(path)), m_sound(std::make_unique<SoundFile>()), m_channels(channels)
{
    if (m_file->errorNumber() != 0 || m_file->fd() < 0) {
        failWith(m_file->errorNumber(), std::strerror(m_file->errorNumber()));
        return;
    }
    m_sound->file = m_file.get();
    m_sound->io = {&SoundFile::length, &SoundFile::seek, &SoundFile::read, &SoundFile::write, &SoundFile::tell};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    switch (format) {
    case AudioFormat::Wav: info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16; break;
    case AudioFormat::Flac: info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16; break;
    case AudioFormat::Ogg: info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS; break;
    }
    m_sound->handle = sf_open_virtual(&m_sound->io, SFM_WRITE, &info, m_sound.get());
    if (!m_sound->handle) {
        failWith(m_file->errorNumber(), sf_strerror(nullptr));
        return;
    }
    if (format == AudioFormat::Ogg) {
        // Vorbis quality 5 of 10: about 160 kbit/s for a stereo song, transparent for most ears.
        double quality = 0.5;
        sf_command(m_sound->handle, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    const QByteArray title = tags.title.toUtf8();
    const QByteArray artist = tags.artist.toUtf8();
    if (!title.isEmpty())
        sf_set_string(m_sound->handle, SF_STR_TITLE, title.constData());
    if (!artist.isEmpty())
        sf_set_string(m_sound->handle, SF_STR_ARTIST, artist.constData());
    sf_set_string(m_sound->handle, SF_STR_SOFTWARE, "Tonelark");
}

AudioFileWriter::~AudioFileWriter()
{
    discard();
}

bool AudioFileWriter::write(const std::int16_t *interleaved, std::int64_t frames)
{
    if (m_failed)
        return false;
    if (sf_writef_short(m_sound->handle, interleaved, sf_count_t(frames)) != sf_count_t(frames)
        || m_file->errorNumber() != 0) {
        failWith(m_file->errorNumber(), sf_strerror(m_sound->handle));
        return false;
    }
    return true;
}

bool AudioFileWriter::commit()
{
    if (m_failed) {
        discard();
        return false;
    }
    // The close writes the last encoded blocks and the final header: its failure counts.
    const int closed = sf_close(m_sound->handle);
    m_sound->handle = nullptr;
    if (closed != 0 || m_file->errorNumber() != 0) {
        failWith(m_file->errorNumber(), sf_error_number(closed));
        discard();
        return false;
    }
    if (m_file->commit()) {
        failWith(m_file->errorNumber(), std::strerror(m_file->errorNumber()));
        return false;
    }
    return true;
}

void AudioFileWriter::discard()
{
    if (m_sound && m_sound->handle) {
        sf_close(m_sound->handle);
        m_sound->handle = nullptr;
    }
    if (m_file)
        m_file->discard();
}

void AudioFileWriter::failWith(int errorNumber, const std::string &detail)
{
    if (m_failed)
        return;
    m_failed = true;
    m_errorNumber = errorNumber;
    m_detail = detail;
}

QString AudioFileWriter::errorText() const
{
    if (m_errorNumber != 0)
        return systemErrorText(m_errorNumber);
    return QStringLiteral("音声ファイルを書き出せません (%1)。").arg(QString::fromStdString(m_detail));
}

std::string AudioFileWriter::errorDetail() const
{
    return m_errorNumber != 0 ? std::string(std::strerror(m_errorNumber)) : m_detail;
}

} // namespace tonelark
