#pragma once

#include "Brisola.h"
#include "Settings.h"

#include <QtGlobal>

#include <functional>
#include <optional>

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

// Where the seek dialog left its rows when it closed.
struct SeekChoice {
    enum Unit { None, Time, Tick };
    Unit unit = None;  // the checked radio button
    int minutes = 0;   // updownMinute's position
    int seconds = 0;   // updownSecond's position
    qint32 tick = 0;   // updownTickToSet's position
};

// Modal results of the seek dialog.
constexpr int kSeekDialogOk = 1;
constexpr int kSeekDialogCancel = 2;

// The seek bar's value for a drag at x: Floor(maxValue / width × (x + 2)) in floating point.
// Empty when the value would not be below the song's total in the bar's unit (tick base 0:
// TotalTick, time base 1: TotalTime), for any other base, or for a bar without width. A
// negative value is returned as it is; the bar clamps it to its minimum.
std::optional<int> dragValue(int maxValue, int width, int x, int playbackBaseMode,
                             const TBrs4SmfInformation &info);

// popupMenuPlayback's loop-point item is enabled exactly when the song has a loop point.
inline bool loopPointItemEnabled(const TBrs4SmfInformation &info) { return info.LoopTick != -1; }

class Transport {
public:
    // `settings` and `muteMode` are read at each command, so the settings dialog's changes
    // take effect at the next Play.
    Transport(Engine &engine, const Settings &settings, const bool &muteMode);

    // Called after every command that reaches the engine and at the start of a drag: the
    // display is about to change.
    void setCommandHook(std::function<void()> hook) { m_commandHook = std::move(hook); }
    // Called after every command that moves the position of a song under way (any play from
    // a tick, a Play that restarts a playing song), once the engine has it.
    void setJumpHook(std::function<void()> hook) { m_jumpHook = std::move(hook); }
    // Asked by every Play command: false leaves the loop bit out of the option word, so the
    // engine stops at the song's end (where the queue moves on) instead of going round.
    void setLoopWanted(std::function<bool()> wanted) { m_loopWanted = std::move(wanted); }

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
    // Rewind: from the loop point, or nothing for a song without one (-1).
    void rewind(qint32 loopTick);
    // Skip back SecondsToSkip seconds from the whole second at or below `timeMs`. The target
    // is not clamped: near the start it is negative and handed to the tempo map as it is.
    void skipBack(qint32 timeMs, const TSmfEventTempoList *tempoList);
    // Skip forward SecondsToSkip seconds; nothing once `timeMs` (the current time, not the
    // target) has reached the last note's whole second less the step.
    void skipForward(qint32 timeMs, qint32 lastNoteTimeMs, const TSmfEventTempoList *tempoList);
    // Plays from the seek bar's value: a tick in tick base, milliseconds through the tempo
    // map in time base (nothing without one), nothing in any other base.
    void playFromSeekBar(qint32 progress, const TSmfEventTempoList *tempoList);
    // The seek dialog closed with `modalResult`: on OK, play from its time row (through the
    // tempo map; nothing without one) or its tick row, by the checked radio button.
    void seekDialogClosed(int modalResult, const SeekChoice &choice,
                          const TSmfEventTempoList *tempoList);

    // DisplayTicks: the time panel shows ticks; false at every start, never saved.
    bool displayTicks() const { return m_displayTicks; }
    void toggleDisplayTicks() { m_displayTicks = !m_displayTicks; }

    // Drag seek on the seek bar. IsMouseDown is true while a left-button drag is in
    // progress; the monitor then leaves the bar's value to the mouse.
    bool isMouseDown() const { return m_isMouseDown; }
    // A press on the bar. True when it starts a drag (left button): the window then runs
    // the move step at the press point. Right and middle presses end any drag.
    bool mouseDown(Qt::MouseButton button);
    // The bar's new value for a move at x, or empty when it stays (no drag, or the value
    // would reach the song's end).
    std::optional<int> mouseMove(int x, int maxValue, int width, const TBrs4SmfInformation &info) const;
    // A release: after a drag (not for the right button), play from the bar's value and
    // end the drag. The release plays whatever the engine's state.
    void mouseUp(Qt::MouseButton button, qint32 progress, const TSmfEventTempoList *tempoList);
    // Esc during a drag. True when a drag was in progress; the release then plays nothing.
    bool cancelDrag();

private:
    void commanded() const
    {
        if (m_commandHook)
            m_commandHook();
    }
    std::function<void()> m_commandHook;
    std::function<void()> m_jumpHook;
    std::function<bool()> m_loopWanted;
    Engine &m_engine;
    const Settings &m_settings;
    const bool &m_muteMode;
    qint32 m_currentPlayOption = 0;
    bool m_displayTicks = false;
    bool m_isMouseDown = false;
};

} // namespace tonelark
