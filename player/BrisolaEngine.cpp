#include "BrisolaEngine.h"

#include "FileNames.h"

#include <QByteArray>

#include <dlfcn.h>

#include <limits>

namespace tonelark {

std::int32_t BrisolaEngine::openDevice(std::int32_t deviceId)
{
    // The window never waits for the sound device (a stalled server answers after seconds):
    // the engine opens it in the background, lets every other call through meanwhile and
    // holds the song's clock until it is open, so a Play before then sounds from its start.
    return BRS4OpenDeviceInBackground(deviceId);
}

bool BrisolaEngine::deviceOpening()
{
    return BRS4IsDeviceOpening() == 1;
}

std::int32_t BrisolaEngine::setSoundFont(const QString &path)
{
    return BRS4SetSoundFont(path.toUtf8().constData());
}

std::int32_t BrisolaEngine::setKeyShift(std::int32_t semitones)
{
    return BRS4SetKeyShift(semitones);
}

std::int32_t BrisolaEngine::setTempoRatio(std::int32_t percent)
{
    return BRS4SetTempoRatio(percent);
}

std::int32_t BrisolaEngine::setRepeat(std::int32_t startTick, std::int32_t endTick)
{
    return BRS4SetRepeat(startTick, endTick);
}

std::int32_t BrisolaEngine::setChannelMute(std::int32_t channel, bool muted)
{
    return BRS4SetChannelMute(channel, muted ? 1 : 0);
}

std::int32_t BrisolaEngine::setChannelSolo(std::int32_t channel, bool soloed)
{
    return BRS4SetChannelSolo(channel, soloed ? 1 : 0);
}

std::int32_t BrisolaEngine::setChannelLevel(std::int32_t channel, std::int32_t percent)
{
    return BRS4SetChannelLevel(channel, percent);
}

void BrisolaEngine::channelStatus(TBrs4ChannelStatus (&channels)[16])
{
    BRS4GetChannelStatus(channels, 16);
}

std::int32_t BrisolaEngine::closeDevice()
{
    return BRS4CloseDevice();
}

std::int32_t BrisolaEngine::clearList()
{
    return BRS4ClearList();
}

std::int32_t BrisolaEngine::addListFromMemory(const QByteArray &smf)
{
    // The engine counts bytes in 32 bits; a larger image is refused rather than cut short.
    if (smf.size() > std::numeric_limits<std::int32_t>::max())
        return BRSERROR_BADFILESIZE;
    return BRS4AddListFromMemory(smf.constData(), static_cast<std::int32_t>(smf.size()), 0, 0);
}

std::int32_t BrisolaEngine::play(std::int32_t option, std::int32_t startTick)
{
    return BRS4Play(option, 0, startTick, 0, 0);
}

std::int32_t BrisolaEngine::pause()
{
    return BRS4Pause();
}

std::int32_t BrisolaEngine::stop()
{
    return BRS4Stop(0);
}

std::int32_t BrisolaEngine::setMasterVolume(std::int32_t volume)
{
    return BRS4SetMasterVolume(volume);
}

TBrs4PlayerStatus BrisolaEngine::status()
{
    TBrs4PlayerStatus status{};
    BRS4GetPlayerStatus(&status, sizeof status);
    return status;
}

TBrs4SmfInformation BrisolaEngine::info()
{
    TBrs4SmfInformation info{};
    BRS4GetSmfInformation(&info, sizeof info, 0);
    return info;
}

namespace {

// One of the engine's text answers, asked again with room enough when the first buffer was
// too small (the text may have grown between the two calls: a port plugged in).
template <typename F>
QString engineText(F &&call)
{
    QByteArray buffer(1024, '\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::int32_t needed = call(buffer.data(), std::int32_t(buffer.size()));
        if (needed <= 0)
            return {};
        if (needed <= buffer.size())
            return QString::fromUtf8(buffer.constData());
        buffer.resize(needed);
    }
    return QString::fromUtf8(buffer.constData());
}

} // namespace

QStringList BrisolaEngine::midiOutputPorts()
{
    QStringList names = engineText(BRS4GetMidiOutDevNames).split(QLatin1Char('\n'));
    names.removeLast(); // every name ends its line
    return names;
}

QString BrisolaEngine::libraryFileName()
{
    // The file this process really loaded, wherever the library search found it.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&BRS4OpenDevice), &info) == 0 || !info.dli_fname)
        return {};
    return decodeFileName(QByteArray(info.dli_fname));
}

QString BrisolaEngine::synthVersion()
{
    return engineText(BRS4GetSynthVersion);
}

QString BrisolaEngine::soundFontInUse()
{
    return engineText(BRS4GetSoundFont);
}

TBrs4OutputStatus BrisolaEngine::outputStatus()
{
    TBrs4OutputStatus status{};
    BRS4GetOutputStatus(&status, sizeof status);
    return status;
}

QString BrisolaEngine::refusedSoundFont()
{
    return engineText(BRS4GetRefusedSoundFont);
}

} // namespace tonelark
