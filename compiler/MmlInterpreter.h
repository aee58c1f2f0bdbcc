#pragma once

#include "MmlProgram.h"
#include "SmfSong.h"

#include <map>
#include <vector>

namespace sakura {

class MmlDiagnostics;

// Runs a parsed program: each track keeps its own position, octave, default length,
// velocity, gate and channel; tempo, time signature and the song texts go to the conductor
// track at the current track's position. Errors found while running (a key out of range, a
// length the time base cannot express, a song too long) are reported once per command.
class MmlInterpreter
{
public:
    MmlInterpreter(const MmlProgram &program, MmlDiagnostics &diagnostics);

    // Fills song; false when it met an error (song is then incomplete).
    bool run(SmfSong &song);

private:
    struct TrackState
    {
        int64_t tick = 0;
        int64_t octave;
        MmlLengthPart defaultLength;
        int64_t velocity;
        int64_t gate;
        uint8_t channel; // 0..15
        std::vector<SmfEvent> events;
        // Note-offs not yet due, by tick; flushed before any later event so that events
        // stay in time order without sorting the whole track afterwards.
        std::vector<SmfEvent> pendingOffs;
    };
    struct LoopState
    {
        size_t beginIndex;
        int64_t pass;
    };

    TrackState &track(int64_t number);
    bool lengthTicks(size_t index, const MmlCommand &command, int64_t &ticks);
    bool partTicks(size_t index, const MmlCommand &command, const MmlLengthPart &part, int64_t &ticks);
    bool advance(size_t index, const MmlCommand &command, int64_t ticks);
    bool addNote(size_t index, const MmlCommand &command, int64_t key, int64_t length);
    bool addChannelEvent(size_t index, const MmlCommand &command, uint8_t status, uint8_t data1, uint8_t data2,
                         int64_t tick);
    bool addEvent(size_t index, const MmlCommand &command, std::vector<SmfEvent> &events, SmfEvent event);
    static void flushOffs(TrackState &state, int64_t uptoTick);
    void fail(size_t index, const MmlCommand &command, const std::string &text);

    const MmlProgram &m_program;
    MmlDiagnostics &m_diagnostics;
    std::vector<bool> m_reported;
    std::map<int64_t, TrackState> m_tracks;
    TrackState *m_current = nullptr;
    std::vector<SmfEvent> m_conductor;
    int64_t m_timeBase;
    bool m_timeStarted = false; // TimeBase may change only before the first length is used
    int64_t m_eventCount = 0;
    int64_t m_noteCount = 0;
    uint32_t m_sequence = 0;
    bool m_failed = false;
    bool m_aborted = false; // a limit was hit; nothing after it runs
};

} // namespace sakura
