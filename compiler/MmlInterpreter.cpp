#include "MmlInterpreter.h"

#include "MmlDiagnostics.h"
#include "MmlLimits.h"

#include <algorithm>
#include <bit>
#include <string>

namespace sakura {

MmlInterpreter::MmlInterpreter(const MmlProgram &program, MmlDiagnostics &diagnostics)
    : m_program(program)
    , m_diagnostics(diagnostics)
    , m_reported(program.commands.size(), false)
    , m_timeBase(kDefaultTimeBase)
{
}

MmlInterpreter::TrackState &MmlInterpreter::track(int64_t number)
{
    auto it = m_tracks.find(number);
    if (it == m_tracks.end()) {
        TrackState state;
        state.octave = kDefaultOctave;
        state.defaultLength = {MmlLengthPart::Divisor, 0, 4};
        state.velocity = kDefaultVelocity;
        state.gate = kDefaultGate;
        // Track n plays on channel n until told otherwise; past 16 the channels repeat.
        state.channel = static_cast<uint8_t>(number <= 0 ? 0 : (number - 1) % 16);
        it = m_tracks.emplace(number, std::move(state)).first;
    }
    return it->second;
}

void MmlInterpreter::fail(size_t index, const MmlCommand &command, const std::string &text)
{
    m_failed = true;
    if (m_reported[index])
        return;
    m_reported[index] = true;
    m_diagnostics.error(command.line, text);
}

bool MmlInterpreter::partTicks(size_t index, const MmlCommand &command, const MmlLengthPart &given, int64_t &ticks)
{
    MmlLengthPart part = given;
    if (part.kind == MmlLengthPart::Default) {
        part = m_current->defaultLength;
        part.dots = static_cast<uint8_t>(std::min<int>(part.dots + given.dots, 255));
    }
    int64_t base = part.value;
    if (part.kind == MmlLengthPart::Divisor) {
        const int64_t whole = m_timeBase * 4;
        if (whole % part.value != 0) {
            fail(index, command,
                 "音長「" + std::to_string(part.value) + "」はTimeBase=" + std::to_string(m_timeBase)
                     + "では割り切れません（「%ティック数」で書いてください）。");
            return false;
        }
        base = whole / part.value;
    }
    ticks = base;
    int64_t add = base;
    for (int dot = 0; dot < part.dots; ++dot) {
        if (add % 2 != 0) {
            fail(index, command, "付点を付けた長さがティックで割り切れません。");
            return false;
        }
        add /= 2;
        ticks += add;
    }
    return true;
}

bool MmlInterpreter::lengthTicks(size_t index, const MmlCommand &command, int64_t &ticks)
{
    m_timeStarted = true;
    ticks = 0;
    for (uint32_t i = 0; i < std::max<uint32_t>(command.lengthCount, 1); ++i) {
        int64_t part = 0;
        // No parts stands for the track's plain `l` length.
        const MmlLengthPart given = command.lengthCount == 0 ? MmlLengthPart{} : m_program.lengths[command.lengthBegin + i];
        if (!partTicks(index, command, given, part))
            return false;
        ticks += part;
        if (ticks > kMaxTick) {
            fail(index, command, "音長が長すぎます。");
            return false;
        }
    }
    return true;
}

bool MmlInterpreter::advance(size_t index, const MmlCommand &command, int64_t ticks)
{
    if (m_current->tick + ticks > kMaxTick) {
        fail(index, command, "曲が長すぎます（" + std::to_string(kMaxTick) + "ティックを超えました）。");
        m_aborted = true;
        return false;
    }
    m_current->tick += ticks;
    return true;
}

bool MmlInterpreter::addEvent(size_t index, const MmlCommand &command, std::vector<SmfEvent> &events, SmfEvent event)
{
    if (++m_eventCount > kMaxEvents) {
        fail(index, command, "イベントが多すぎます（最大" + std::to_string(kMaxEvents) + "個）。ループの回数を見直してください。");
        m_aborted = true;
        return false;
    }
    event.sequence = m_sequence++;
    if (&events == &m_current->events) {
        if (event.isNoteOff()) {
            // Kept by tick; equal ticks stay in creation order.
            auto at = std::upper_bound(m_current->pendingOffs.begin(), m_current->pendingOffs.end(), event,
                                       [](const SmfEvent &a, const SmfEvent &b) { return a.tick < b.tick; });
            m_current->pendingOffs.insert(at, event);
            return true;
        }
        flushOffs(*m_current, event.tick);
    }
    events.push_back(event);
    return true;
}

void MmlInterpreter::flushOffs(TrackState &state, int64_t uptoTick)
{
    size_t due = 0;
    while (due < state.pendingOffs.size() && state.pendingOffs[due].tick <= uptoTick)
        ++due;
    if (due == 0)
        return;
    const auto end = state.pendingOffs.begin() + static_cast<std::ptrdiff_t>(due);
    state.events.insert(state.events.end(), state.pendingOffs.begin(), end);
    state.pendingOffs.erase(state.pendingOffs.begin(), end);
}

bool MmlInterpreter::addChannelEvent(size_t index, const MmlCommand &command, uint8_t status, uint8_t data1,
                                     uint8_t data2, int64_t tick)
{
    SmfEvent event;
    event.tick = static_cast<uint32_t>(tick);
    event.kind = SmfEvent::Channel;
    event.status = static_cast<uint8_t>(status | m_current->channel);
    event.data1 = data1;
    event.data2 = data2;
    return addEvent(index, command, m_current->events, event);
}

bool MmlInterpreter::addNote(size_t index, const MmlCommand &command, int64_t key, int64_t length)
{
    if (key < 0 || key > 127) {
        fail(index, command, "音域外の音です（ノート番号" + std::to_string(key) + "、使えるのは0～127）。");
        return false;
    }
    // v0 is a silent note: it takes its length like a rest. A note-on with velocity 0 would
    // be a note-off to every device, followed by a stray note-off of our own.
    if (m_current->velocity == 0)
        return true;
    // The gate shortens the sounding part; at least one tick so every note is heard.
    const int64_t gate = std::max<int64_t>(1, length * m_current->gate / 100);
    const auto velocity = static_cast<uint8_t>(m_current->velocity);
    const auto keyByte = static_cast<uint8_t>(key);
    ++m_noteCount;
    return addChannelEvent(index, command, 0x90, keyByte, velocity, m_current->tick)
        && addChannelEvent(index, command, 0x80, keyByte, 0, m_current->tick + gate);
}

bool MmlInterpreter::run(SmfSong &song)
{
    m_current = &track(1);
    std::vector<LoopState> loops;
    int64_t steps = 0;
    const auto &commands = m_program.commands;
    size_t pc = 0;
    while (pc < commands.size() && !m_aborted) {
        const size_t index = pc++;
        const MmlCommand &command = commands[index];
        if (++steps > kMaxSteps) {
            fail(index, command, "ループの展開が大きすぎます（ループの回数を見直してください）。");
            m_aborted = true;
            break;
        }
        TrackState &state = *m_current;
        switch (command.op) {
        case MmlOp::Nop:
            break;
        case MmlOp::Note: {
            int64_t length = 0;
            if (!lengthTicks(index, command, length))
                break;
            if (length == 0) {
                fail(index, command, "長さ0の音符は置けません。");
                break;
            }
            if (addNote(index, command, state.octave * 12 + command.a, length))
                advance(index, command, length);
            break;
        }
        case MmlOp::Rest: {
            int64_t length = 0;
            if (lengthTicks(index, command, length))
                advance(index, command, length);
            break;
        }
        case MmlOp::Chord: {
            int64_t length = 0;
            if (!lengthTicks(index, command, length))
                break;
            if (length == 0) {
                fail(index, command, "長さ0の和音は置けません。");
                break;
            }
            // Octave moves inside a chord are local to it.
            int64_t octave = state.octave;
            bool ok = true;
            for (int32_t i = 0; i < command.b && ok; ++i) {
                const MmlChordItem &item = m_program.chordItems[static_cast<size_t>(command.a + i)];
                switch (item.kind) {
                case MmlChordItem::Note: ok = addNote(index, command, octave * 12 + item.value, length); break;
                case MmlChordItem::OctaveSet: octave = item.value; break;
                case MmlChordItem::OctaveUp: ++octave; break;
                case MmlChordItem::OctaveDown: --octave; break;
                }
            }
            if (ok)
                advance(index, command, length);
            break;
        }
        case MmlOp::DefaultLength: {
            // Checked now so a wrong `l` is reported at its own line, not at every note.
            const MmlLengthPart part = m_program.lengths[command.lengthBegin];
            m_timeStarted = true; // a length in TimeBase units is fixed from here on
            state.defaultLength = part;
            int64_t ticks = 0;
            if (!partTicks(index, command, part, ticks))
                state.defaultLength = {MmlLengthPart::Divisor, 0, 4};
            break;
        }
        case MmlOp::Octave:
            state.octave = command.a;
            break;
        case MmlOp::OctaveUp:
        case MmlOp::OctaveDown: {
            const int64_t octave = state.octave + (command.op == MmlOp::OctaveUp ? 1 : -1);
            if (octave < 0 || octave > kMaxOctave)
                fail(index, command, "オクターブが範囲外になります（0～" + std::to_string(kMaxOctave) + "）。");
            else
                state.octave = octave;
            break;
        }
        case MmlOp::Velocity:
            state.velocity = command.a;
            break;
        case MmlOp::Gate:
            state.gate = command.a;
            break;
        case MmlOp::Track:
            m_current = &track(command.a);
            break;
        case MmlOp::Channel:
            state.channel = static_cast<uint8_t>(command.a - 1);
            break;
        case MmlOp::Program:
            addChannelEvent(index, command, 0xC0, static_cast<uint8_t>(command.a - 1), 0, state.tick);
            break;
        case MmlOp::Control:
            addChannelEvent(index, command, 0xB0, static_cast<uint8_t>(command.a), static_cast<uint8_t>(command.b),
                            state.tick);
            break;
        case MmlOp::PitchBend: {
            const auto value = static_cast<uint32_t>(command.a + 8192);
            addChannelEvent(index, command, 0xE0, static_cast<uint8_t>(value & 0x7F),
                            static_cast<uint8_t>((value >> 7) & 0x7F), state.tick);
            break;
        }
        case MmlOp::Tempo: {
            SmfEvent event;
            event.kind = SmfEvent::Tempo;
            event.tick = static_cast<uint32_t>(state.tick);
            event.value = static_cast<uint32_t>((60'000'000 + command.a / 2) / command.a);
            addEvent(index, command, m_conductor, event);
            break;
        }
        case MmlOp::TimeBase:
            if (m_timeStarted && command.a != m_timeBase)
                fail(index, command, "TimeBaseは音符・休符・「l」より前に書いてください。");
            else
                m_timeBase = command.a;
            break;
        case MmlOp::TimeSignature: {
            SmfEvent event;
            event.kind = SmfEvent::TimeSignature;
            event.tick = static_cast<uint32_t>(state.tick);
            event.data1 = static_cast<uint8_t>(command.a);
            event.data2 = static_cast<uint8_t>(std::countr_zero(static_cast<uint64_t>(command.b)));
            addEvent(index, command, m_conductor, event);
            break;
        }
        case MmlOp::Text: {
            SmfEvent event;
            event.kind = SmfEvent::Text;
            event.tick = static_cast<uint32_t>(state.tick);
            event.status = static_cast<uint8_t>(command.a);
            event.value = static_cast<uint32_t>(command.b);
            // Lyrics belong to the track that sings them; the song's texts to the conductor.
            addEvent(index, command, command.a == 0x05 ? state.events : m_conductor, event);
            break;
        }
        case MmlOp::LoopBegin:
            if (command.a <= 0)
                pc = static_cast<size_t>(command.b) + 1;
            else
                loops.push_back({index, 0});
            break;
        case MmlOp::LoopBreak:
            if (!loops.empty() && loops.back().beginIndex == static_cast<size_t>(command.b)) {
                const MmlCommand &begin = commands[loops.back().beginIndex];
                if (loops.back().pass == begin.a - 1) {
                    pc = static_cast<size_t>(begin.b) + 1;
                    loops.pop_back();
                }
            }
            break;
        case MmlOp::LoopEnd:
            if (!loops.empty() && loops.back().beginIndex == static_cast<size_t>(command.b)) {
                LoopState &loop = loops.back();
                if (++loop.pass < commands[loop.beginIndex].a)
                    pc = loop.beginIndex + 1;
                else
                    loops.pop_back();
            }
            break;
        }
    }
    if (m_failed)
        return false;

    // Only for a song that compiles: after an error the missing notes are no news.
    if (m_noteCount == 0 && !m_diagnostics.hasErrors())
        m_diagnostics.note(0, "音符が一つもありません。");

    // A song without its own tempo or time signature at the start gets 120 and 4/4, so the
    // player and other readers never have to guess.
    const bool hasTempo = std::any_of(m_conductor.begin(), m_conductor.end(), [](const SmfEvent &e) {
        return e.kind == SmfEvent::Tempo && e.tick == 0;
    });
    const bool hasSignature = std::any_of(m_conductor.begin(), m_conductor.end(), [](const SmfEvent &e) {
        return e.kind == SmfEvent::TimeSignature && e.tick == 0;
    });
    std::vector<SmfEvent> defaults;
    if (!hasSignature) {
        SmfEvent event;
        event.kind = SmfEvent::TimeSignature;
        event.data1 = 4;
        event.data2 = 2;
        defaults.push_back(event);
    }
    if (!hasTempo) {
        SmfEvent event;
        event.kind = SmfEvent::Tempo;
        event.value = static_cast<uint32_t>(60'000'000 / kDefaultTempo);
        defaults.push_back(event);
    }
    // Sequence 0 for the defaults puts them before anything else at tick 0; the rest keep order.
    for (SmfEvent &event : m_conductor)
        event.sequence += static_cast<uint32_t>(defaults.size());
    for (size_t i = 0; i < defaults.size(); ++i)
        defaults[i].sequence = static_cast<uint32_t>(i);
    m_conductor.insert(m_conductor.begin(), defaults.begin(), defaults.end());

    song = SmfSong{};
    song.timeBase = static_cast<uint16_t>(m_timeBase);
    song.texts = m_program.texts;
    uint32_t songEnd = 0;
    std::vector<SmfTrack> tracks;
    for (auto &[number, state] : m_tracks) {
        flushOffs(state, kMaxTick);
        // A track with only rests is still a track: its rests give the song its length.
        if (state.events.empty() && state.tick == 0)
            continue;
        SmfTrack track;
        uint32_t lastTick = 0;
        for (const SmfEvent &event : state.events)
            lastTick = std::max(lastTick, event.tick);
        track.endTick = std::max(static_cast<uint32_t>(state.tick), lastTick);
        track.events = std::move(state.events);
        songEnd = std::max(songEnd, track.endTick);
        tracks.push_back(std::move(track));
    }
    SmfTrack conductor;
    for (const SmfEvent &event : m_conductor)
        songEnd = std::max(songEnd, event.tick);
    conductor.events = std::move(m_conductor);
    conductor.endTick = songEnd;
    song.tracks.push_back(std::move(conductor));
    for (SmfTrack &track : tracks)
        song.tracks.push_back(std::move(track));
    return true;
}

} // namespace sakura
