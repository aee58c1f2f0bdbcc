// The two rules beyond the plain SMF texts: karaoke words in Text events become lyric lines,
// and a song whose texts cannot be CP932 but are all UTF-8 is read as UTF-8.
#include "SmfBuilder.h"
#include "SmfParser.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

using namespace tonelark;
using namespace tonelark::test;

namespace {

struct Line {
    QString text;
    qint32 tick;
    bool hide;
    bool operator==(const Line &) const = default;
};

void PrintTo(const Line &line, std::ostream *os)
{
    *os << '{' << line.text.toStdString() << ", " << line.tick << (line.hide ? ", hidden}" : "}");
}

std::vector<Line> linesOf(const TSmfParser &parser)
{
    std::vector<Line> lines;
    for (int i = 0; i < parser.Lyric().Count(); ++i)
        lines.push_back({parser.Lyric().Strings(i), parser.Lyric().Objects(i)->Tick,
                         parser.Lyric().Objects(i)->HideLyricTime});
    return lines;
}

QStringList textsOf(const TSmfMetaEventString &list)
{
    QStringList texts;
    for (int i = 0; i < list.Count(); ++i)
        texts << list.Strings(i);
    return texts;
}

void parse(TSmfParser &parser, const QByteArray &data, bool karaokeFile = false,
           TLyricLoadOptions options = {})
{
    parser.SetKaraokeFile(karaokeFile);
    parser.SetLyricLoadOptions(options);
    parser.Execute(data.constData(), static_cast<quint32>(data.size()));
}

// A karaoke file as the format lays it out: marker and information in the first track, the
// words track with its own headers, syllables at their ticks.
QByteArray karaokeSong(std::initializer_list<std::pair<quint32, const char *>> syllables)
{
    TrackBuilder first;
    first.text(0, 0x01, "@KMIDI KARAOKE FILE").text(0, 0x01, "@V0100").text(0, 0x01, "@I made for a test")
        .text(0, 0x03, "Melody");
    first.endOfTrack();
    TrackBuilder words;
    words.text(0, 0x03, "Words").text(0, 0x01, "@LENGL").text(0, 0x01, "@TTwinkle Star")
        .text(0, 0x01, "@T Traditional ").text(0, 0x01, "@T(c) nobody");
    for (const auto &[delta, text] : syllables)
        words.text(delta, 0x01, QString::fromUtf8(text));
    words.endOfTrack();
    return smf(1, 480, {first, words});
}

} // namespace

TEST(Karaoke, WordsBecomeLinesAtTheirFirstSyllable)
{
    const QByteArray song = karaokeSong({{0, "\\Twin"}, {240, "kle "}, {240, "twin"}, {240, "kle"},
                                         {480, "/Lit"}, {240, "tle "}, {240, "star"},
                                         {480, "\\How "}, {480, ""}, {240, "I"}, {480, "/"}, {240, "won"}});
    struct Case {
        const char *what;
        TLyricLoadOptions options;
        std::vector<Line> lines;
    } cases[] = {
        {"plain", {},
         {{"Twinkle twinkle", 0, false}, {"Little star", 1200, false}, {"", 2160, true},
          {"How I", 2160, false}, {"won", 3360, false}}},
        // The paragraph's empty row goes with NoEmptyLines; trimming takes "twinkle"'s blank.
        {"no empty, trim", {lloNoEmptyLines, lloTrimAnySpace},
         {{"Twinkle twinkle", 0, false}, {"Little star", 1200, false}, {"How I", 2160, false},
          {"won", 3360, false}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TSmfParser parser;
        parse(parser, song, false, c.options);
        EXPECT_TRUE(parser.IsKaraoke());
        EXPECT_EQ(linesOf(parser), c.lines);
        // Syllables leave the comments; every "@" line stays there, Melody's name is the title.
        EXPECT_EQ(textsOf(parser.Comment()),
                  (QStringList{"@KMIDI KARAOKE FILE", "@V0100", "@I made for a test", "@LENGL",
                               "@TTwinkle Star", "@T Traditional", "@T(c) nobody"}));
        EXPECT_EQ(textsOf(parser.KaraokeTitles()), (QStringList{"Twinkle Star", "Traditional", "(c) nobody"}));
        EXPECT_EQ(songTitleText(parser), QStringLiteral("Twinkle Star"));
        EXPECT_EQ(songAuthorText(parser), QStringLiteral("Traditional"));
        // Times come from the tempo map like those of Lyric events.
        EXPECT_EQ(parser.Lyric().Objects(1)->Millisecond, 1250);
    }
}

// When karaoke applies, and which texts then count as words.
TEST(Karaoke, MarkerOrExtensionWithoutLyricEvents)
{
    const auto words = [](TrackBuilder track) {
        return std::move(track.text(0, 0x01, "/Hel").text(10, 0x01, "lo").endOfTrack());
    };
    struct Case {
        const char *what;
        QByteArray song;
        bool karaokeFile;
        bool karaoke;
        QStringList lyrics;
        QStringList comments;
    } cases[] = {
        {".kar without marker", smf(0, 480, {words(TrackBuilder())}), true, true, {"Hello"}, {}},
        {".mid without marker", smf(0, 480, {words(TrackBuilder())}), false, false, {}, {"/Hel", "lo"}},
        {"marker in a .mid", smf(0, 480, {words(TrackBuilder().text(0, 0x01, "@KMIDI KARAOKE FILE"))}), false,
         true, {"Hello"}, {"@KMIDI KARAOKE FILE"}},
        // Lyric events win: the Text events stay comments.
        {"Lyric events too", smf(0, 480, {words(TrackBuilder().lyric(0, "歌"))}), true, false, {"歌"},
         {"/Hel", "lo"}},
        // An empty Lyric event carries no words: the Text events are still the lyrics.
        {"empty Lyric event", smf(0, 480, {words(TrackBuilder().lyric(0, ""))}), true, true, {"Hello"}, {}},
        // The track with most words is the words track; another track's texts stay comments.
        {"texts in two tracks",
         smf(1, 480, {std::move(TrackBuilder().text(0, 0x01, "Sequenced by someone").endOfTrack()),
                      words(TrackBuilder())}),
         true, true, {"Hello"}, {"Sequenced by someone"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TSmfParser parser;
        parse(parser, c.song, c.karaokeFile);
        EXPECT_EQ(parser.IsKaraoke(), c.karaoke);
        EXPECT_EQ(textsOf(parser.Lyric()), c.lyrics);
        EXPECT_EQ(textsOf(parser.Comment()), c.comments);
    }
}

// Without "@T" lines the boxes follow the first title and copyright; with one "@T" only the
// title is taken from it.
TEST(Karaoke, BoxesFallBackWithoutTitleLines)
{
    TrackBuilder track;
    track.text(0, 0x03, "Words").text(0, 0x02, "(c) label").text(0, 0x01, "/la").endOfTrack();
    TSmfParser none;
    parse(none, smf(0, 480, {track}), true);
    EXPECT_TRUE(none.IsKaraoke());
    EXPECT_EQ(songTitleText(none), QStringLiteral("Words"));
    EXPECT_EQ(songAuthorText(none), QStringLiteral("(c) label"));

    TSmfParser single;
    parse(single, smf(1, 480, {std::move(TrackBuilder().text(0, 0x01, "@TSong").endOfTrack()), track}), true);
    EXPECT_EQ(songTitleText(single), QStringLiteral("Song"));
    EXPECT_EQ(songAuthorText(single), QStringLiteral("(c) label"));
    EXPECT_TRUE(isKaraokeFileName(u"/a/b/SONG.KAR"));
    EXPECT_FALSE(isKaraokeFileName(u"/a/kar/song.mid"));
}

TEST(SongEncoding, Utf8OnlyWhenCp932CannotBeRight)
{
    const QString japanese = QStringLiteral("さくら");
    // Half-width katakana "ﾂｱ" in CP932 is C2 B1: valid UTF-8 (U+00B1) as well.
    const QByteArray katakanaPair = unicodeToAnsi(QStringLiteral("ﾂｱ"));
    ASSERT_EQ(katakanaPair, QByteArray("\xC2\xB1"));
    // A byte CP932 has no character for.
    const QByteArray brokenCp932("\x80\x41");

    struct Case {
        const char *what;
        QByteArray title;
        QByteArray lyric;
        bool utf8;
        QString shownTitle;
        QString shownLyric;
    } cases[] = {
        {"UTF-8 texts", japanese.toUtf8(), QStringLiteral("花").toUtf8(), true, japanese, "花"},
        {"CP932 texts", unicodeToAnsi(japanese), unicodeToAnsi(u"花"), false, japanese, "花"},
        {"katakana pair alone stays CP932", katakanaPair, "x", false, "ﾂｱ", "x"},
        {"katakana pair beside UTF-8", katakanaPair, japanese.toUtf8(), true, QStringLiteral("±"), japanese},
        // One text is neither: everything stays CP932, the broken byte as U+FFFD.
        {"mixed", japanese.toUtf8(), brokenCp932, false, ansiToUnicode(japanese.toUtf8()), "\uFFFDA"},
        {"ASCII", "abc", "def", false, "abc", "def"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TrackBuilder track;
        track.meta(0, 0x03, c.title).meta(0, 0x05, c.lyric).endOfTrack();
        TSmfParser parser;
        parse(parser, smf(0, 480, {track}));
        EXPECT_EQ(parser.Utf8Texts(), c.utf8);
        EXPECT_EQ(textsOf(parser.Title()), QStringList{c.shownTitle});
        EXPECT_EQ(textsOf(parser.Lyric()), QStringList{c.shownLyric});
    }
}

TEST(SongEncoding, Utf8Validation)
{
    struct Case {
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {"", true}, {"plain", true}, {QStringLiteral("日本語😀").toUtf8(), true},
        {"\xC0\xAF", false},          // overlong '/'
        {"\xE0\x80\xAF", false},      // overlong
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE3\x81", false},          // cut short
        {"\x82\xA0", false},          // CP932 "あ"
    };
    for (const Case &c : cases)
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.bytes.toHex().constData();
    EXPECT_TRUE(isValidAnsi(unicodeToAnsi(u"あ①～")));
    EXPECT_FALSE(isValidAnsi("\x82"));
    EXPECT_FALSE(isValidAnsi("\xFD"));
}
