#pragma once

#include "Brisola.h"
#include "Settings.h"

#include <QtGlobal>

// The transport commands as engine calls. It owns CurrentPlayOption, the option word the
// last Play command composed; every other play call of the program passes that same word,
// so changed settings reach the engine only at the next Play.
namespace tonelark {

class Engine;
class TSmfEventTempoList;

// The play option word that the settings give. Manual mode (SettingMode 0) builds it from
// the four play settings; the RPG mode (1) always loops; any other mode keeps `previous`.
qint32 composePlayOption(const Settings &settings, qint32 previous);

// What the Play command reads from the window: the state of the last monitor poll and the
// seek bar's value, for a resume from pause.
struct PlayContext {
    TBrsPlayerState state = BRSSTATE_STOP;
    qint32 progress = 0;                            // gaugePlayback's value
    const TSmfEventTempoList *tempoList = nullptr;  // CurrentTempoList, may be absent
};

class Transport {
public:
    // `settings` and `muteMode` are read at each command, so the settings dialog's changes
    // take effect at the next Play.
    Transport(Engine &engine, const Settings &settings, const bool &muteMode);

    qint32 currentPlayOption() const { return m_currentPlayOption; }

    // The Play command: master volume down in mute mode, the option word composed, then a
    // start from tick 0 unless the engine is paused; a paused song resumes from the seek
    // bar's value (ticks, or milliseconds through the tempo map in time base).
    void play(const PlayContext &context);
    // The Pause command.
    void pause();
    // The Stop command: a play from tick 0 with the last option word, then stop, so a
    // stopped song shows its beginning.
    void stop();
    // Plays from `tick` with the last option word (beginning, loop point, seeks).
    void playFrom(qint32 tick);

private:
    Engine &m_engine;
    const Settings &m_settings;
    const bool &m_muteMode;
    qint32 m_currentPlayOption = 0;
};

} // namespace tonelark
