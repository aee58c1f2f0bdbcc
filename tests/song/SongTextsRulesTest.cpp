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

// The decision table of docs/ENCODINGS.md, one signal at a time and in conflict.
TEST(SongEncoding, DecisionTable)
{
    const QString japanese = QStringLiteral("さくら");
    const QString galician = QStringLiteral("ó pé dos meus cabezales");
    // Each UTF-8 accent of the Galician words is two CP932 half-width katakana: valid CP932.
    ASSERT_TRUE(isValidAnsi(galician.toUtf8()));
    // Half-width katakana "ﾂｱ" in CP932 is C2 B1: valid UTF-8 (U+00B1) as well.
    const QByteArray katakanaPair = unicodeToAnsi(QStringLiteral("ﾂｱ"));
    ASSERT_EQ(katakanaPair, QByteArray("\xC2\xB1"));
    // Windows-1252 accents: "é" before a space is no CP932; "éx" is a CP932 kanji.
    const QByteArray cafe("Caf\xE9 con leche");
    const QByteArray exito("\xE9xito");
    ASSERT_FALSE(isValidAnsi(cafe));
    ASSERT_TRUE(isValidAnsi(exito));
    // "Ó" before a letter reads as a kanji in CP932, never as kana.
    const QString cancion = QStringLiteral("CANCIÓN");

    using E = TextEncoding;
    struct Case {
        const char *what;
        QByteArray tag;   // "@L…" Text event, or empty
        QByteArray xf;    // the XFKM $Lyrc language, or empty
        QByteArray title;
        QByteArray lyric;
        E used;
        QString shownTitle;
        QString shownLyric;
    } cases[] = {
        {"ASCII", "", "", "abc", "def", E::Cp932, "abc", "def"},
        {"CP932 Japanese", "", "", unicodeToAnsi(japanese), unicodeToAnsi(u"花"), E::Cp932, japanese, "花"},
        {"CP932 Japanese with half-width katakana", "", "", unicodeToAnsi(u"さくら ｻｸﾗ"), unicodeToAnsi(u"ﾊﾅ"),
         E::Cp932, QStringLiteral("さくら ｻｸﾗ"), QStringLiteral("ﾊﾅ")},
        {"CP932 half-width katakana only", "", "", unicodeToAnsi(u"ｻｸﾗ"), "x", E::Cp932, QStringLiteral("ｻｸﾗ"), "x"},
        {"UTF-8 Japanese", "", "", japanese.toUtf8(), QStringLiteral("花").toUtf8(), E::Utf8, japanese, "花"},
        // Departs from the former rule (valid CP932 always stayed CP932): a CP932 reading of
        // nothing but half-width katakana is no Japanese when the bytes are multi-byte UTF-8.
        {"UTF-8 accents untagged", "", "", "Cantiga", galician.toUtf8(), E::Utf8, "Cantiga", galician},
        {"katakana pair alone reads as UTF-8", "", "", katakanaPair, "x", E::Utf8, QStringLiteral("±"), "x"},
        {"katakana pair beside UTF-8", "", "", katakanaPair, japanese.toUtf8(), E::Utf8, QStringLiteral("±"), japanese},
        {"UTF-8 capital accent reads as kanji in CP932", "", "", cancion.toUtf8(), "x", E::Utf8, cancion, "x"},
        {"Windows-1252 untagged", "", "", "Cantiga", cafe, E::Cp1252, "Cantiga", QStringLiteral("Café con leche")},
        // Kanji-only Japanese looks the same: without a tag valid CP932 stays CP932.
        {"Windows-1252 valid as CP932, untagged", "", "", "x", exito, E::Cp932, "x", ansiToUnicode(exito)},
        {"Windows-1252 valid as CP932, tagged", "ENGL", "", "x", exito, E::Cp1252, "x", QStringLiteral("éxito")},
        {"UTF-8 tagged Galician", "GALI", "", "Cantiga", galician.toUtf8(), E::Utf8, "Cantiga", galician},
        {"Japanese tag keeps valid CP932", "JAPA", "", "x", galician.toUtf8(), E::Cp932, "x",
         ansiToUnicode(galician.toUtf8())},
        {"Japanese tag, UTF-8 that is no CP932", "JAPA", "", japanese.toUtf8(), "x", E::Utf8, japanese, "x"},
        // An authoring tool's default tag over Japanese words: the hiragana decide.
        {"English tag over CP932 Japanese", "ENGL", "", unicodeToAnsi(japanese), "x", E::Cp932, japanese, "x"},
        {"XF L1 language, Windows-1252 track texts", "", "L1", "x", exito, E::Cp1252, "x", QStringLiteral("éxito")},
        {"XF JP language keeps valid CP932", "", "JP", "x", galician.toUtf8(), E::Cp932, "x",
         ansiToUnicode(galician.toUtf8())},
        {"karaoke tag before the XF language", "SPAN", "JP", "x", exito, E::Cp1252, "x", QStringLiteral("éxito")},
        // Valid in neither and no hiragana: Windows-1252 (was CP932 with U+FFFD before).
        {"neither UTF-8 nor CP932", "", "", japanese.toUtf8(), "\x80\x41", E::Cp1252,
         cp1252ToUnicode(japanese.toUtf8()), QStringLiteral("€A")},
        {"damaged CP932 Japanese", "", "", unicodeToAnsi(japanese) + "\x80", "x", E::Cp932,
         japanese + u'\uFFFD', "x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TrackBuilder track;
        if (!c.tag.isEmpty())
            track.meta(0, 0x01, "@L" + c.tag);
        track.meta(0, 0x03, c.title).meta(0, 0x05, c.lyric).endOfTrack();
        QByteArray data = smf(0, 480, {track});
        if (!c.xf.isEmpty())
            data += chunk("XFKM", TrackBuilder().meta(0, 0x07, "$Lyrc:1:0:" + c.xf).endOfTrack().bytes());
        TSmfParser parser;
        parse(parser, data);
        EXPECT_EQ(parser.UsedTextEncoding(), c.used);
        EXPECT_EQ(textsOf(parser.Title()), QStringList{c.shownTitle});
        EXPECT_EQ(textsOf(parser.Lyric()), QStringList{c.shownLyric});
    }
}

// The user's choice reads every text in it, XF chunks too; the .kar words follow.
TEST(SongEncoding, ChoiceOverridesTheTable)
{
    const QString galician = QStringLiteral("ó pé dos meus cabezales");
    TrackBuilder first;
    first.text(0, 0x01, "@KMIDI KARAOKE FILE").text(0, 0x01, "@LJAPA").meta(0, 0x03, "Pe\xE9").endOfTrack();
    TrackBuilder words;
    words.meta(0, 0x01, galician.toUtf8()).endOfTrack();
    const QByteArray data = smf(1, 480, {first, words})
        + chunk("XFKM", TrackBuilder().meta(0, 0x07, "$Lyrc:1:0:JP").meta(0, 0x05, "\xC3\xB3").endOfTrack().bytes());
    struct Case {
        TextEncoding choice;
        TextEncoding used;
        QString title;
        QString words;
        QString xfWord;
    } cases[] = {
        {TextEncoding::Auto, TextEncoding::Cp932, ansiToUnicode("Pe\xE9"), ansiToUnicode(galician.toUtf8()),
         QStringLiteral("ﾃｳ")},
        {TextEncoding::Utf8, TextEncoding::Utf8, QStringLiteral("Pe\uFFFD"), galician, QStringLiteral("ó")},
        {TextEncoding::Cp1252, TextEncoding::Cp1252, QStringLiteral("Peé"), cp1252ToUnicode(galician.toUtf8()),
         QStringLiteral("Ã³")},
        {TextEncoding::Cp932, TextEncoding::Cp932, ansiToUnicode("Pe\xE9"), ansiToUnicode(galician.toUtf8()),
         QStringLiteral("ﾃｳ")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(textEncodingName(c.choice).toStdString());
        TSmfParser parser;
        parser.SetTextEncoding(c.choice);
        parse(parser, data, true);
        EXPECT_EQ(parser.UsedTextEncoding(), c.used);
        EXPECT_EQ(textsOf(parser.Title()), QStringList{c.title});
        ASSERT_TRUE(parser.IsKaraoke());
        EXPECT_EQ(textsOf(parser.Lyric()), QStringList{c.words});
        QString xfWord;
        for (const SongTextEvent &event : parser.TextEvents())
            if (event.origin == SongTextOrigin::XfKaraoke && event.type == 0x05)
                xfWord = event.text;
        EXPECT_EQ(xfWord, c.xfWord);
    }
}

TEST(SongEncoding, Names)
{
    for (TextEncoding e : {TextEncoding::Auto, TextEncoding::Cp932, TextEncoding::Utf8, TextEncoding::Cp1252})
        EXPECT_EQ(textEncodingFromName(textEncodingName(e)), e);
    EXPECT_EQ(textEncodingFromName(u"latin1"), std::nullopt);
    EXPECT_EQ(cp1252ToUnicode("\x80\x81\x9F\xA0\xFF"), QStringLiteral("€\u0081Ÿ\u00A0ÿ"));
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
