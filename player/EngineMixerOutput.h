#pragma once

#include "ChannelMixer.h"
#include "Engine.h"

namespace tonelark {

// The mixer's decisions as engine calls. In mute mode ("静寂") the master volume stays fully
// down whatever the slider says.
class EngineMixerOutput final : public MixerOutput {
public:
    EngineMixerOutput(Engine &engine, bool muteMode) : m_engine(engine), m_muteMode(muteMode) {}
    void setChannelMute(int channel, bool muted) override { m_engine.setChannelMute(channel, muted); }
    void setChannelSolo(int channel, bool soloed) override { m_engine.setChannelSolo(channel, soloed); }
    void setChannelLevel(int channel, int percent) override { m_engine.setChannelLevel(channel, percent); }
    void setMasterVolume(int percent) override
    {
        m_engine.setMasterVolume(m_muteMode ? -127 : ChannelMixer::engineVolumeOfPercent(percent));
    }

private:
    Engine &m_engine;
    bool m_muteMode;
};

} // namespace tonelark
