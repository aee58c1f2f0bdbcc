#pragma once

#include "Engine.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

namespace tonelark::test {

// An engine that records every call as text ("play(1,480)") and answers the polls with
// whatever the test set last.
class FakeEngine final : public Engine {
public:
    QStringList calls;
    TBrs4PlayerStatus nextStatus{};
    TBrs4SmfInformation nextInfo{};
    QByteArray registered;
    std::int32_t addListResult = BRSERROR_NOERROR; // what addListFromMemory answers
    std::function<void()> duringAddList;           // runs inside addListFromMemory
    std::int32_t soundFontResult = BRSERROR_NOERROR; // what setSoundFont answers
    std::optional<std::int32_t> lateSoundFontResult; // its outcome told later, once
    bool isReady = true;
    QStringList ports;                               // midiOutputPorts()
    // What the output polls answer (not recorded in `calls`: they run on a timer).
    TBrs4OutputStatus output{BRSSERVER_NOTUSED, 0, 0, 0};
    QString refused;     // refusedSoundFont()
    QString inUse;       // soundFontInUse()

    void setStatus(TBrsPlayerState state, std::int32_t tick, std::int32_t timeMs)
    {
        nextStatus.State = state;
        nextStatus.Tick = tick;
        nextStatus.Time = timeMs;
    }
    void setTotals(std::int32_t totalTick, std::int32_t totalTime, std::int32_t loopTick = -1,
                   std::int32_t loopTime = -1)
    {
        nextInfo.TotalTick = totalTick;
        nextInfo.TotalTime = totalTime;
        nextInfo.LoopTick = loopTick;
        nextInfo.LoopTime = loopTime;
    }

    std::int32_t openDevice(std::int32_t deviceId) override { return record(QStringLiteral("openDevice(%1)").arg(deviceId)); }
    std::int32_t setSoundFont(const QString &path) override
    {
        calls << QStringLiteral("setSoundFont(%1)").arg(path);
        return soundFontResult;
    }
    std::optional<std::int32_t> takeLateSoundFontResult() override { return std::exchange(lateSoundFontResult, {}); }
    bool ready() override { return isReady; }
    QStringList midiOutputPorts() override { return ports; }
    std::int32_t setKeyShift(std::int32_t semitones) override
    {
        return record(QStringLiteral("setKeyShift(%1)").arg(semitones));
    }
    std::int32_t setTempoRatio(std::int32_t percent) override
    {
        return record(QStringLiteral("setTempoRatio(%1)").arg(percent));
    }
    std::int32_t repeatResult = BRSERROR_NOERROR; // what setRepeat answers
    std::int32_t setRepeat(std::int32_t startTick, std::int32_t endTick) override
    {
        calls << QStringLiteral("setRepeat(%1,%2)").arg(startTick).arg(endTick);
        return repeatResult;
    }
    std::int32_t setChannelMute(std::int32_t channel, bool muted) override
    {
        return record(QStringLiteral("setChannelMute(%1,%2)").arg(channel).arg(int(muted)));
    }
    std::int32_t setChannelSolo(std::int32_t channel, bool soloed) override
    {
        return record(QStringLiteral("setChannelSolo(%1,%2)").arg(channel).arg(int(soloed)));
    }
    std::int32_t setChannelLevel(std::int32_t channel, std::int32_t percent) override
    {
        return record(QStringLiteral("setChannelLevel(%1,%2)").arg(channel).arg(percent));
    }
    TBrs4ChannelStatus channels[16] = {}; // what channelStatus() answers
    void channelStatus(TBrs4ChannelStatus (&out)[16]) override
    {
        for (int ch = 0; ch < 16; ++ch)
            out[ch] = channels[ch];
    }
    std::int32_t closeDevice() override { return record(QStringLiteral("closeDevice()")); }
    std::int32_t clearList() override
    {
        registered.clear();
        return record(QStringLiteral("clearList()"));
    }
    std::int32_t addListFromMemory(const QByteArray &smf) override
    {
        record(QStringLiteral("addListFromMemory(%1)").arg(smf.size()));
        if (duringAddList)
            duringAddList();
        if (addListResult != BRSERROR_NOERROR)
            return addListResult;
        registered = smf;
        return BRSERROR_NOERROR;
    }
    std::int32_t play(std::int32_t option, std::int32_t startTick) override
    {
        return record(QStringLiteral("play(%1,%2)").arg(option).arg(startTick));
    }
    std::int32_t pause() override { return record(QStringLiteral("pause()")); }
    std::int32_t stop() override { return record(QStringLiteral("stop()")); }
    std::int32_t setMasterVolume(std::int32_t volume) override
    {
        return record(QStringLiteral("setMasterVolume(%1)").arg(volume));
    }
    TBrs4PlayerStatus status() override
    {
        calls << QStringLiteral("status()");
        return nextStatus;
    }
    TBrs4SmfInformation info() override
    {
        calls << QStringLiteral("info()");
        return nextInfo;
    }
    TBrs4OutputStatus outputStatus() override { return output; }
    QString refusedSoundFont() override { return refused; }
    QString soundFontInUse() override { return inUse; }
    void setServer(std::int32_t server)
    {
        output.Server = server;
        ++output.ServerChanges;
    }

private:
    std::int32_t record(const QString &call)
    {
        calls << call;
        return BRSERROR_NOERROR;
    }
};

} // namespace tonelark::test
