#include "Sequencer.h"

#include <algorithm>
#include <limits>

namespace brisola {

namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr std::uint8_t kBankMsb = 0, kBankLsb = 32, kDataMsb = 6, kDataLsb = 38, kVolume = 7, kPan = 10,
                       kSustain = 64, kNrpnLsb = 98, kNrpnMsb = 99, kRpnLsb = 100, kRpnMsb = 101,
                       kResetControllers = 121, kAllNotesOff = 123;

// Controllers a chase must not replay one by one: bank and data entry are sent in their own
// order, increment/decrement would count twice, and 120-127 are channel mode messages.
bool replayedAsIs(int cc)
{
    return cc != kBankMsb && cc != kBankLsb && cc != kDataMsb && cc != kDataLsb && cc != kVolume && cc != kPan
           && !(cc >= 96 && cc <= 101) && cc < 120;
}

} // namespace

void ChaseState::collect(const SmfTimeline &timeline, std::size_t end)
{
    for (Channel &c : channels) {
        c.controller.fill(-1);
        c.program = -1;
        c.pitchBend = -1;
        c.pressure = -1;
        c.parameterCount = 0;
        c.selectedNrpn = false;
    }
    usedChannels = timeline.facts().usedChannels;
    endIndex = std::min(end, timeline.events().size());
    const auto &events = timeline.events();
    for (std::size_t i = 0; i < endIndex; ++i) {
        const TimelineEvent &e = events[i];
        if (e.kind != TimelineEvent::Channel)
            continue;
        Channel &c = channels[e.bytes[0] & 0x0F];
        switch (e.bytes[0] & 0xF0) {
        case 0xB0: {
            const std::uint8_t cc = e.bytes[1], value = e.bytes[2];
            if (cc == kResetControllers) {
                // Keep what reset-all-controllers leaves alone: bank, volume, pan and the
                // parameter values already written.
                for (int n = 0; n < 120; ++n)
                    if (n != kBankMsb && n != kBankLsb && n != kVolume && n != kPan && n != 91 && n != 93)
                        c.controller[n] = -1;
                c.pitchBend = -1;
                c.pressure = -1;
                break;
            }
            c.controller[cc] = value;
            if (cc == kNrpnMsb || cc == kNrpnLsb)
                c.selectedNrpn = true;
            else if (cc == kRpnMsb || cc == kRpnLsb)
                c.selectedNrpn = false;
            else if (cc == kDataMsb || cc == kDataLsb) {
                const int msb = c.controller[c.selectedNrpn ? kNrpnMsb : kRpnMsb];
                const int lsb = c.controller[c.selectedNrpn ? kNrpnLsb : kRpnLsb];
                if (msb < 0 || lsb < 0 || (msb == 127 && lsb == 127))
                    break; // data entry without a selected parameter changes nothing
                const std::uint16_t number = std::uint16_t((msb << 7) | lsb);
                Parameter *slot = nullptr;
                for (int p = 0; p < c.parameterCount; ++p)
                    if (c.parameters[p].number == number && c.parameters[p].nrpn == c.selectedNrpn)
                        slot = &c.parameters[p];
                if (!slot) {
                    if (c.parameterCount == kMaxParameters) {
                        // Forget the oldest parameter rather than allocate: chases run on the
                        // audio thread.
                        std::move(c.parameters.begin() + 1, c.parameters.end(), c.parameters.begin());
                        --c.parameterCount;
                    }
                    slot = &c.parameters[c.parameterCount++];
                    *slot = Parameter{number, c.selectedNrpn, -1, -1};
                }
                (cc == kDataMsb ? slot->msb : slot->lsb) = value;
            }
            break;
        }
        case 0xC0:
            c.program = e.bytes[1];
            break;
        case 0xD0:
            c.pressure = e.bytes[1];
            break;
        case 0xE0:
            c.pitchBend = e.bytes[1] | (e.bytes[2] << 7);
            break;
        default:
            break;
        }
    }
}

Sequencer::Sequencer(std::uint32_t rate) : m_rate(rate ? rate : 1) {}

void Sequencer::setTimeline(std::shared_ptr<const SmfTimeline> timeline)
{
    stop();
    m_timeline = std::move(timeline);
    m_songFrame = m_anchorFrame = m_anchorTick = 0;
    m_next = m_segment = 0;
    m_loopCount = 0;
    m_endFrame = m_timeline ? frameOfTick(m_timeline->facts().totalTick) : 0;
}

void Sequencer::setSink(MidiSink *sink, std::uint32_t rate)
{
    silenceAt(m_clock, true);
    if (rate == 0)
        rate = 1;
    if (rate != m_rate && m_timeline) {
        // Keep the time of the position; the anchor keeps its tick exactly.
        const std::uint64_t d = std::uint64_t(m_timeline->facts().timeBase) * 1000000;
        const std::uint64_t time = std::uint64_t(uint128(m_songFrame) * d / m_rate);
        const bool atAnchor = m_songFrame == m_anchorFrame;
        m_rate = rate;
        m_songFrame = frameOfTime(time);
        m_endFrame = frameOfTick(m_timeline->facts().totalTick);
        m_loopFrame = frameOfTick(m_loopTick);
        m_anchorFrame = atAnchor ? frameOfTick(m_anchorTick) : m_songFrame;
        if (!atAnchor)
            m_anchorTick = m_timeline->tickOfTime(time);
        m_songFrame = std::max(m_songFrame, m_anchorFrame);
    }
    m_rate = rate;
    m_sink = sink;
    m_clock = 0;
    if (m_state != BRSSTATE_STOP && m_timeline) {
        m_chase.collect(*m_timeline, m_next);
        sendChase(m_chase, m_clock);
    }
}

void Sequencer::detachSink()
{
    silenceAt(m_clock, true);
    m_sink = nullptr;
}

std::int64_t Sequencer::frameOfTime(std::uint64_t time) const
{
    const std::uint64_t d = std::uint64_t(m_timeline->facts().timeBase) * 1000000;
    return std::int64_t((uint128(time) * m_rate + d - 1) / d);
}

std::int64_t Sequencer::frameOfTick(std::int64_t tick) const { return frameOfTime(m_timeline->timeOfTick(tick)); }

std::int64_t Sequencer::frameOfEvent(std::size_t index)
{
    const auto &tempo = m_timeline->tempoMap();
    const std::uint32_t tick = m_timeline->events()[index].tick;
    while (m_segment + 1 < tempo.size() && tempo[m_segment + 1].tick <= tick)
        ++m_segment;
    const TempoSegment &s = tempo[m_segment];
    return frameOfTime(s.startTime + std::uint64_t(tick - s.tick) * s.usPerQuarter);
}

void Sequencer::positionAt(std::int64_t tick)
{
    m_songFrame = m_anchorFrame = frameOfTick(tick);
    m_anchorTick = tick;
    m_next = m_timeline->firstEventAtOrAfter(tick);
    m_segment = m_timeline->segmentOfTick(tick);
}

bool Sequencer::play(std::int32_t option, std::int32_t startTick)
{
    if (!m_timeline)
        return false;
    silenceAt(m_clock, true);
    const SongFacts &facts = m_timeline->facts();
    m_option = option;
    m_loopCount = 0;
    std::int64_t tick = std::max(startTick, 0);
    if (tick == 0 && (option & BRSPLAY_SKIPBLANK))
        tick = facts.firstNoteTick;
    m_loopTick = facts.loopTick < 0 ? 0 : facts.loopTick;
    m_loopFrame = frameOfTick(m_loopTick);
    m_loopChase.collect(*m_timeline, m_timeline->firstEventAtOrAfter(m_loopTick));
    m_state = BRSSTATE_PLAY;
    if (tick >= facts.totalTick) {
        // Every event, the last tick's included, is state to chase: nothing of it sounds.
        m_chase.collect(*m_timeline, m_timeline->events().size());
        sendChase(m_chase, m_clock);
        positionAt(facts.totalTick);
        m_next = m_timeline->events().size();
        reachEnd(m_clock);
        return true;
    }
    positionAt(tick);
    m_chase.collect(*m_timeline, m_next);
    sendChase(m_chase, m_clock);
    return true;
}

void Sequencer::pause()
{
    if (m_state != BRSSTATE_PLAY)
        return;
    silenceAt(m_clock, true);
    m_state = BRSSTATE_PAUSE;
}

void Sequencer::stop()
{
    silenceAt(m_clock, true);
    m_state = BRSSTATE_STOP;
}

void Sequencer::silence() { silenceAt(m_clock, true); }

void Sequencer::advance(std::int64_t frames)
{
    if (frames < 0)
        frames = 0;
    std::int64_t clockAt = m_clock;
    std::int64_t remaining = frames;
    m_clock += frames;
    if (!m_timeline)
        return;
    const auto &events = m_timeline->events();
    while (m_state == BRSSTATE_PLAY) {
        const std::int64_t limit = m_songFrame + remaining;
        while (m_next < events.size()) {
            const std::int64_t f = frameOfEvent(m_next);
            if (f >= limit)
                break;
            dispatch(events[m_next], clockAt + std::max<std::int64_t>(f - m_songFrame, 0));
            ++m_next;
        }
        if (m_next == events.size() && m_endFrame <= limit) {
            const std::int64_t offset = std::max<std::int64_t>(m_endFrame - m_songFrame, 0);
            clockAt += offset;
            remaining -= offset;
            m_songFrame = m_endFrame;
            if (reachEnd(clockAt))
                continue;
            break;
        }
        m_songFrame = limit;
        break;
    }
}

bool Sequencer::reachEnd(std::int64_t clock)
{
    // A loop shorter than 10 ms would go round thousands of times inside one audio block, each
    // pass a chase: such a song (only a damaged or hostile file has one) stops instead.
    if ((m_option & BRSPLAY_LOOP) && m_endFrame - m_loopFrame >= std::int64_t(m_rate / 100)) {
        silenceAt(clock, false);
        sendChase(m_loopChase, clock);
        positionAt(m_loopTick);
        ++m_loopCount;
        return true;
    }
    silenceAt(clock, true);
    m_state = BRSSTATE_STOP;
    m_songFrame = m_anchorFrame = m_endFrame;
    m_anchorTick = m_timeline->facts().totalTick;
    return false;
}

std::int64_t Sequencer::framesUntilNextEvent()
{
    if (m_state != BRSSTATE_PLAY || !m_timeline)
        return -1;
    std::int64_t due = m_endFrame;
    if (m_next < m_timeline->events().size())
        due = std::min(due, frameOfEvent(m_next));
    return std::max<std::int64_t>(due - m_songFrame, 0);
}

std::uint8_t Sequencer::scaledVolume(std::uint8_t value) const
{
    const int largest = m_timeline ? m_timeline->facts().largestVolume : 0;
    if (!(m_option & BRSPLAY_NORMALIZE) || largest == 0)
        return value;
    return std::uint8_t(std::min(127, (value * 127 + largest / 2) / largest));
}

void Sequencer::sendChannel(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, std::int64_t clock,
                            bool fromSong)
{
    const int channel = status & 0x0F;
    const int type = status & 0xF0;
    // Normalising scales the song's volumes; a default the chase fills in is the device's own.
    if (type == 0xB0 && data1 == kVolume && fromSong)
        data2 = scaledVolume(data2);
    if (type == 0x90 && data2 > 0) {
        auto &count = m_notes[channel][data1];
        if (count < 255)
            ++count;
        m_touchedChannels |= std::uint16_t(1u << channel);
    } else if (type == 0x80 || type == 0x90) {
        auto &count = m_notes[channel][data1];
        if (count > 0)
            --count;
    } else if (type == 0xB0 && (data1 == kAllNotesOff || data1 == 120)) {
        m_notes[channel].fill(0);
    } else if (type == 0xB0 && data1 == kSustain) {
        if (data2 >= 64)
            m_sustained |= std::uint16_t(1u << channel);
        else
            m_sustained &= std::uint16_t(~(1u << channel));
    } else if (type == 0xB0 && data1 == kResetControllers) {
        m_sustained &= std::uint16_t(~(1u << channel));
    }
    if (!m_sink)
        return;
    m_scratch[0] = status;
    m_scratch[1] = data1;
    m_scratch[2] = data2;
    m_sink->send(MidiMessage{m_scratch, (type == 0xC0 || type == 0xD0) ? 2u : 3u}, clock);
}

void Sequencer::dispatch(const TimelineEvent &event, std::int64_t clock)
{
    switch (event.kind) {
    case TimelineEvent::Channel:
        sendChannel(event.bytes[0], event.bytes[1], event.bytes[2], clock);
        break;
    case TimelineEvent::SysEx:
        if ((m_option & BRSPLAY_SYSEX) && m_sink)
            m_sink->send(MidiMessage{m_timeline->pool() + event.value, event.length}, clock);
        break;
    case TimelineEvent::Tempo:
        break;
    }
}

void Sequencer::sendChase(const ChaseState &state, std::int64_t clock)
{
    if (m_option & BRSPLAY_SYSEX) {
        // SysEx first: a reset message would undo the channel state sent after it.
        for (std::uint32_t index : m_timeline->sysExIndices()) {
            if (index >= state.endIndex)
                break;
            const TimelineEvent &e = m_timeline->events()[index];
            if (m_sink)
                m_sink->send(MidiMessage{m_timeline->pool() + e.value, e.length}, clock);
        }
    }
    for (int ch = 0; ch < 16; ++ch) {
        if (!(state.usedChannels & (1u << ch)))
            continue;
        const ChaseState::Channel &c = state.channels[ch];
        const auto cc = [&](int number, int value, bool fromSong = true) {
            sendChannel(std::uint8_t(0xB0 | ch), std::uint8_t(number), std::uint8_t(value), clock, fromSong);
        };
        // Start from the defaults, so that a seek backwards also undoes what came later.
        cc(kResetControllers, 0);
        cc(kBankMsb, std::max<int>(c.controller[kBankMsb], 0));
        if (c.controller[kBankLsb] >= 0)
            cc(kBankLsb, c.controller[kBankLsb]);
        sendChannel(std::uint8_t(0xC0 | ch), std::uint8_t(std::max<int>(c.program, 0)), 0, clock);
        if (c.controller[kVolume] >= 0)
            cc(kVolume, c.controller[kVolume]);
        else
            cc(kVolume, 100, false);
        cc(kPan, c.controller[kPan] >= 0 ? c.controller[kPan] : 64);
        for (int n = 0; n < 120; ++n)
            if (replayedAsIs(n) && c.controller[n] >= 0)
                cc(n, c.controller[n]);
        for (int p = 0; p < c.parameterCount; ++p) {
            const ChaseState::Parameter &param = c.parameters[p];
            cc(param.nrpn ? kNrpnMsb : kRpnMsb, param.number >> 7);
            cc(param.nrpn ? kNrpnLsb : kRpnLsb, param.number & 0x7F);
            if (param.msb >= 0)
                cc(kDataMsb, param.msb);
            if (param.lsb >= 0)
                cc(kDataLsb, param.lsb);
        }
        // Leave the parameter selection as the song left it, so later data entries land right.
        const int selMsb = c.selectedNrpn ? kNrpnMsb : kRpnMsb;
        const int selLsb = c.selectedNrpn ? kNrpnLsb : kRpnLsb;
        if (c.controller[selMsb] >= 0 || c.controller[selLsb] >= 0) {
            cc(selMsb, std::max<int>(c.controller[selMsb], 0));
            cc(selLsb, std::max<int>(c.controller[selLsb], 0));
        } else if (c.parameterCount > 0) {
            cc(kRpnMsb, 127);
            cc(kRpnLsb, 127);
        }
        if (c.pitchBend >= 0)
            sendChannel(std::uint8_t(0xE0 | ch), std::uint8_t(c.pitchBend & 0x7F), std::uint8_t(c.pitchBend >> 7), clock);
        if (c.pressure >= 0)
            sendChannel(std::uint8_t(0xD0 | ch), std::uint8_t(c.pressure), 0, clock);
    }
}

void Sequencer::silenceAt(std::int64_t clock, bool allNotesOff)
{
    for (int ch = 0; ch < 16; ++ch) {
        for (int note = 0; note < 128; ++note) {
            if (m_notes[ch][note] == 0)
                continue;
            sendChannel(std::uint8_t(0x80 | ch), std::uint8_t(note), 0, clock);
            m_notes[ch][note] = 0;
        }
        if (m_sustained & (1u << ch))
            sendChannel(std::uint8_t(0xB0 | ch), kSustain, 0, clock);
        if (allNotesOff && (m_touchedChannels & (1u << ch)))
            sendChannel(std::uint8_t(0xB0 | ch), kAllNotesOff, 0, clock);
    }
    if (allNotesOff)
        m_touchedChannels = 0;
}

int Sequencer::soundingNotes() const
{
    int count = 0;
    for (const auto &channel : m_notes)
        for (std::uint8_t n : channel)
            count += n;
    return count;
}

TBrs4PlayerStatus Sequencer::status() const
{
    TBrs4PlayerStatus s{};
    s.State = m_state;
    s.LoopCount = m_loopCount;
    if (!m_timeline) {
        s.Tempo = 500000;
        return s;
    }
    std::int64_t tick;
    std::uint64_t time;
    if (m_songFrame == m_anchorFrame) {
        tick = m_anchorTick;
        time = m_timeline->timeOfTick(tick);
    } else {
        const std::uint64_t d = std::uint64_t(m_timeline->facts().timeBase) * 1000000;
        time = std::uint64_t(uint128(m_songFrame) * d / m_rate);
        tick = std::min<std::int64_t>(m_timeline->tickOfTime(time), m_timeline->facts().totalTick);
    }
    s.Tick = std::int32_t(tick);
    s.Time = std::int32_t(std::min<std::uint64_t>(time / (std::uint64_t(m_timeline->facts().timeBase) * 1000),
                                                  std::numeric_limits<std::int32_t>::max()));
    s.Tempo = std::int32_t(m_timeline->tempoAtTick(tick));
    return s;
}

} // namespace brisola
