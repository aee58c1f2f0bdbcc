#include "Sequencer.h"

#include <algorithm>
#include <limits>

namespace brisola {

namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr std::uint8_t kBankMsb = 0, kBankLsb = 32, kDataMsb = 6, kDataLsb = 38, kVolume = 7, kPan = 10,
                       kExpression = 11, kSustain = 64, kSostenuto = 66, kNrpnLsb = 98, kNrpnMsb = 99, kRpnLsb = 100, kRpnMsb = 101,
                       kAllSoundOff = 120, kResetControllers = 121, kAllNotesOff = 123;

// Controllers a chase must not replay one by one: bank and data entry are sent in their own
// order, increment/decrement would count twice, and 120-127 are channel mode messages.
bool replayedAsIs(int cc)
{
    return cc != kBankMsb && cc != kBankLsb && cc != kDataMsb && cc != kDataLsb && cc != kVolume && cc != kPan
           && !(cc >= 96 && cc <= 101) && cc < 120;
}

} // namespace

std::uint16_t Sequencer::channelsChangingAudibly(const ChaseState &from, const ChaseState &to) const
{
    std::uint16_t mask = 0;
    for (int ch = 0; ch < 16; ++ch) {
        const auto loudness = [&](const ChaseState::Channel &c) {
            const int volume = c.controller[kVolume] >= 0 ? scaledVolume(std::uint8_t(c.controller[kVolume])) : 100;
            const int expression = c.controller[kExpression] >= 0 ? c.controller[kExpression] : 127;
            return volume * expression;
        };
        const auto bend = [](const ChaseState::Channel &c) { return c.pitchBend >= 0 ? c.pitchBend : 8192; };
        const ChaseState::Channel &a = from.channels[ch], &b = to.channels[ch];
        if (loudness(b) > loudness(a) || bend(a) != bend(b))
            mask |= std::uint16_t(1u << ch);
    }
    return mask & from.usedChannels;
}

namespace {

// A GS "use for rhythm part" or XG "part mode" message: the channel it names, and whether it
// becomes a drum part; -1 for any other message.
int drumPartSysEx(const std::uint8_t *d, std::uint32_t size, bool &drum)
{
    // GS: 41 dev 42 12 40 1p 15 vv sum; block p is part 10 for 0, parts 1-9 for 1-9, 11-16 after.
    if (size == 11 && d[0] == 0xF0 && d[1] == 0x41 && d[3] == 0x42 && d[4] == 0x12 && d[5] == 0x40
        && (d[6] & 0xF0) == 0x10 && d[7] == 0x15 && d[10] == 0xF7
        && ((d[5] + d[6] + d[7] + d[8] + d[9]) & 0x7F) == 0) {
        const int block = d[6] & 0x0F;
        drum = d[8] != 0;
        return block == 0 ? 9 : block <= 9 ? block - 1 : block;
    }
    // XG: 43 1n 4C 08 pp 07 vv (part pp, mode 0 normal, others drum sets).
    if (size == 9 && d[0] == 0xF0 && d[1] == 0x43 && (d[2] & 0xF0) == 0x10 && d[3] == 0x4C && d[4] == 0x08
        && d[5] < 16 && d[6] == 0x07 && d[8] == 0xF7) {
        drum = d[7] != 0;
        return d[5];
    }
    return -1;
}

} // namespace

void ChaseState::collect(const SmfTimeline &timeline, std::size_t end, bool sysExResets)
{
    const auto clearChannels = [this] {
        for (Channel &c : channels) {
            c.controller.fill(-1);
            c.program = c.programBankMsb = c.programBankLsb = -1;
            c.pitchBend = -1;
            c.pressure = -1;
            c.parameters.clear();
            c.selectedNrpn = false;
        }
        m_parameterSlots.clear();
    };
    clearChannels();
    usedChannels = timeline.facts().usedChannels;
    endIndex = std::min(end, timeline.events().size());
    const auto &events = timeline.events();
    for (std::size_t i = 0; i < endIndex; ++i) {
        const TimelineEvent &e = events[i];
        if (e.kind == TimelineEvent::SysEx) {
            if (sysExResets && isResetSysEx(timeline.pool() + e.value, e.length))
                clearChannels();
            continue;
        }
        if (e.kind != TimelineEvent::Channel)
            continue;
        const int channel = e.bytes[0] & 0x0F;
        Channel &c = channels[channel];
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
                const std::uint32_t key = (std::uint32_t(channel) << 15) | (std::uint32_t(c.selectedNrpn) << 14) | number;
                const auto [slot, added] = m_parameterSlots.try_emplace(key, std::uint32_t(c.parameters.size()));
                if (added)
                    c.parameters.push_back(Parameter{number, c.selectedNrpn});
                Parameter &p = c.parameters[slot->second];
                (cc == kDataMsb ? p.msb : p.lsb) = value;
                p.lsbLast = cc == kDataLsb;
                p.lastWrite = std::uint32_t(i);
            }
            break;
        }
        case 0xC0:
            c.program = e.bytes[1];
            c.programBankMsb = c.controller[kBankMsb];
            c.programBankLsb = c.controller[kBankLsb];
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
    // The last parameter written goes last, so the selection and data entry values the device
    // is left with are the song's.
    for (Channel &c : channels)
        std::sort(c.parameters.begin(), c.parameters.end(),
                  [](const Parameter &a, const Parameter &b) { return a.lastWrite < b.lastWrite; });
}

Sequencer::Sequencer(std::uint32_t rate) : m_rate(rate ? rate : 1)
{
    m_volumeSent.fill(-1);
    for (int ch = 0; ch < 16; ++ch)
        publishChannel(ch);
}

void Sequencer::setTimeline(std::shared_ptr<const SmfTimeline> timeline)
{
    stop();
    m_timeline = std::move(timeline);
    m_position = m_anchorPosition = 0;
    m_anchorTick = 0;
    m_next = m_segment = 0;
    m_loopCount = 0;
    clearRepeat();
    m_endFrame = m_timeline ? frameOfTick(m_timeline->facts().totalTick) : 0;
    m_endPosition = m_timeline ? positionOfTime(m_timeline->timeOfTick(m_timeline->facts().totalTick)) : 0;
}

void Sequencer::setSink(MidiSink *sink, std::uint32_t rate)
{
    silenceAt(m_clock, true);
    if (rate == 0)
        rate = 1;
    if (rate != m_rate && m_timeline) {
        // Keep the time of the position; the anchor keeps its tick exactly.
        const std::uint64_t time = timeOfPosition(m_position);
        const bool atAnchor = m_position == m_anchorPosition;
        m_rate = rate;
        m_position = positionOfFrame(frameOfTime(time));
        m_endFrame = frameOfTick(m_timeline->facts().totalTick);
        m_endPosition = positionOfTime(m_timeline->timeOfTick(m_timeline->facts().totalTick));
        m_loopFrame = frameOfTick(m_loopTick);
        if (repeating())
            m_repeatEndPosition = positionOfTime(m_timeline->timeOfTick(m_repeatEndTick));
        m_anchorPosition = atAnchor ? positionOfFrame(frameOfTick(m_anchorTick)) : m_position;
        if (!atAnchor)
            m_anchorTick = m_timeline->tickOfTime(time);
        m_position = std::max(m_position, m_anchorPosition);
    }
    m_rate = rate;
    m_sink = sink;
    m_clock = 0;
    m_volumeSent.fill(-1);
    // A new device starts with its own drum parts; the chase below tells it the song's.
    resetDrumParts();
    if (m_state != BRSSTATE_STOP && m_timeline) {
        m_chase.collect(*m_timeline, m_next, m_option & BRSPLAY_SYSEX);
        sendChase(m_chase, m_clock);
    }
}

void Sequencer::chaseAgain()
{
    if (m_state == BRSSTATE_STOP || !m_timeline)
        return;
    m_chase.collect(*m_timeline, m_next, m_option & BRSPLAY_SYSEX);
    sendChase(m_chase, m_clock);
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

SongPosition Sequencer::positionOfFrame(std::int64_t songFrame) const
{
    return SongPosition(std::uint64_t(songFrame)) * 100 * (std::uint64_t(m_timeline->facts().timeBase) * 1000000);
}

std::uint64_t Sequencer::timeOfPosition(SongPosition position) const
{
    return std::uint64_t(position / (SongPosition(100) * m_rate));
}

std::int64_t Sequencer::framesUntil(SongPosition target) const
{
    if (target <= m_position)
        return 0;
    const SongPosition step = SongPosition(std::uint64_t(m_ratio)) * (std::uint64_t(m_timeline->facts().timeBase) * 1000000);
    return std::int64_t((target - m_position + step - 1) / step);
}

SongPosition Sequencer::positionOfEvent(std::size_t index)
{
    const auto &tempo = m_timeline->tempoMap();
    const std::uint32_t tick = m_timeline->events()[index].tick;
    while (m_segment + 1 < tempo.size() && tempo[m_segment + 1].tick <= tick)
        ++m_segment;
    const TempoSegment &s = tempo[m_segment];
    return positionOfTime(s.startTime + std::uint64_t(tick - s.tick) * s.usPerQuarter);
}

void Sequencer::positionAt(std::int64_t tick)
{
    m_position = m_anchorPosition = positionOfFrame(frameOfTick(tick));
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
    if (repeating()) {
        if (tick >= m_repeatEndTick)
            tick = m_repeatStartTick;
        // Only the option bits that change what a chase sends call for a new one (a seek in a
        // large song would otherwise pay for two more folds of it).
        if ((option ^ m_repeatOption) & (BRSPLAY_SYSEX | BRSPLAY_NORMALIZE))
            prepareRepeat();
    }
    m_loopTick = facts.loopTick < 0 ? 0 : facts.loopTick;
    m_loopFrame = frameOfTick(m_loopTick);
    const bool sysExResets = option & BRSPLAY_SYSEX;
    m_loopChase.collect(*m_timeline, m_timeline->firstEventAtOrAfter(m_loopTick), sysExResets);
    m_cutAtWrap = 0;
    if (option & BRSPLAY_LOOP) {
        m_chase.collect(*m_timeline, m_timeline->events().size(), sysExResets);
        m_cutAtWrap = channelsChangingAudibly(m_chase, m_loopChase);
    }
    m_state = BRSSTATE_PLAY;
    if (tick >= facts.totalTick) {
        // Every event, the last tick's included, is state to chase: nothing of it sounds.
        m_chase.collect(*m_timeline, m_timeline->events().size(), sysExResets);
        sendChase(m_chase, m_clock);
        positionAt(facts.totalTick);
        m_next = m_timeline->events().size();
        reachEnd(m_clock);
        return true;
    }
    positionAt(tick);
    m_chase.collect(*m_timeline, m_next, sysExResets);
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
        // With an A–B repeat, B is the end: the events from B on are not sent while it holds.
        const bool repeat = repeating();
        const std::size_t last = repeat ? m_repeatEndIndex : events.size();
        while (m_next < last) {
            const std::int64_t offset = framesUntil(positionOfEvent(m_next));
            if (offset >= remaining)
                break;
            dispatch(events[m_next], clockAt + offset);
            ++m_next;
        }
        if (m_next >= last) {
            const SongPosition end = repeat ? m_repeatEndPosition : m_endPosition;
            const std::int64_t offset = framesUntil(end);
            if (offset <= remaining) {
                clockAt += offset;
                remaining -= offset;
                m_position = end;
                if (repeat) {
                    wrapToRepeatStart(clockAt);
                    continue;
                }
                if (reachEnd(clockAt))
                    continue;
                break;
            }
        }
        m_position += SongPosition(std::uint64_t(remaining)) * std::uint64_t(m_ratio)
                      * (std::uint64_t(m_timeline->facts().timeBase) * 1000000);
        break;
    }
}

bool Sequencer::reachEnd(std::int64_t clock)
{
    // A loop shorter than 10 ms would go round thousands of times inside one audio block, each
    // pass a chase: such a song (only a damaged or hostile file has one) stops instead.
    if ((m_option & BRSPLAY_LOOP) && m_endFrame - m_loopFrame >= std::max<std::int64_t>(m_rate / 100, 1)) {
        silenceAt(clock, false);
        // The chase resets the controllers of voices still releasing: where that would make
        // them louder (a faded ending) or bend them, they end at once instead.
        for (int ch = 0; ch < 16; ++ch)
            if (m_cutAtWrap & (1u << ch))
                sendChannel(std::uint8_t(0xB0 | ch), kAllSoundOff, 0, clock);
        sendChase(m_loopChase, clock);
        positionAt(m_loopTick);
        ++m_loopCount;
        return true;
    }
    silenceAt(clock, true);
    m_state = BRSSTATE_STOP;
    m_position = m_anchorPosition = m_endPosition;
    m_anchorTick = m_timeline->facts().totalTick;
    return false;
}

std::int64_t Sequencer::framesUntilNextEvent()
{
    if (m_state != BRSSTATE_PLAY || !m_timeline)
        return -1;
    const bool repeat = repeating();
    SongPosition due = repeat ? m_repeatEndPosition : m_endPosition;
    if (m_next < (repeat ? m_repeatEndIndex : m_timeline->events().size()))
        due = std::min(due, positionOfEvent(m_next));
    return framesUntil(due);
}

bool Sequencer::setRepeat(std::int64_t startTick, std::int64_t endTick)
{
    if (!m_timeline || startTick < 0 || endTick <= startTick || endTick > m_timeline->facts().totalTick)
        return false;
    // The same floor as a loop: each pass is a chase, and thousands inside one audio block
    // would be a song that only ever chases.
    if (frameOfTick(endTick) - frameOfTick(startTick) < std::max<std::int64_t>(m_rate / 100, 1))
        return false;
    m_repeatStartTick = startTick;
    m_repeatEndTick = endTick;
    m_repeatEndIndex = m_timeline->firstEventAtOrAfter(endTick);
    m_repeatEndPosition = positionOfTime(m_timeline->timeOfTick(endTick));
    prepareRepeat();
    // Set behind the playing position: the singer wants the passage now, not after the song.
    if (m_state == BRSSTATE_PLAY && m_position >= m_repeatEndPosition)
        wrapToRepeatStart(m_clock);
    return true;
}

void Sequencer::prepareRepeat()
{
    m_repeatOption = m_option;
    const bool sysExResets = m_option & BRSPLAY_SYSEX;
    m_repeatChase.collect(*m_timeline, m_timeline->firstEventAtOrAfter(m_repeatStartTick), sysExResets);
    m_chase.collect(*m_timeline, m_repeatEndIndex, sysExResets);
    m_cutAtRepeat = channelsChangingAudibly(m_chase, m_repeatChase);
}

void Sequencer::wrapToRepeatStart(std::int64_t clock)
{
    // As at the loop wrap: notes end, pedals lift, voices that the chase would make louder or
    // bend end at once, then the state at A.
    silenceAt(clock, false);
    for (int ch = 0; ch < 16; ++ch)
        if (m_cutAtRepeat & (1u << ch))
            sendChannel(std::uint8_t(0xB0 | ch), kAllSoundOff, 0, clock);
    sendChase(m_repeatChase, clock);
    positionAt(m_repeatStartTick);
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
    const std::uint16_t bit = std::uint16_t(1u << channel);
    if (type == 0xB0 && data1 == kVolume) {
        // The mixer's level scales every volume the channel gets; the song's value is kept so a
        // level changed later can be applied to it.
        m_volumeSent[std::size_t(channel)] = data2;
        data2 = leveledVolume(channel, data2);
    }
    if (type == 0x90 && data2 > 0) {
        auto &count = m_notes[channel][data1];
        if (count < 255)
            ++count;
        m_touchedChannels |= bit;
        if (m_sounding[std::size_t(channel)] < 255)
            ++m_sounding[std::size_t(channel)];
        ++m_noteOns[std::size_t(channel)];
        m_lastVelocity[std::size_t(channel)] = data2;
        publishChannel(channel);
    } else if (type == 0x80 || type == 0x90) {
        auto &count = m_notes[channel][data1];
        if (count > 0) {
            --count;
            if (m_sounding[std::size_t(channel)] > 0)
                --m_sounding[std::size_t(channel)];
            publishChannel(channel);
        }
    } else if (type == 0xB0 && (data1 == kAllNotesOff || data1 == kAllSoundOff)) {
        m_notes[channel].fill(0);
        m_struck[channel].fill(Struck{});
        m_sounding[std::size_t(channel)] = 0;
        publishChannel(channel);
    } else if (type == 0xB0 && data1 == kBankMsb) {
        m_bankMsb[channel] = data2;
    } else if (type == 0xB0 && data1 == kBankLsb) {
        m_bankLsb[std::size_t(channel)] = data2;
    } else if (type == 0xC0) {
        // XG drum and SFX kits, GM2 rhythm bank.
        const std::uint8_t bank = m_bankMsb[channel];
        if (bank == 127 || bank == 126 || bank == 120)
            m_drumByProgram |= bit;
        else
            m_drumByProgram &= std::uint16_t(~bit);
        m_program[std::size_t(channel)] = data1;
        m_programBanks[std::size_t(channel)] = std::uint16_t((m_bankMsb[channel] << 8) | m_bankLsb[std::size_t(channel)]);
        m_programSent |= bit;
        publishChannel(channel);
    } else if (type == 0xB0 && data1 == kSustain) {
        if (fromSong)
            m_sustainLifted &= std::uint16_t(~bit);
        if (data2 >= 64)
            m_sustained |= std::uint16_t(1u << channel);
        else
            m_sustained &= std::uint16_t(~(1u << channel));
    } else if (type == 0xB0 && data1 == kSostenuto) {
        if (fromSong)
            m_sostenutoLifted &= std::uint16_t(~bit);
        if (data2 >= 64)
            m_sostenuto |= std::uint16_t(1u << channel);
        else
            m_sostenuto &= std::uint16_t(~(1u << channel));
    } else if (type == 0xB0 && data1 == kResetControllers) {
        m_sustained &= std::uint16_t(~(1u << channel));
        m_sostenuto &= std::uint16_t(~(1u << channel));
    }
    if (!m_sink)
        return;
    m_scratch[0] = status;
    m_scratch[1] = data1;
    m_scratch[2] = data2;
    m_sink->send(MidiMessage{m_scratch, (type == 0xC0 || type == 0xD0) ? 2u : 3u}, clock);
}

bool Sequencer::isDrumChannel(int channel) const
{
    return channel == 9 || ((m_drumByProgram | m_drumBySysEx) >> channel) & 1;
}

void Sequencer::resetDrumParts()
{
    m_bankMsb.fill(0);
    m_bankLsb.fill(0);
    m_drumByProgram = m_drumBySysEx = 0;
    for (int ch = 0; ch < 16; ++ch)
        publishChannel(ch);
}

void Sequencer::sendSysEx(const TimelineEvent &event, std::int64_t clock)
{
    const std::uint8_t *data = m_timeline->pool() + event.value;
    bool drum = false;
    const bool reset = isResetSysEx(data, event.length);
    if (reset) {
        resetDrumParts();
    } else if (const int channel = drumPartSysEx(data, event.length, drum); channel >= 0) {
        if (drum)
            m_drumBySysEx |= std::uint16_t(1u << channel);
        else
            m_drumBySysEx &= std::uint16_t(~(1u << channel));
        publishChannel(channel);
    }
    if (m_sink)
        m_sink->send(MidiMessage{data, event.length}, clock);
    if (reset) {
        // The reset put every volume back to the device's 100: lowered channels stay lowered.
        m_volumeSent.fill(100);
        for (int ch = 0; ch < 16; ++ch)
            if (m_level[std::size_t(ch)] != 100 && (m_timeline->facts().usedChannels >> ch & 1))
                sendChannel(std::uint8_t(0xB0 | ch), kVolume, 100, clock, false);
    }
}

void Sequencer::releaseStruck(int channel, int key, std::int64_t clock)
{
    Struck &s = m_struck[channel][key];
    const int count = s.count;
    s.count = 0;
    if (s.key >= 0 && !s.silent)
        for (int i = 0; i < count; ++i)
            sendChannel(std::uint8_t(0x80 | channel), std::uint8_t(s.key), 0, clock);
}

void Sequencer::sendSongNote(std::uint8_t status, std::uint8_t key, std::uint8_t value, std::int64_t clock)
{
    const int channel = status & 0x0F;
    const bool shifted = !isDrumChannel(channel);
    const int target = shifted ? key + m_keyShift : key;
    const int mapped = target < 0 || target > 127 ? -1 : target;
    Struck &s = m_struck[channel][key];
    if ((status & 0xF0) == 0x90 && value > 0) {
        const bool silent = (silencedChannels() >> channel) & 1;
        // A second strike of a sounding key that lands elsewhere (its channel changed between
        // melodic and drum) ends the first, so no note-off can miss it. A note heard over ones
        // the mixer kept silent takes their place: their note-offs then end it, as when a song
        // strikes a sounding key twice.
        if (s.count > 0 && (s.key != mapped || s.silent != silent))
            releaseStruck(channel, key, clock);
        s.key = std::int8_t(mapped);
        s.shifted = shifted;
        s.silent = silent;
        s.velocity = value;
        if (s.count < 255)
            ++s.count;
        if (mapped >= 0 && !silent)
            sendChannel(status, std::uint8_t(mapped), value, clock);
        return;
    }
    // Note-off or key pressure: to where the note went. With no note sounding on the key (it
    // began before a seek or was already released by a key change, a stop, an all-notes-off)
    // nothing is sent: under a changed key it would land on a key that was never struck.
    if (s.count == 0)
        return;
    if ((status & 0xF0) != 0xA0)
        --s.count;
    if (s.key >= 0 && !s.silent)
        sendChannel(status, std::uint8_t(s.key), value, clock);
}

std::uint8_t Sequencer::leveledVolume(int channel, std::uint8_t value) const
{
    const int level = m_level[std::size_t(channel)];
    return level == 100 ? value : std::uint8_t((value * level + 50) / 100);
}

void Sequencer::setChannelMute(int channel, bool muted)
{
    if (channel < 0 || channel > 15)
        return;
    const std::uint16_t was = silencedChannels();
    const std::uint16_t bit = std::uint16_t(1u << channel);
    m_muted = muted ? std::uint16_t(m_muted | bit) : std::uint16_t(m_muted & ~bit);
    applySilence(was);
    publishChannel(channel);
}

void Sequencer::setChannelSolo(int channel, bool soloed)
{
    if (channel < 0 || channel > 15)
        return;
    const std::uint16_t was = silencedChannels();
    const std::uint16_t bit = std::uint16_t(1u << channel);
    m_soloed = soloed ? std::uint16_t(m_soloed | bit) : std::uint16_t(m_soloed & ~bit);
    applySilence(was);
    for (int ch = 0; ch < 16; ++ch)
        publishChannel(ch);
}

void Sequencer::setChannelLevel(int channel, int percent)
{
    if (channel < 0 || channel > 15)
        return;
    percent = std::clamp(percent, 0, 100);
    if (m_level[std::size_t(channel)] == percent)
        return;
    m_level[std::size_t(channel)] = std::uint8_t(percent);
    publishChannel(channel);
    // Applied at once to what the device has; a stopped song gets it with its next chase.
    const std::int16_t volume = m_volumeSent[std::size_t(channel)];
    if (m_state != BRSSTATE_STOP && volume >= 0)
        sendChannel(std::uint8_t(0xB0 | channel), kVolume, std::uint8_t(volume), m_clock, false);
}

void Sequencer::applySilence(std::uint16_t was)
{
    const std::uint16_t now = silencedChannels();
    for (int ch = 0; ch < 16; ++ch) {
        const std::uint16_t bit = std::uint16_t(1u << ch);
        if ((now & bit) && !(was & bit)) {
            // Sounding notes end now (their release, no click); the song's note-offs for them
            // then find them silent. A held pedal would keep them ringing: it is lifted, and
            // pressed again when the channel comes back unless the song has moved it meanwhile.
            for (auto &s : m_struck[std::size_t(ch)]) {
                if (s.count == 0 || s.silent)
                    continue;
                if (s.key >= 0)
                    for (int i = 0; i < s.count; ++i)
                        sendChannel(std::uint8_t(0x80 | ch), std::uint8_t(s.key), 0, m_clock);
                s.silent = true;
            }
            if (m_sustained & bit) {
                sendChannel(std::uint8_t(0xB0 | ch), kSustain, 0, m_clock, false);
                m_sustainLifted |= bit;
            }
            if (m_sostenuto & bit) {
                sendChannel(std::uint8_t(0xB0 | ch), kSostenuto, 0, m_clock, false);
                m_sostenutoLifted |= bit;
            }
        } else if (!(now & bit) && (was & bit)) {
            if (m_sustainLifted & bit)
                sendChannel(std::uint8_t(0xB0 | ch), kSustain, 127, m_clock, false);
            if (m_sostenutoLifted & bit)
                sendChannel(std::uint8_t(0xB0 | ch), kSostenuto, 127, m_clock, false);
            m_sustainLifted &= std::uint16_t(~bit);
            m_sostenutoLifted &= std::uint16_t(~bit);
            // Notes the song holds come back on melodic channels; a drum hit struck late would
            // be a hit off the beat, so drums wait for their next note.
            const bool restrike = !isDrumChannel(ch);
            for (auto &s : m_struck[std::size_t(ch)]) {
                if (s.count == 0 || !s.silent)
                    continue;
                if (!restrike) {
                    s.count = 0;
                    s.silent = false;
                    continue;
                }
                s.silent = false;
                if (s.key >= 0)
                    for (int i = 0; i < s.count; ++i)
                        sendChannel(std::uint8_t(0x90 | ch), std::uint8_t(s.key), s.velocity, m_clock);
            }
        }
    }
}

void Sequencer::publishChannel(int channel)
{
    const std::size_t c = std::size_t(channel);
    const std::uint16_t bit = std::uint16_t(1u << channel);
    std::uint8_t flags = 0;
    if (isDrumChannel(channel))
        flags |= BRSCHANNEL_DRUM;
    if (silencedChannels() & bit)
        flags |= BRSCHANNEL_SILENCED;
    if (m_muted & bit)
        flags |= BRSCHANNEL_MUTED;
    if (m_soloed & bit)
        flags |= BRSCHANNEL_SOLOED;
    if (m_programSent & bit)
        flags |= BRSCHANNEL_PROGRAM;
    const std::uint64_t first = std::uint64_t(m_noteOns[c]) | std::uint64_t(m_lastVelocity[c]) << 32
                                | std::uint64_t(m_sounding[c]) << 40 | std::uint64_t(m_program[c]) << 48
                                | std::uint64_t(m_programBanks[c] >> 8) << 56;
    const std::uint64_t second = std::uint64_t(m_programBanks[c] & 0xFF) | std::uint64_t(flags) << 8
                                 | std::uint64_t(m_level[c]) << 16;
    m_published[2 * c].store(first, std::memory_order_relaxed);
    m_published[2 * c + 1].store(second, std::memory_order_relaxed);
}

TBrs4ChannelStatus Sequencer::channelStatus(int channel) const
{
    TBrs4ChannelStatus s{};
    if (channel < 0 || channel > 15)
        return s;
    const std::uint64_t first = m_published[2 * std::size_t(channel)].load(std::memory_order_relaxed);
    const std::uint64_t second = m_published[2 * std::size_t(channel) + 1].load(std::memory_order_relaxed);
    s.NoteOns = std::uint32_t(first);
    s.Velocity = std::uint8_t(first >> 32);
    s.Sounding = std::uint8_t(first >> 40);
    s.Program = std::uint8_t(first >> 48);
    s.BankMsb = std::uint8_t(first >> 56);
    s.BankLsb = std::uint8_t(second);
    s.Flags = std::uint8_t(second >> 8);
    s.Level = std::uint8_t(second >> 16);
    return s;
}

void Sequencer::setKeyShift(int semitones)
{
    semitones = std::clamp(semitones, -12, 12);
    if (semitones == m_keyShift)
        return;
    // Melodic notes sounding now go on at the new key: each ends where it was struck and is
    // struck again, with its velocity, where the new key puts it (a singer's held chord must not
    // fall silent). All note-offs go first: a new key may land where another note sounded, and a
    // note-off after the new strike would end it.
    m_keyShift = semitones;
    for (int ch = 0; ch < 16; ++ch)
        for (int key = 0; key < 128; ++key) {
            Struck &s = m_struck[ch][key];
            // A muted channel's notes were never sent: nothing to end or strike again.
            if (s.count == 0 || !s.shifted || s.key < 0 || s.silent)
                continue;
            for (int i = 0; i < s.count; ++i)
                sendChannel(std::uint8_t(0x80 | ch), std::uint8_t(s.key), 0, m_clock);
        }
    for (int ch = 0; ch < 16; ++ch)
        for (int key = 0; key < 128; ++key) {
            Struck &s = m_struck[ch][key];
            if (s.count == 0 || !s.shifted)
                continue;
            // A note pushed outside 0-127 stays silent until its note-off, which then goes
            // nowhere; it comes back if a later change brings it into range.
            const int target = key + semitones;
            s.key = std::int8_t(target < 0 || target > 127 ? -1 : target);
            if (s.key >= 0 && !s.silent)
                for (int i = 0; i < s.count; ++i)
                    sendChannel(std::uint8_t(0x90 | ch), std::uint8_t(s.key), s.velocity, m_clock);
        }
}

void Sequencer::setTempoRatio(int percent) { m_ratio = std::clamp(percent, 50, 200); }

void Sequencer::dispatch(const TimelineEvent &event, std::int64_t clock)
{
    switch (event.kind) {
    case TimelineEvent::Channel: {
        const int type = event.bytes[0] & 0xF0;
        if (type == 0x80 || type == 0x90 || type == 0xA0)
            sendSongNote(event.bytes[0], event.bytes[1], event.bytes[2], clock);
        else
            sendChannel(event.bytes[0], event.bytes[1], event.bytes[2], clock);
        break;
    }
    case TimelineEvent::SysEx:
        if (m_option & BRSPLAY_SYSEX)
            sendSysEx(event, clock);
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
            sendSysEx(m_timeline->events()[index], clock);
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
        // The bank the program was chosen from, then the program; a bank select sent after the
        // program waits, as in the song, for the next program change.
        cc(kBankMsb, std::max<int>(c.programBankMsb, 0));
        cc(kBankLsb, std::max<int>(c.programBankLsb, 0));
        sendChannel(std::uint8_t(0xC0 | ch), std::uint8_t(std::max<int>(c.program, 0)), 0, clock);
        if (std::max<int>(c.controller[kBankMsb], 0) != std::max<int>(c.programBankMsb, 0))
            cc(kBankMsb, c.controller[kBankMsb]);
        if (std::max<int>(c.controller[kBankLsb], 0) != std::max<int>(c.programBankLsb, 0))
            cc(kBankLsb, c.controller[kBankLsb]);
        if (c.controller[kVolume] >= 0)
            cc(kVolume, c.controller[kVolume]);
        else
            cc(kVolume, 100, false);
        cc(kPan, c.controller[kPan] >= 0 ? c.controller[kPan] : 64);
        for (int n = 0; n < 120; ++n)
            if (replayedAsIs(n) && c.controller[n] >= 0)
                cc(n, c.controller[n]);
        for (const ChaseState::Parameter &param : c.parameters) {
            cc(param.nrpn ? kNrpnMsb : kRpnMsb, param.number >> 7);
            cc(param.nrpn ? kNrpnLsb : kRpnLsb, param.number & 0x7F);
            // In the song's order: devices that apply the value at the MSB take the LSB stored
            // before it, so an LSB sent first must come first here too.
            if (param.lsbLast && param.msb >= 0)
                cc(kDataMsb, param.msb);
            if (param.lsb >= 0)
                cc(kDataLsb, param.lsb);
            if (!param.lsbLast && param.msb >= 0)
                cc(kDataMsb, param.msb);
        }
        // Leave the parameter selection as the song left it, so later data entries land right.
        const int selMsb = c.selectedNrpn ? kNrpnMsb : kRpnMsb;
        const int selLsb = c.selectedNrpn ? kNrpnLsb : kRpnLsb;
        if (c.controller[selMsb] >= 0 || c.controller[selLsb] >= 0) {
            cc(selMsb, std::max<int>(c.controller[selMsb], 0));
            cc(selLsb, std::max<int>(c.controller[selLsb], 0));
        } else if (!c.parameters.empty()) {
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
        m_struck[ch].fill(Struck{});
        m_sounding[std::size_t(ch)] = 0;
        publishChannel(ch);
        if (m_sustained & (1u << ch))
            sendChannel(std::uint8_t(0xB0 | ch), kSustain, 0, clock);
        if (m_sostenuto & (1u << ch))
            sendChannel(std::uint8_t(0xB0 | ch), kSostenuto, 0, clock);
        if (allNotesOff && (m_touchedChannels & (1u << ch)))
            sendChannel(std::uint8_t(0xB0 | ch), kAllNotesOff, 0, clock);
    }
    if (allNotesOff)
        m_touchedChannels = 0;
    m_sustainLifted = m_sostenutoLifted = 0;
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
    if (m_position == m_anchorPosition) {
        tick = m_anchorTick;
        time = m_timeline->timeOfTick(tick);
    } else {
        time = timeOfPosition(m_position);
        tick = std::min<std::int64_t>(m_timeline->tickOfTime(time), m_timeline->facts().totalTick);
    }
    s.Tick = std::int32_t(tick);
    s.Time = std::int32_t(std::min<std::uint64_t>(time / (std::uint64_t(m_timeline->facts().timeBase) * 1000),
                                                  std::numeric_limits<std::int32_t>::max()));
    // As played: the song's tempo at the present ratio.
    s.Tempo = std::int32_t(std::int64_t(m_timeline->tempoAtTick(tick)) * 100 / m_ratio);
    return s;
}

} // namespace brisola
