// The stage against the real sequencer at the singer's tempo ratio: polled every 16 ms of
// wall-clock time as the window polls the engine, the wipe is on the syllable the engine
// plays at 50 %, 100 % and 200 %.
#include "RecordingSink.h"
#include "Sequencer.h"
#include "SmfBuilder.h"
#include "SmfParser.h"
#include "StageTimeline.h"
#include "SungLines.h"

#include <gtest/gtest.h>

using namespace tonelark;
using namespace tonelark::test;

TEST(StageTempoRatio, TheWipeFollowsTheEngineAtAnyRatio)
{
    TrackBuilder track;
    track.tempo(0, 500000);
    bool first = true;
    for (const char *syllable : {"/き", "ら", "き", "ら", "/ひ", "か", "る"}) {
        // A syllable every 480 ticks, each with its note.
        track.lyric(first ? 480 : 80, QString::fromUtf8(syllable));
        track.event(0, {0x90, 60, 100}).event(400, {0x80, 60, 0});
        first = false;
    }
    track.endOfTrack();
    const QByteArray bytes = smf(0, 480, {track});

    TSmfParser parser;
    parser.Execute(bytes.constData(), quint32(bytes.size()));
    const SungLines lines = buildSungLines(sungInputOf(parser, parser.TempoList()), SungLineMode::Auto, {});
    const StageSong song = stageSongFromSungLines(lines, {});
    ASSERT_EQ(song.lines.size(), 2u);
    const StageTimeline timeline(song, parser.TempoList(), 2);

    for (int percent : {50, 100, 200}) {
        SCOPED_TRACE(percent);
        BrsError error;
        const auto smfTimeline = brisola::SmfTimeline::read(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                                            std::size_t(bytes.size()), error);
        ASSERT_TRUE(smfTimeline);
        constexpr std::uint32_t kRate = 1000; // one frame a millisecond of wall-clock time
        brisola::RecordingSink sink;
        brisola::Sequencer sequencer(kRate);
        sequencer.setTimeline(smfTimeline);
        sequencer.setSink(&sink, kRate);
        sequencer.setTempoRatio(percent);
        sequencer.play(0, 0);
        int checked = 0;
        for (int wallMs = 0; wallMs < 12000 && sequencer.state() == BRSSTATE_PLAY; wallMs += 16) {
            const TBrs4PlayerStatus status = sequencer.status();
            // Song time runs at the ratio.
            EXPECT_NEAR(status.Time, wallMs * percent / 100, 2) << wallMs;
            const StageFrame frame = timeline.frameAt(status.Time);
            if (frame.currentLine >= 0) {
                const StageTimedLine &line = timeline.lines()[size_t(frame.currentLine)];
                const StageLine &source = song.lines[size_t(line.source)];
                for (size_t s = 0; s < line.syllables.size(); ++s) {
                    const double wipe = line.syllables[s].wipe(status.Time);
                    const bool started = status.Tick >= source.syllables[s].tick;
                    EXPECT_EQ(wipe > 0.0 || (started && line.syllables[s].startMs == status.Time), started)
                        << wallMs << " ms, syllable " << s << ", tick " << status.Tick;
                }
                ++checked;
            }
            sequencer.advance(16);
        }
        EXPECT_GT(checked, 50);
    }
}
