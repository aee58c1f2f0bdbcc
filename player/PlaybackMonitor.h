#pragma once

#include "Brisola.h"

#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace tonelark {

class Engine;
class TSmfEventTempoList;

// Enabled states of the four transport buttons.
struct TransportButtons {
    bool play = false;
    bool stop = false;
    bool pause = false;
    bool seek = false;
    friend bool operator==(const TransportButtons &, const TransportButtons &) = default;
};

// The buttons for an engine state; nothing (leave them as they are) for an unknown state.
std::optional<TransportButtons> transportButtonsFor(TBrsPlayerState state);

// What the window reads for one tick.
struct MonitorInputs {
    bool isMouseDown = false;   // a drag on the seek bar is in progress
    bool displayTicks = false;  // the time panel shows ticks instead of times
    int playbackBaseMode = 0;   // the seek bar counts 0 ticks, 1 milliseconds
    int gaugeProgress = 0;      // the seek bar's value, shown while dragging
    bool lyricsVisible = false; // the lyric list and all its parents are shown
    qint32 repeatStartTick = -1; // the A–B repeat's points; -1 not set
    qint32 repeatEndTick = -1;
};

// What the window applies after one tick; an empty field leaves its control unchanged.
// The seek bar's maximum and marker are applied before its value.
struct MonitorDisplay {
    std::optional<TransportButtons> buttons;
    std::optional<QString> timeText;
    std::optional<int> gaugeMaxValue;
    std::optional<int> gaugeMedValue;
    // A and B in the bar's unit (-1 none). While both are set the range stands in for the
    // loop point, whose marker is then hidden.
    std::optional<std::pair<int, int>> gaugeRepeatMarks;
    std::optional<int> gaugeProgress;
};

// The playback monitor's tick: polls the engine, keeps the status and song information
// that the transport, the lyrics view and the seek dialog read, and works out the display.
// It owns no timer: the window's 16 ms timer calls tick().
class PlaybackMonitor : public QObject {
    Q_OBJECT

public:
    explicit PlaybackMonitor(Engine &engine, QObject *parent = nullptr);

    // The loaded song's tempo map (not owned; nullptr before the first load). Used only to
    // show a dragged position; without one the panel keeps its text during a drag.
    void setTempoList(const TSmfEventTempoList *tempoList) { m_tempoList = tempoList; }

    // One tick, in this order: both polls, buttons, the lyrics step, the time panel, the
    // seek bar's range and marker, the seek bar's value.
    MonitorDisplay tick(const MonitorInputs &inputs);

    // The records of the last poll (zero before the first).
    const TBrs4PlayerStatus &status() const { return m_status; }
    const TBrs4SmfInformation &info() const { return m_info; }

    // The panel's text before the first tick.
    static QString initialTimeText() { return QStringLiteral("--:-- / --:--"); }

    // "mm:ss / mm:ss" of a position and the song's total time, minutes not wrapped.
    static QString timeText(qint64 positionMs, qint64 totalMs);

signals:
    // Emitted during a tick while the lyric list is visible, after the polls: the lyrics
    // view follows status() here.
    void lyricsStep();

private:
    std::optional<QString> panelText(const MonitorInputs &inputs) const;

    Engine &m_engine;
    const TSmfEventTempoList *m_tempoList = nullptr;
    TBrs4PlayerStatus m_status{};
    TBrs4SmfInformation m_info{};
};

} // namespace tonelark
