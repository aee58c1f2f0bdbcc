// libFuzzer target: any bytes through the engine's SMF reader and, when accepted, a short play
// through the sequencer (chase, loop, an A–B repeat, every option bit) into a sink that checks
// the messages.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Sequencer.h"
#include "SmfTimeline.h"

namespace {

class CheckingSink final : public brisola::MidiSink {
public:
    void send(const brisola::MidiMessage &message, std::int64_t frame) override
    {
        if (message.size == 0 || !message.data || frame < m_lastFrame)
            std::abort();
        m_lastFrame = frame;
        volatile std::uint8_t sum = 0;
        for (std::uint32_t i = 0; i < message.size; ++i)
            sum = std::uint8_t(sum + message.data[i]);
    }

private:
    std::int64_t m_lastFrame = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    BrsError error;
    auto timeline = brisola::SmfTimeline::read(data, size, error);
    if (!timeline)
        return 0;
    const TBrs4SmfInformation info = timeline->information();
    if (timeline->programUses().size() > 1024)
        std::abort();
    CheckingSink sink;
    brisola::Sequencer sequencer(44100);
    sequencer.setTimeline(timeline);
    sequencer.setSink(&sink, 44100);
    const std::int32_t option = size ? data[size - 1] : 0;
    // Key and tempo from the input, changed again halfway while notes may sound.
    sequencer.setKeyShift(int(data[0] % 25) - 12);
    sequencer.setTempoRatio(50 + int(size % 151));
    sequencer.play(option | BRSPLAY_LOOP, info.TotalTick / 2);
    for (int i = 0; i < 64 && sequencer.state() == BRSSTATE_PLAY; ++i) {
        if (i == 32) {
            sequencer.setKeyShift(int(data[size / 2] % 25) - 12);
            sequencer.setTempoRatio(50 + int(data[size / 2] % 151));
        }
        if (i == 16 && size > 2) {
            // An A–B range from the input, set while playing, perhaps behind the position.
            const std::int64_t a = std::int64_t(info.TotalTick) * data[1] / 256;
            sequencer.setRepeat(a, a + 1 + (info.TotalTick - a) * std::int64_t(data[2]) / 256);
        }
        sequencer.advance(44100 / 4);
        // A range holds the play: it never stops nor passes B.
        if (sequencer.repeating()
            && (sequencer.state() != BRSSTATE_PLAY || sequencer.status().Tick >= sequencer.repeatEndTick()))
            std::abort();
    }
    sequencer.stop();
    if (sequencer.soundingNotes() != 0)
        std::abort();
    return 0;
}
