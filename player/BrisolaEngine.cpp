#include "BrisolaEngine.h"

#include <limits>

namespace tonelark {

std::int32_t BrisolaEngine::openDevice(std::int32_t deviceId)
{
    // The engine needs no window: nothing of it is posted to the window.
    return BRS4OpenDevice(deviceId, nullptr);
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

} // namespace tonelark
