#include "BrisolaEngine.h"

#include "DynamicLibrary.h"
#include "FileNames.h"
#include "KeyTempo.h"

#include <QByteArray>

#include <dlfcn.h>

#include <cstdio>
#include <limits>
#include <type_traits>

namespace tonelark {

namespace {

constexpr char kEngineLibraryName[] = "libbrisola4.so.4";

} // namespace

// Every function the window uses, by the declarations of Brisola.h (decltype needs no link).
#define TONELARK_ENGINE_FUNCTIONS(X)                                                               \
    X(BRS4OpenDevice)                                                                              \
    X(BRS4OpenDeviceInBackground)                                                                  \
    X(BRS4IsDeviceOpening)                                                                         \
    X(BRS4CloseDevice)                                                                             \
    X(BRS4ClearList)                                                                               \
    X(BRS4AddListFromMemory)                                                                       \
    X(BRS4Play)                                                                                    \
    X(BRS4Pause)                                                                                   \
    X(BRS4Stop)                                                                                    \
    X(BRS4SetMasterVolume)                                                                         \
    X(BRS4SetSoundFont)                                                                            \
    X(BRS4SetKeyShift)                                                                             \
    X(BRS4SetTempoRatio)                                                                           \
    X(BRS4SetRepeat)                                                                               \
    X(BRS4SetChannelMute)                                                                          \
    X(BRS4SetChannelSolo)                                                                          \
    X(BRS4SetChannelLevel)                                                                         \
    X(BRS4GetChannelStatus)                                                                        \
    X(BRS4GetPlayerStatus)                                                                         \
    X(BRS4GetSmfInformation)                                                                       \
    X(BRS4GetOutputStatus)                                                                         \
    X(BRS4GetMidiOutDevNames)                                                                      \
    X(BRS4GetSynthVersion)                                                                         \
    X(BRS4GetSoundFont)                                                                            \
    X(BRS4GetRefusedSoundFont)

struct BrisolaEngine::Api {
    DynamicLibrary library;
#define TONELARK_ENGINE_POINTER(name) decltype(&::name) name = nullptr;
    TONELARK_ENGINE_FUNCTIONS(TONELARK_ENGINE_POINTER)
#undef TONELARK_ENGINE_POINTER
};

BrisolaEngine::BrisolaEngine() : m_loader([this] { load(); }) {}

BrisolaEngine::~BrisolaEngine()
{
    api();
    m_loader.join();
    // Never unloaded: threads of the library's own (the sound server's watcher, a device still
    // opening) may outlive this object until the process ends.
    const std::lock_guard lock(m_mutex);
    if (m_api)
        m_api->library.leaveLoaded();
}

void BrisolaEngine::openEarly(EarlyOpen early)
{
    const std::lock_guard lock(m_mutex);
    if (m_earlyDecided)
        return;
    m_early = std::move(early);
    m_earlyDecided = true;
    m_decided.notify_all();
}

void BrisolaEngine::startLoading()
{
    const std::lock_guard lock(m_mutex);
    m_go = true;
    m_decided.notify_all();
}

void BrisolaEngine::load()
{
    {
        std::unique_lock lock(m_mutex);
        m_decided.wait(lock, [this] { return m_go; });
    }
    auto api = std::make_unique<Api>();
    QStringList errors;
    QString error;
    if (openFirst(api->library, besideProgramFirst(QString::fromLatin1(kEngineLibraryName)), &errors)) {
#define TONELARK_ENGINE_RESOLVE(name)                                                              \
    if (error.isEmpty() && !(api->name = api->library.function<std::remove_pointer_t<decltype(api->name)>>(#name))) \
        error = api->library.errorString();
        TONELARK_ENGINE_FUNCTIONS(TONELARK_ENGINE_RESOLVE)
#undef TONELARK_ENGINE_RESOLVE
    } else {
        error = errors.join(QStringLiteral("; "));
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "Tonelark: the playback engine cannot be loaded: %s\n", error.toLocal8Bit().constData());
        api.reset();
    }
    std::optional<EarlyOpen> early;
    {
        std::unique_lock lock(m_mutex);
        m_decided.wait(lock, [this] { return m_earlyDecided; });
        early = m_early;
    }
    std::int32_t soundFontResult = BRSERROR_NOERROR;
    std::int32_t openResult = BRSERROR_API_NULL;
    if (api && early) {
        if (!early->soundFont.isEmpty())
            soundFontResult = api->BRS4SetSoundFont(early->soundFont.toUtf8().constData());
        openResult = api->BRS4OpenDeviceInBackground(early->deviceId);
    }
    // Settings sent meanwhile reach the library before any call that waited for it.
    std::vector<std::function<void(const Api &)>> deferred;
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            deferred.swap(m_deferred);
            if (deferred.empty()) {
                m_api = std::move(api);
                m_earlySoundFontResult = soundFontResult;
                m_earlyOpenResult = openResult;
                m_done = true;
                m_loaded.notify_all();
                return;
            }
        }
        if (api) {
            for (const auto &call : deferred)
                call(*api);
        }
        deferred.clear();
    }
}

bool BrisolaEngine::deferWhileLoading(std::function<void(const Api &)> call)
{
    const std::lock_guard lock(m_mutex);
    if (m_done)
        return false;
    m_deferred.push_back(std::move(call));
    return true;
}

const BrisolaEngine::Api *BrisolaEngine::api()
{
    std::unique_lock lock(m_mutex);
    if (!m_earlyDecided || !m_go) {
        // A call before openEarly(): there is to be none; a call needs the library now.
        m_earlyDecided = true;
        m_go = true;
        m_decided.notify_all();
    }
    m_loaded.wait(lock, [this] { return m_done; });
    return m_api.get();
}

std::int32_t BrisolaEngine::openDevice(std::int32_t deviceId)
{
    {
        // The early open answers at once, with its outcome once the library is in: the device
        // is opened in the background either way.
        const std::lock_guard lock(m_mutex);
        const bool early = m_early && !m_earlyOpenTaken && m_early->deviceId == deviceId;
        m_earlyOpenTaken = true;
        if (early)
            return m_done ? m_earlyOpenResult : BRSERROR_NOERROR;
    }
    const Api *engine = api();
    if (!engine)
        return BRSERROR_API_NULL;
    // The window never waits for the sound device (a stalled server answers after seconds):
    // the engine opens it in the background, lets every other call through meanwhile and
    // holds the song's clock until it is open, so a Play before then sounds from its start.
    return engine->BRS4OpenDeviceInBackground(deviceId);
}

bool BrisolaEngine::ready()
{
    const std::lock_guard lock(m_mutex);
    return m_done;
}

bool BrisolaEngine::deviceOpening()
{
    const Api *engine = api();
    return engine && engine->BRS4IsDeviceOpening() == 1;
}

std::int32_t BrisolaEngine::setSoundFont(const QString &path)
{
    {
        // The loading thread checks the early SoundFont (a real load: tens of milliseconds, more
        // for a large font): the window does not wait for that, it hears the outcome later.
        const std::lock_guard lock(m_mutex);
        if (m_early && !m_earlySoundFontTaken && !m_earlyOpenTaken && m_early->soundFont == path) {
            m_earlySoundFontTaken = true;
            if (m_done)
                return m_earlySoundFontResult;
            m_lateSoundFontResultWanted = true;
            return BRSERROR_NOERROR;
        }
        m_earlySoundFontTaken = true;
    }
    const Api *engine = api();
    if (!engine)
        return BRSERROR_API_NULL;
    return engine->BRS4SetSoundFont(path.toUtf8().constData());
}

std::optional<std::int32_t> BrisolaEngine::takeLateSoundFontResult()
{
    const std::lock_guard lock(m_mutex);
    if (!m_lateSoundFontResultWanted || !m_done)
        return std::nullopt;
    m_lateSoundFontResultWanted = false;
    return m_earlySoundFontResult;
}

// A call of the library's, or `failed` without it.
#define TONELARK_ENGINE_CALL(failed, call)                                                         \
    const Api *engine = api();                                                                     \
    if (!engine)                                                                                   \
        return failed;                                                                             \
    return engine->call

// A setting: refused as the engine refuses it, kept for the library while it loads (the
// window's start sends the stored ones), else sent.
#define TONELARK_ENGINE_SETTING(valid, call)                                                       \
    if (!(valid))                                                                                  \
        return BRSERROR_FAILED;                                                                    \
    if (deferWhileLoading([=](const Api &loaded) { loaded.call; }))                                \
        return BRSERROR_NOERROR;                                                                   \
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, call)

std::int32_t BrisolaEngine::setKeyShift(std::int32_t semitones)
{
    TONELARK_ENGINE_SETTING(semitones >= KeyTempo::kMinKey && semitones <= KeyTempo::kMaxKey,
                            BRS4SetKeyShift(semitones));
}

std::int32_t BrisolaEngine::setTempoRatio(std::int32_t percent)
{
    TONELARK_ENGINE_SETTING(percent >= KeyTempo::kMinTempo && percent <= KeyTempo::kMaxTempo,
                            BRS4SetTempoRatio(percent));
}

std::int32_t BrisolaEngine::setRepeat(std::int32_t startTick, std::int32_t endTick)
{
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, BRS4SetRepeat(startTick, endTick));
}

std::int32_t BrisolaEngine::setChannelMute(std::int32_t channel, bool muted)
{
    TONELARK_ENGINE_SETTING(channel >= 0 && channel <= 15, BRS4SetChannelMute(channel, muted ? 1 : 0));
}

std::int32_t BrisolaEngine::setChannelSolo(std::int32_t channel, bool soloed)
{
    TONELARK_ENGINE_SETTING(channel >= 0 && channel <= 15, BRS4SetChannelSolo(channel, soloed ? 1 : 0));
}

std::int32_t BrisolaEngine::setChannelLevel(std::int32_t channel, std::int32_t percent)
{
    TONELARK_ENGINE_SETTING(channel >= 0 && channel <= 15, BRS4SetChannelLevel(channel, percent));
}

void BrisolaEngine::channelStatus(TBrs4ChannelStatus (&channels)[16])
{
    if (const Api *engine = api())
        engine->BRS4GetChannelStatus(channels, 16);
}

std::int32_t BrisolaEngine::closeDevice()
{
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, BRS4CloseDevice());
}

std::int32_t BrisolaEngine::clearList()
{
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, BRS4ClearList());
}

std::int32_t BrisolaEngine::addListFromMemory(const QByteArray &smf)
{
    // The engine counts bytes in 32 bits; a larger image is refused rather than cut short.
    if (smf.size() > std::numeric_limits<std::int32_t>::max())
        return BRSERROR_BADFILESIZE;
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL,
                         BRS4AddListFromMemory(smf.constData(), static_cast<std::int32_t>(smf.size()), 0, 0));
}

std::int32_t BrisolaEngine::play(std::int32_t option, std::int32_t startTick)
{
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, BRS4Play(option, 0, startTick, 0, 0));
}

std::int32_t BrisolaEngine::pause()
{
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, BRS4Pause());
}

std::int32_t BrisolaEngine::stop()
{
    TONELARK_ENGINE_CALL(BRSERROR_API_NULL, BRS4Stop(0));
}

std::int32_t BrisolaEngine::setMasterVolume(std::int32_t volume)
{
    TONELARK_ENGINE_SETTING(true, BRS4SetMasterVolume(volume));
}

#undef TONELARK_ENGINE_SETTING
#undef TONELARK_ENGINE_CALL

TBrs4PlayerStatus BrisolaEngine::status()
{
    TBrs4PlayerStatus status{};
    if (const Api *engine = api())
        engine->BRS4GetPlayerStatus(&status, sizeof status);
    return status;
}

TBrs4SmfInformation BrisolaEngine::info()
{
    TBrs4SmfInformation info{};
    if (const Api *engine = api())
        engine->BRS4GetSmfInformation(&info, sizeof info, 0);
    return info;
}

namespace {

// One of the engine's text answers, asked again with room enough when the first buffer was
// too small (the text may have grown between the two calls: a port plugged in).
template <typename F>
QString engineText(F call)
{
    if (!call)
        return {};
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
    const Api *engine = api();
    if (!engine)
        return {};
    QStringList names = engineText(engine->BRS4GetMidiOutDevNames).split(QLatin1Char('\n'));
    names.removeLast(); // every name ends its line
    return names;
}

QString BrisolaEngine::libraryFileName()
{
    const Api *engine = api();
    if (!engine)
        return {};
    // The file this process really loaded, wherever the library search found it.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(engine->BRS4OpenDevice), &info) == 0 || !info.dli_fname)
        return {};
    return decodeFileName(QByteArray(info.dli_fname));
}

QString BrisolaEngine::synthVersion()
{
    const Api *engine = api();
    return engine ? engineText(engine->BRS4GetSynthVersion) : QString();
}

QString BrisolaEngine::soundFontInUse()
{
    const Api *engine = api();
    return engine ? engineText(engine->BRS4GetSoundFont) : QString();
}

TBrs4OutputStatus BrisolaEngine::outputStatus()
{
    TBrs4OutputStatus status{};
    if (const Api *engine = api())
        engine->BRS4GetOutputStatus(&status, sizeof status);
    return status;
}

QString BrisolaEngine::refusedSoundFont()
{
    const Api *engine = api();
    return engine ? engineText(engine->BRS4GetRefusedSoundFont) : QString();
}

} // namespace tonelark
