#pragma once

#include "Engine.h"

namespace tonelark {

// The real engine: forwards each call to libbrisola4.
class BrisolaEngine final : public Engine {
public:
    // Returns at once; the device opens in the background.
    std::int32_t openDevice(std::int32_t deviceId) override;
    bool deviceOpening() override;
    std::int32_t setSoundFont(const QString &path) override;
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
};

} // namespace tonelark
