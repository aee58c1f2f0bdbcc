#include "SmfBuilder.h"
#include "SmfParser.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace tonelark;
using namespace tonelark::test;

namespace {

const QString kUnexpectedEnd = QStringLiteral(
    "MIDIデータの解析中に予期しないファイルの終端へ到達しました。\r\nデータが壊れている可能性があります。");

void execute(TSmfParser &parser, const QByteArray &data)
{
    parser.Execute(data.constData(), static_cast<quint32>(data.size()));
}

// The refusal message, or an empty string when the data parses.
QString refusalOf(const QByteArray &data)
{
    TSmfParser parser;
    try {
        execute(parser, data);
    } catch (const ESmfParserException &e) {
        return e.message();
    }
    return {};
}

std::vector<std::pair<qint32, qint32>> tempoOf(const TSmfParser &parser)
{
    std::vector<std::pair<qint32, qint32>> entries;
    for (const TSmfEventTempo &e : parser.TempoList()->entries())
        entries.emplace_back(e.FPosition, e.FMicroseconds);
    return entries;
}

using Tempo = std::vector<std::pair<qint32, qint32>>;

TrackBuilder oneLyric(const QString &text, quint32 delta = 0)
{
    return std::move(TrackBuilder().lyric(delta, text).endOfTrack());
}

} // namespace

TEST(TSmfParser, RefusesWithExactMessages)
{
    const QByteArray track = oneLyric("a").chunk();
    struct Case { const char *what; QByteArray data; QString message; };
    const std::vector<Case> cases = {
        {"empty", {}, "これはMIDIデータではありません。"},
        {"three bytes", "MTh", "これはMIDIデータではありません。"},
        {"lower case", "mthd" + header(0, 1, 480).mid(4) + track, "これはMIDIデータではありません。"},
        {"RMID wrapper", chunk("RIFF", "RMIDdata" + header(0, 1, 480) + track), "これはMIDIデータではありません。"},
        {"header length 7", header(0, 1, 480, 7) + track,
         "ヘッダサイズが6バイトではありません。対応していないMIDIデータです。"},
        {"format 2", header(2, 1, 480) + track, "フォーマット2は対応していません。"},
        {"format 258", header(258, 1, 480) + track, "フォーマット258は対応していません。"},
        {"time code", header(1, 1, 0xE728) + track, "この分解能には対応していません。"},
        {"time base 0", header(1, 1, 0) + track, "この分解能には対応していません。"},
        {"header cut", header(0, 1, 480).left(12), kUnexpectedEnd},
        {"no track chunk", header(0, 1, 480) + "MTr", kUnexpectedEnd},
        {"chunk cut", header(0, 1, 480) + track.left(track.size() - 3), kUnexpectedEnd},
        {"second track missing", header(1, 2, 480) + track, kUnexpectedEnd},
        {"endless variable length", header(0, 1, 480) + chunk("MTrk", bytesOf({0x80, 0x80, 0x80})), kUnexpectedEnd},
    };
    for (const Case &c : cases)
        EXPECT_EQ(refusalOf(c.data), c.message) << c.what;
}

TEST(TSmfParser, ReadsHeaderAndAcceptsBothFormats)
{
    for (quint16 format : {0, 1}) {
        TSmfParser parser;
        execute(parser, smf(format, 96, {oneLyric("la"), TrackBuilder().endOfTrack()}));
        const TSmfMthd mthd = parser.GetSmfHeader();
        EXPECT_EQ(mthd.Length, 6u);
        EXPECT_EQ(mthd.Format, format);
        EXPECT_EQ(mthd.TrackCount, 2);
        EXPECT_EQ(mthd.TimeBase, 96);
        EXPECT_EQ(parser.Lyric().Count(), 1);
    }
}

TEST(TSmfParser, NoTracksGivesDefaultTempoOnly)
{
    TSmfParser parser;
    execute(parser, header(1, 0, 480));
    EXPECT_EQ(tempoOf(parser), (Tempo{{0, 500000}}));
    EXPECT_TRUE(parser.Copyright().isEmpty() && parser.Title().isEmpty() && parser.Comment().isEmpty()
                && parser.Lyric().isEmpty());
}

TEST(TSmfParser, CollectsMetaTextsTrimmedInFileOrder)
{
    TSmfParser parser;
    execute(parser, smf(1, 480, {
        TrackBuilder().text(0, 0x03, "  Title ").text(0, 0x02, "  word ").text(0, 0x01, "line\r\nbreak")
            .meta(0, 0x01, QByteArray("ab\0cd", 5)).endOfTrack(),
        TrackBuilder().text(0, 0x03, "Second").text(0, 0x02, "   ").text(0, 0x01, QStringLiteral("日本語")).endOfTrack(),
    }));
    EXPECT_EQ(parser.Title().Strings(0), "Title");
    EXPECT_EQ(parser.Title().Strings(1), "Second");
    EXPECT_EQ(parser.Copyright().Strings(0), "word");
    EXPECT_EQ(parser.Copyright().Strings(1), "");
    ASSERT_EQ(parser.Comment().Count(), 3);
    EXPECT_EQ(parser.Comment().Strings(0), "line\r\nbreak"); // one event, one line
    EXPECT_EQ(parser.Comment().Strings(1), "ab");            // ends before the zero byte
    EXPECT_EQ(parser.Comment().Strings(2), QStringLiteral("日本語"));
}

TEST(TSmfParser, DecodesShiftJisLyricsAndTimesThem)
{
    TSmfParser parser;
    parser.SetLyricLoadOptions({lloTrimAnySpace});
    // "\x81\x40" is the ideographic space in CP932.
    execute(parser, smf(0, 480, {TrackBuilder().lyric(480, QStringLiteral("　さくら\r\nさいた")).endOfTrack()}));
    const TSmfMetaEventString &lyric = parser.Lyric();
    ASSERT_EQ(lyric.Count(), 2);
    EXPECT_EQ(lyric.Strings(0), QStringLiteral("さくら"));
    EXPECT_EQ(lyric.Strings(1), QStringLiteral("さいた"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(lyric.Objects(i)->Tick, 480);
        EXPECT_EQ(lyric.Objects(i)->Millisecond, 500);
        EXPECT_EQ(lyric.Objects(i)->Second, 0);
        EXPECT_EQ(lyric.Objects(i)->HideLyricTime, i == 1);
    }
}

TEST(TSmfParser, LyricsOfSeveralTracksKeepTrackOrder)
{
    TSmfParser parser;
    execute(parser, smf(1, 480, {oneLyric("first", 960), oneLyric("second", 960)}));
    ASSERT_EQ(parser.Lyric().Count(), 2);
    EXPECT_EQ(parser.Lyric().Strings(1), "second");
    EXPECT_EQ(parser.Lyric().Objects(1)->Tick, 960);
    EXPECT_EQ(parser.Lyric().Objects(1)->Second, 1);
}

TEST(TSmfParser, ReadsDeltaTimesAsVariableLength)
{
    struct Case { QByteArray delta; qint32 tick; };
    for (const Case &c : {Case{bytesOf({0x00}), 0}, Case{bytesOf({0x81, 0x80, 0x00}), 16384},
                          Case{bytesOf({0x8F, 0xFF, 0xFF, 0xFF, 0x7F}), -1},
                          // Bits shifted beyond 32 are lost.
                          Case{bytesOf({0x81, 0x80, 0x80, 0x80, 0x80, 0x00}), 0}}) {
        TSmfParser parser;
        execute(parser, smf(0, 480, {TrackBuilder().raw(c.delta + bytesOf({0xFF, 0x05, 0x01, 'x'})).endOfTrack()}));
        ASSERT_EQ(parser.Lyric().Count(), 1);
        EXPECT_EQ(parser.Lyric().Objects(0)->Tick, c.tick) << c.delta.toHex().toStdString();
    }
}

TEST(TSmfParser, RunningStatusSurvivesMetaAndSysEx)
{
    // 0x6F 0x00 after the meta and sysex events is a running-status controller 111: it is
    // only seen as such when neither event cleared the Control Change status.
    for (const TrackBuilder &between : {TrackBuilder().text(0, 0x01, "x"),
                                        TrackBuilder().event(0, {0xF0, 0x02, 0x7E, 0xF7})}) {
        TSmfParser parser;
        execute(parser, smf(0, 480, {TrackBuilder().event(0, {0xB0, 0x07, 0x64}).raw(between.bytes())
                                         .event(0, {0x6F, 0x00}).endOfTrack()}));
        EXPECT_TRUE(parser.CC111LoopPoint());
    }
    // A running-status note after a meta event consumes two data bytes, so the lyric that
    // follows sits at the note's delta time.
    TSmfParser parser;
    execute(parser, smf(0, 480, {TrackBuilder().event(0, {0x90, 0x3C, 0x64}).lyric(0, "a")
                                     .event(96, {0x3C, 0x00}).lyric(0, "b").endOfTrack()}));
    ASSERT_EQ(parser.Lyric().Count(), 2);
    EXPECT_EQ(parser.Lyric().Objects(1)->Tick, 96);
}

TEST(TSmfParser, DataByteWithoutRunningStatusIsPassedOver)
{
    // At the start of a track 0x40 is no event; it is read again as the next delta time.
    TSmfParser parser;
    execute(parser, smf(0, 480, {TrackBuilder().raw(bytesOf({0x00, 0x40, 0xFF, 0x05, 0x01, 'a'})).endOfTrack()}));
    ASSERT_EQ(parser.Lyric().Count(), 1);
    EXPECT_EQ(parser.Lyric().Objects(0)->Tick, 0x40);
}

TEST(TSmfParser, SeesController111InAnyChannelAndTrack)
{
    // Controller 111 with value 0 on channel 16 in the last track is enough.
    TSmfParser parser;
    execute(parser, smf(1, 480, {TrackBuilder().event(0, {0xB0, 0x07, 0x6F}).endOfTrack(),
                                 TrackBuilder().event(0, {0xBF, 0x6F, 0x00}).endOfTrack()}));
    EXPECT_TRUE(parser.CC111LoopPoint());
}

TEST(TSmfParser, PassesOverForeignChunksAndStopsAtMTrkInside)
{
    const QByteArray junk = chunk("XFIH", "abcdef");
    TSmfParser parser;
    execute(parser, header(1, 2, 480) + junk + oneLyric("one").chunk() + "\x01\x02" + junk + oneLyric("two").chunk());
    EXPECT_EQ(parser.Lyric().Count(), 2);

    // "MTrk" inside an unknown chunk is taken as the track: here an empty one.
    const QByteArray trap = chunk("XFIH", "..MTrk" + bigEndian(0, 4));
    TSmfParser one;
    execute(one, header(1, 1, 480) + trap + oneLyric("real").chunk());
    EXPECT_EQ(one.Lyric().Count(), 0);
    TSmfParser two;
    execute(two, header(1, 2, 480) + trap + oneLyric("real").chunk());
    EXPECT_EQ(two.Lyric().Count(), 1);
}

TEST(TSmfParser, TrackWithoutEndOfTrackEndsAtItsLength)
{
    TSmfParser parser;
    execute(parser, smf(1, 480, {TrackBuilder().event(0, {0x90, 0x3C, 0x64}).event(10, {0x3C, 0x00}),
                                 oneLyric("next", 5)}));
    ASSERT_EQ(parser.Lyric().Count(), 1);
    EXPECT_EQ(parser.Lyric().Objects(0)->Tick, 5);
}

TEST(TSmfParser, TextRunningPastTheEndKeepsWhatIsThere)
{
    // Length 10, three bytes present: the chunk says it ends there, no further track.
    const QByteArray body = varLen(0) + bytesOf({0xFF, 0x01, 0x0A}) + "abc";
    TSmfParser completes;
    execute(completes, header(0, 1, 480) + chunk("MTrk", body));
    EXPECT_EQ(completes.Comment().Strings(0), "abc");

    // When the chunk claims more, the next read fails, and the text read so far stays.
    TSmfParser raises;
    try {
        execute(raises, header(0, 1, 480) + "MTrk" + bigEndian(100, 4) + body);
        FAIL() << "parsed";
    } catch (const ESmfParserException &e) {
        EXPECT_EQ(e.message(), kUnexpectedEnd);
    }
    EXPECT_EQ(raises.Comment().Strings(0), "abc");

    // A huge length never moves the position backwards or wraps: the walk runs to the end.
    const QByteArray sysex = varLen(0) + bytesOf({0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01});
    EXPECT_EQ(refusalOf(header(0, 1, 480) + "MTrk" + bigEndian(0xFFFFFFFF, 4) + sysex + oneLyric("x").bytes()),
              kUnexpectedEnd);
    EXPECT_EQ(refusalOf(header(1, 2, 480) + "MTrk" + bigEndian(0xFFFFFFFF, 4) + oneLyric("x").bytes()),
              kUnexpectedEnd);
}

TEST(TSmfParser, BuildsTempoMapStartingAtTickZero)
{
    struct Case { const char *what; TrackBuilder track; Tempo tempo; };
    const std::vector<Case> cases = {
        {"none", TrackBuilder(), {{0, 500000}}},
        {"0 and 960", TrackBuilder().tempo(0, 400000).tempo(960, 300000), {{0, 400000}, {960, 300000}}},
        {"only 480", TrackBuilder().tempo(480, 300000), {{0, 500000}, {480, 300000}}},
        {"4 bytes", TrackBuilder().meta(0, 0x51, bigEndian(0x01020304, 4)), {{0, 0x01020304}}},
        {"length 0", TrackBuilder().meta(0, 0x51, {}), {{0, 0}}},
        {"same tick", TrackBuilder().tempo(0, 1).tempo(0, 2), {{0, 1}, {0, 2}}},
    };
    for (const Case &c : cases) {
        TSmfParser parser;
        TrackBuilder track = c.track;
        execute(parser, smf(0, 480, {track.lyric(960, "x").endOfTrack()}));
        EXPECT_EQ(tempoOf(parser), c.tempo) << c.what;
    }
}

TEST(TSmfParser, SortsTempoEventsOfSeveralTracks)
{
    // Tempo at 960 in the first track, at 0 and 960 in the second: the lyric at 1440 lies
    // 960 ticks at 1 s per quarter, then 480 ticks at the tempo that came later in the file.
    TSmfParser parser;
    execute(parser, smf(1, 480, {TrackBuilder().tempo(960, 250000).endOfTrack(),
                                 TrackBuilder().tempo(0, 1000000).tempo(960, 600000).lyric(480, "x").endOfTrack()}));
    EXPECT_EQ(tempoOf(parser), (Tempo{{0, 1000000}, {960, 250000}, {960, 600000}}));
    EXPECT_EQ(parser.Lyric().Objects(0)->Millisecond, 2000 + 600);
    EXPECT_EQ(parser.Lyric().Objects(0)->Second, 2);
}

TEST(TSmfParser, ZeroTempoDoesNotBreakLyricTimes)
{
    TSmfParser parser;
    execute(parser, smf(0, 480, {TrackBuilder().tempo(480, 0).lyric(480, "x").endOfTrack()}));
    EXPECT_EQ(parser.Lyric().Objects(0)->Millisecond, 500);
    const auto tempo = parser.ExtractTempoList();
    EXPECT_EQ(tempo->TimeToTick(60, tuSeconds), 480);
}

TEST(TSmfParser, HandsOverTempoMapAndLyrics)
{
    TSmfParser parser;
    execute(parser, smf(0, 480, {oneLyric("a\nb", 480)}));
    const TSmfLyricInfo *info = parser.Lyric().Objects(0);
    auto tempo = parser.ExtractTempoList();
    ASSERT_TRUE(tempo);
    EXPECT_EQ(tempo->TimeBase(), 480);
    EXPECT_EQ(parser.TempoList(), nullptr);
    EXPECT_EQ(parser.ExtractTempoList(), nullptr);

    TSmfMetaEventString smfLyrics;
    smfLyrics.Assign(parser.ExtractLyric());
    EXPECT_EQ(smfLyrics.Count(), 2);
    EXPECT_EQ(smfLyrics.Objects(0), info);
    EXPECT_EQ(parser.Lyric().Count(), 0);
    // The data is not kept: reading after Execute raises instead of touching it.
    EXPECT_THROW(parser.ExtractVariableLength(), ESmfParserException);
    EXPECT_EQ(parser.ExtractFixedLength(0), 0u);
}
