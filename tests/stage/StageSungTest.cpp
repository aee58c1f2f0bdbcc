// The stage fed from the sung-lines model of generated songs: marked syllables, XF with
// furigana, parts and pages; the wipe is on the syllable the song plays, at every time.
#include "SmfBuilder.h"
#include "SmfParser.h"
#include "StageTimeline.h"
#include "SungLines.h"

#include <gtest/gtest.h>

using namespace tonelark;
using namespace tonelark::test;

namespace {

struct Sung {
    TSmfParser parser;
    SungLines lines;
    StageSong song;
    explicit Sung(const QByteArray &bytes)
    {
        parser.Execute(bytes.constData(), quint32(bytes.size()));
        lines = buildSungLines(sungInputOf(parser, parser.TempoList()), SungLineMode::Auto, {});
        song = stageSongFromSungLines(lines, QStringLiteral("title"));
    }
};

// Every 5 ms of the song: the syllable being wiped is the one whose ticks hold the tick the
// song is at then (by the same tempo map), and nothing before it is left unsung.
void expectWipeFollowsTheSong(const StageSong &song, const TSmfEventTempoList &tempo)
{
    const StageTimeline timeline(song, &tempo, 3);
    for (qint64 ms = 0; ms < 20000; ms += 5) {
        const StageFrame frame = timeline.frameAt(ms);
        if (frame.currentLine < 0)
            continue;
        const StageTimedLine &line = timeline.lines()[size_t(frame.currentLine)];
        const StageLine &source = song.lines[size_t(line.source)];
        const qint32 tick = tempo.TimeToTick(ms, tuMilliseconds);
        for (size_t s = 0; s < line.syllables.size(); ++s) {
            const double wipe = line.syllables[s].wipe(double(ms));
            const qint32 from = source.syllables[s].tick;
            const qint32 to = s + 1 < source.syllables.size() ? source.syllables[s + 1].tick : INT32_MAX;
            if (tick >= to) {
                EXPECT_EQ(wipe, 1.0) << ms << " ms, syllable " << s;
            } else if (tick < from) {
                EXPECT_EQ(wipe, 0.0) << ms << " ms, syllable " << s;
            } else if (to != INT32_MAX) {
                EXPECT_TRUE(wipe >= 0.0 && wipe < 1.0) << ms << " ms, syllable " << s;
            }
        }
    }
}

} // namespace

TEST(StageSung, MarkedSyllablesBecomeLinesWipedToTheSyllableThroughATempoChange)
{
    TrackBuilder track;
    track.tempo(0, 500000);
    const QStringList syllables{"/さ", "く", "ら", "/や", "よ", "い", "の", "/そ", "ら", "は"};
    bool first = true;
    for (const QString &syllable : syllables) {
        track.lyric(first ? 480 : 240, syllable);
        if (syllable == QStringLiteral("よ"))
            track.tempo(120, 250000); // twice as fast in the middle of よ
        first = false;
    }
    track.endOfTrack();
    const Sung sung(smf(0, 480, {track}));
    ASSERT_EQ(sung.song.lines.size(), 3u);
    EXPECT_EQ(sung.song.lines[0].text(), QStringLiteral("さくら"));
    ASSERT_EQ(sung.song.lines[1].syllables.size(), 4u);
    EXPECT_EQ(sung.song.lines[1].syllables[1].tick, 480 + 240 * 4);
    expectWipeFollowsTheSong(sung.song, *sung.parser.TempoList());
}

TEST(StageSung, XfFuriganaPartsPagesAndTheDisplayOffset)
{
    TrackBuilder words;
    words.meta(0, 0x07, "$Lyrc:1,2:240:JP")
        .meta(0, 0x07, "&f")
        .lyric(480, "<春[は")
        .lyric(120, "る]の")
        .lyric(120, "/小川[おがわ]")
        .meta(120, 0x07, "&m")
        .lyric(0, "<さ^ら")
        .endOfTrack();
    TrackBuilder track;
    track.meta(0, 0x7F, bytesOf({0x43, 0x7B, 0x00, 'X', 'F', '0', '2', 0x00, 0x1B, 0x00}));
    track.event(0, {0x90, 60, 100}).event(480, {0x80, 60, 0}).endOfTrack();
    const Sung sung(smf(0, 480, {track}) + chunk("XFKM", words.bytes()));
    const StageSong &song = sung.song;
    ASSERT_EQ(song.lines.size(), 3u);
    EXPECT_EQ(song.displayLeadTicks, 240);
    EXPECT_EQ(song.lines[0].text(), QStringLiteral("春の"));
    EXPECT_EQ(song.lines[0].part, VocalPart::Female);
    EXPECT_EQ(song.lines[2].part, VocalPart::Male);
    EXPECT_TRUE(song.lines[2].pageStart);
    EXPECT_FALSE(song.lines[1].pageStart);
    ASSERT_EQ(song.lines[0].rubies.size(), 1u);
    const StageRuby &haru = song.lines[0].rubies[0];
    EXPECT_EQ(haru.column, 0);
    EXPECT_EQ(haru.length, 1);
    EXPECT_EQ(haru.text(), QStringLiteral("はる"));

    const TSmfEventTempoList &tempo = *sung.parser.TempoList();
    const StageTimeline timeline(song, &tempo, 2);
    // は over 春's time, る with の (the event that carries it).
    const StageTimedLine &line = timeline.lines()[0];
    ASSERT_EQ(line.kana[0].size(), 2u);
    EXPECT_EQ(line.kana[0][0].startMs, 500);
    EXPECT_EQ(line.kana[0][0].endMs, 625);
    EXPECT_EQ(line.kana[0][1].startMs, 625);
    EXPECT_EQ(line.kana[0][1].endMs, 750);
    // Shown 240 ticks (250 ms) before the first line; the page mark gives line 2 a page.
    EXPECT_TRUE(timeline.frameAt(249).empty());
    EXPECT_EQ(timeline.frameAt(250).slotLines, (std::vector<int>{0, 1}));
    EXPECT_EQ(timeline.lines()[2].page, 1);
    expectWipeFollowsTheSong(song, tempo);
}
