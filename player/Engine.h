#pragma once

#include "Brisola.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace tonelark {

// The window's access to the playback engine: the ten C functions, one method each, with
// the reserved arguments left out. Results are the engine's error codes; the window does
// not act on them. Tests substitute a recording fake.
class Engine {
public:
    virtual ~Engine() = default;

    // Output goes to the device from now on (-1100 the built-in synthesizer, 0..N-1 ports).
    // May return before the device is open; meanwhile every other call goes on and a Play
    // sounds once it is open.
    virtual std::int32_t openDevice(std::int32_t deviceId) = 0;
    // Whether calls answer now, without waiting for the engine to load.
    virtual bool ready() { return true; }
    // Whether an open is still under way.
    virtual bool deviceOpening() { return false; }
    // The SoundFont the next openDevice(-1100) loads (empty: the system's); a file that does
    // not load is refused and the previous choice kept.
    virtual std::int32_t setSoundFont(const QString &path)
    {
        (void)path;
        return BRSERROR_NOERROR;
    }
    // setSoundFont's outcome where that call answered before the engine had checked the font
    // (so that the window's start need not wait for it): once, when known.
    virtual std::optional<std::int32_t> takeLateSoundFontResult() { return std::nullopt; }
    // Semitones every melodic note is moved by (-12..12) and the share of the song's tempo
    // played (50..200 per cent). Any time, on any device; the engine keeps both across songs
    // and devices. Out of range: BRSERROR_FAILED and the value kept.
    virtual std::int32_t setKeyShift(std::int32_t semitones)
    {
        (void)semitones;
        return BRSERROR_NOERROR;
    }
    virtual std::int32_t setTempoRatio(std::int32_t percent)
    {
        (void)percent;
        return BRSERROR_NOERROR;
    }
    // The channel mixer (channels 0..15): a silenced channel sends no note-ons; the level is
    // 0..100 per cent of its volume. Kept by the engine across songs, devices and seeks.
    virtual std::int32_t setChannelMute(std::int32_t channel, bool muted)
    {
        (void)channel;
        (void)muted;
        return BRSERROR_NOERROR;
    }
    virtual std::int32_t setChannelSolo(std::int32_t channel, bool soloed)
    {
        (void)channel;
        (void)soloed;
        return BRSERROR_NOERROR;
    }
    virtual std::int32_t setChannelLevel(std::int32_t channel, std::int32_t percent)
    {
        (void)channel;
        (void)percent;
        return BRSERROR_NOERROR;
    }
    // The A–B repeat in ticks: play goes on from A on reaching B; (-1, -1) clears it, and a
    // new song does. A range the engine cannot hold (B not after A, past the end, under
    // 10 ms): BRSERROR_FAILED and nothing changed.
    virtual std::int32_t setRepeat(std::int32_t startTick, std::int32_t endTick)
    {
        (void)startTick;
        (void)endTick;
        return BRSERROR_NOERROR;
    }
    // What the mixer's meters show of the 16 channels (zeros when the engine tells nothing).
    virtual void channelStatus(TBrs4ChannelStatus (&channels)[16])
    {
        for (auto &c : channels)
            c = {};
    }
    virtual std::int32_t closeDevice() = 0;
    // Afterwards no song is registered.
    virtual std::int32_t clearList() = 0;
    // Registers an SMF image. The engine may read the bytes until the next clearList(),
    // so the caller keeps them alive and unchanged until then.
    virtual std::int32_t addListFromMemory(const QByteArray &smf) = 0;
    // Plays from startTick (0 the beginning) with the option word (BRSPLAY_* bits).
    virtual std::int32_t play(std::int32_t option, std::int32_t startTick) = 0;
    virtual std::int32_t pause() = 0;
    virtual std::int32_t stop() = 0;
    // -127 silences the output (mute mode).
    virtual std::int32_t setMasterVolume(std::int32_t volume) = 0;
    // The polls of the playback monitor: position and state, and the song's totals.
    virtual TBrs4PlayerStatus status() = 0;
    virtual TBrs4SmfInformation info() = 0;

    // What the settings dialog shows of the engine; none of it changes playback.
    // The MIDI output port names in the order of device ids 0..N-1, listed now.
    virtual QStringList midiOutputPorts() { return {}; }
    // The engine library's file as it is loaded into this process (empty when unknown).
    virtual QString libraryFileName() { return {}; }
    // The synthesizer of device -1100 with its version, and the SoundFont it uses.
    virtual QString synthVersion() { return {}; }
    virtual QString soundFontInUse() { return {}; }
    // What the output went through (the sound server gone and back, SoundFonts refused), and
    // the SoundFont last refused as damaged with the one used instead, one per line; polled
    // for the info area's notices.
    virtual TBrs4OutputStatus outputStatus() { return {BRSSERVER_NOTUSED, 0, 0, 0}; }
    virtual QString refusedSoundFont() { return {}; }
};

} // namespace tonelark
