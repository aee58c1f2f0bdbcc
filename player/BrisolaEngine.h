#pragma once

#include "Engine.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tonelark {

// The real engine: forwards each call to libbrisola4. The library, with the synthesizer and
// the sound servers' libraries behind it, is loaded on a thread of its own, so the window is
// built meanwhile instead of waiting for the dynamic loader; a call waits for the load only if
// it comes first.
class BrisolaEngine final : public Engine {
public:
    // What main() knows of the settings before the window exists: the device is then opened as
    // soon as the library is in, and the window's own setSoundFont/openDevice with these values
    // take those outcomes instead of starting over.
    struct EarlyOpen {
        std::int32_t deviceId = 0;
        QString soundFont;   // empty: none set
    };

    // Loads the library on a thread of its own once startLoading() or a call that needs an
    // answer comes.
    BrisolaEngine();
    ~BrisolaEngine() override;
    // Before any other call: once loaded, the library sets this SoundFont and opens this device.
    void openEarly(EarlyOpen early);
    // Lets the load begin (main() calls it once the window is on screen: before then the
    // dynamic loader's lock would hold up the window's own plugins and fonts).
    void startLoading();
    BrisolaEngine(const BrisolaEngine &) = delete;
    BrisolaEngine &operator=(const BrisolaEngine &) = delete;

    // Returns at once; the device opens in the background.
    std::int32_t openDevice(std::int32_t deviceId) override;
    bool ready() override;
    bool deviceOpening() override;
    // Before the library is in, the SoundFont given to openEarly() answers at once with
    // BRSERROR_NOERROR; its outcome comes through takeLateSoundFontResult().
    std::int32_t setSoundFont(const QString &path) override;
    std::optional<std::int32_t> takeLateSoundFontResult() override;
    // The settings (key, tempo, volume, mixer) sent before the library is in answer at once and
    // reach it, in their order, before any later call.
    std::int32_t setKeyShift(std::int32_t semitones) override;
    std::int32_t setTempoRatio(std::int32_t percent) override;
    std::int32_t setRepeat(std::int32_t startTick, std::int32_t endTick) override;
    std::int32_t setChannelMute(std::int32_t channel, bool muted) override;
    std::int32_t setChannelSolo(std::int32_t channel, bool soloed) override;
    std::int32_t setChannelLevel(std::int32_t channel, std::int32_t percent) override;
    void channelStatus(TBrs4ChannelStatus (&channels)[16]) override;
    std::int32_t closeDevice() override;
    std::int32_t clearList() override;
    std::int32_t addListFromMemory(const QByteArray &smf) override;
    std::int32_t play(std::int32_t option, std::int32_t startTick) override;
    std::int32_t pause() override;
    std::int32_t stop() override;
    std::int32_t setMasterVolume(std::int32_t volume) override;
    TBrs4PlayerStatus status() override;
    TBrs4SmfInformation info() override;
    QStringList midiOutputPorts() override;
    QString libraryFileName() override;
    QString synthVersion() override;
    QString soundFontInUse() override;
    TBrs4OutputStatus outputStatus() override;
    QString refusedSoundFont() override;

    struct Api;

private:
    void load();
    // Keeps `call` for the loading thread while the library is not in yet; false once it is.
    bool deferWhileLoading(std::function<void(const Api &)> call);
    // The library's functions once loaded, null when it could not be; waits for the load.
    const Api *api();

    std::unique_ptr<Api> m_api;
    std::optional<EarlyOpen> m_early;
    std::int32_t m_earlySoundFontResult = BRSERROR_NOERROR;
    std::int32_t m_earlyOpenResult = BRSERROR_NOERROR;
    bool m_earlySoundFontTaken = false;
    bool m_earlyOpenTaken = false;
    bool m_lateSoundFontResultWanted = false;
    std::vector<std::function<void(const Api &)>> m_deferred;
    std::mutex m_mutex;
    std::condition_variable m_loaded;
    std::condition_variable m_decided;
    bool m_earlyDecided = false;   // openEarly() or another call came
    bool m_go = false;             // startLoading() or a call that needs an answer came
    bool m_done = false;
    std::thread m_loader;
};

} // namespace tonelark
