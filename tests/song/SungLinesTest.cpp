// The sung lines: syllables joined by their karaoke marks, .kar words found by content, XF
// chunks with furigana, part cues and the $Lyrc cue; unmarked songs keep one line per event.
#include "SmfBuilder.h"
#include "SmfParser.h"
#include "SungLines.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

using namespace tonelark;
using namespace tonelark::test;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct Parsed {
    TSmfParser parser;
    SungLines lines;
};

void parse(Parsed &parsed, const QByteArray &data, SungLineMode mode = SungLineMode::Auto,
           TLyricLoadOptions options = {}, bool karaokeFile = false)
{
    parsed.parser.SetKaraokeFile(karaokeFile);
    parsed.parser.SetLyricLoadOptions(options);
    parsed.parser.Execute(data.constData(), static_cast<quint32>(data.size()));
    parsed.lines = buildSungLines(sungInputOf(parsed.parser, parsed.parser.TempoList()), mode, options);
}

// Lines as "text@tick" with "#page" from page 1 on, "~" for a hidden time, "¶" for a
// paragraph's first line: one string per line keeps the tables readable.
QStringList shapeOf(const SungLines &lines)
{
    QStringList shape;
    for (const SungLine &line : lines.lines) {
        QString s = line.text + u'@' + QString::number(line.tick);
        if (line.page > 0)
            s += u'#' + QString::number(line.page);
        if (line.hideTime)
            s += u'~';
        if (line.paragraphStart)
            s += QStringLiteral("¶");
        shape << s;
    }
    return shape;
}

// One Lyric event per syllable, 120 ticks apart.
QByteArray lyricSong(const QStringList &syllables, quint32 step = 120)
{
    TrackBuilder track;
    track.tempo(0, 500000);
    bool first = true;
    for (const QString &syllable : syllables) {
        track.lyric(first ? 0 : step, syllable);
        first = false;
    }
    track.endOfTrack();
    return smf(0, 480, {track});
}

QByteArray latin1(const char *text)
{
    return QByteArray(text);
}

} // namespace

TEST(SungLines, LyricSyllablesJoinByTheirMarks)
{
    struct Case {
        const char *what;
        QStringList syllables;
        TLyricLoadOptions options;
        QStringList lines;
    } cases[] = {
        {"slash and backslash at the start", {"\\Hal", "le", "lu", "jah, ", "/Hal", "le", "\\lu", "jah"}, {},
         {"Hallelujah, @0", "Halle@480", "@720~", "lujah@720¶"}},
        {"marks at the end", {"Hal", "le/", "lu", "jah\\", "Hal"}, {}, {"Halle@0", "lujah@240", "@480~", "Hal@480¶"}},
        {"CR ends a line, LF a paragraph, CR LF one line", {"a", "b\r", "c\n", "d\r\n", "e"}, {},
         {"ab@0", "c@240", "@360~", "d@360¶", "e@480"}},
        {"no empty lines drops the paragraph's line", {"a", "b\n", "c"}, {lloNoEmptyLines}, {"ab@0", "c@240¶"}},
        {"page mark at the start and end", {"<Ko", "no/", "<So", "ra<", "u", "mi"}, {},
         {"Kono@0", "Sora@240#1", "umi@480#2"}},
        {"visible space, tabs, trailing spaces", {"I^", "am\t", "here /", "now"}, {}, {"I am  here @0", "now@360"}},
        {"trim takes the blanks at both ends", {" I^", "am ", "here /", "now"}, {lloTrimAnySpace},
         {"I am here@0", "now@360"}},
        {"a lone slash is an empty line of its own", {"/a", "b", "/", "/c", "d"}, {},
         {"ab@0", "@240", "cd@360"}},
        {"a CR inside one syllable", {"a\rb", "c/", "d"}, {}, {"a@0", "bc@0", "d@240"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Parsed parsed;
        parse(parsed, lyricSong(c.syllables), SungLineMode::Auto, c.options);
        EXPECT_TRUE(parsed.lines.sung);
        EXPECT_EQ(parsed.lines.source, SungSource::Lyric);
        EXPECT_EQ(shapeOf(parsed.lines), c.lines);
        // The parser's own lyric rows are unchanged: one per event by the lyric line rule.
        EXPECT_GE(parsed.parser.Lyric().Count(), c.syllables.size() - 1);
    }
}

TEST(SungLines, SyllablesKeepTheirTimesAndTheirShownPart)
{
    Parsed parsed;
    TrackBuilder track;
    track.tempo(0, 500000).lyric(0, "/Twin").lyric(240, "kle ").lyric(240, "twin").lyric(240, "kle/");
    track.tempo(0, 250000).lyric(480, "lit").lyric(240, "tle");
    parse(parsed, smf(0, 480, {std::move(track.endOfTrack())}));
    ASSERT_EQ(parsed.lines.count(), 2);
    const SungLine &first = parsed.lines.lines[0];
    ASSERT_EQ(first.syllables.size(), 4u);
    EXPECT_EQ(first.text, QStringLiteral("Twinkle twinkle"));
    for (const SungSyllable &s : first.syllables)
        EXPECT_EQ(first.text.mid(s.column, s.text.size()), s.text);
    EXPECT_EQ(first.syllables[1].tick, 240);
    EXPECT_EQ(first.syllables[1].ms, 250);
    EXPECT_EQ(first.syllables[1].text, QStringLiteral("kle "));
    // Tempo doubles at tick 720: tick 1200 is 750 ms + 480 ticks at 250 ms per quarter.
    EXPECT_EQ(parsed.lines.lines[1].tick, 1200);
    EXPECT_EQ(parsed.lines.lines[1].ms, 1000);
    EXPECT_EQ(parsed.lines.lines[1].syllables[1].ms, 1125);
    EXPECT_EQ(parsed.lines.lineAt(0), 0);
    EXPECT_EQ(parsed.lines.lineAt(1199), 0);
    EXPECT_EQ(parsed.lines.lineAt(1200), 1);
}

TEST(SungLines, FuriganaInOneEventAndAcrossEvents)
{
    Parsed parsed;
    parse(parsed, lyricSong({"/春[はる]の", "小川[お", "が", "わ]は", "/さ", "ら[x]"}));
    ASSERT_EQ(parsed.lines.count(), 2);
    const SungLine &line = parsed.lines.lines[0];
    EXPECT_EQ(line.text, QStringLiteral("春の小川は"));
    ASSERT_EQ(line.ruby.size(), 2u);
    EXPECT_EQ(line.ruby[0], (SungRuby{QStringLiteral("春"), QStringLiteral("はる"), 0}));
    EXPECT_EQ(line.ruby[1], (SungRuby{QStringLiteral("小川"), QStringLiteral("おがわ"), 2}));
    // Each kana of the reading is a timed syllable of its own.
    ASSERT_EQ(line.syllables.size(), 4u);
    EXPECT_EQ(line.syllables[1].text, QStringLiteral("小川"));
    EXPECT_EQ(line.syllables[1].reading, QStringLiteral("お"));
    EXPECT_EQ(line.syllables[2].reading, QStringLiteral("が"));
    EXPECT_EQ(line.syllables[2].text, QString());
    EXPECT_EQ(line.syllables[2].ruby, 1);
    EXPECT_EQ(line.syllables[3].reading, QStringLiteral("わ"));
    EXPECT_EQ(line.syllables[3].text, QStringLiteral("は"));
    EXPECT_EQ(line.syllables[3].tick, 360);
    // Without kanji before it, the bracket takes the event's own text as its base.
    EXPECT_EQ(parsed.lines.lines[1].text, QStringLiteral("さら"));
    EXPECT_EQ(parsed.lines.lines[1].ruby.front(), (SungRuby{QStringLiteral("ら"), QStringLiteral("x"), 1}));

    // A phrase-per-event song keeps one line per event but reads its furigana too.
    Parsed phrases;
    parse(phrases, lyricSong({"今日[きょう]は晴[は]れ", "明日[あした]も"}));
    EXPECT_FALSE(phrases.lines.sung);
    EXPECT_EQ(shapeOf(phrases.lines), (QStringList{"今日は晴れ@0", "明日も@120"}));
    EXPECT_EQ(phrases.lines.lines[0].ruby.size(), 2u);
}

// Unmarked songs: the lyric line rule in 自動, phrases in 常に行にまとめる.
TEST(SungLines, ModesForUnmarkedAndMarkedSongs)
{
    const QByteArray syllables = [] {
        TrackBuilder track;
        track.lyric(0, "こ").lyric(240, "の").lyric(240, "そ").lyric(240, "らー").lyric(960, "あ")
            .lyric(240, "お").lyric(240, "い");
        return smf(0, 480, {std::move(track.endOfTrack())});
    }();
    const QByteArray phrases = lyricSong({"さくら さくら", "やよいの空は\r\n見わたす限り", ""}, 1920);
    const QByteArray marked = lyricSong({"/Hel", "lo", "/world"});
    struct Case {
        const char *what;
        QByteArray song;
        SungLineMode mode;
        bool sung;
        QStringList lines;
    } cases[] = {
        {"syllables, auto", syllables, SungLineMode::Auto, false,
         {"こ@0", "の@240", "そ@480", "らー@720", "あ@1680", "お@1920", "い@2160"}},
        {"syllables, joined at the long silence", syllables, SungLineMode::AlwaysJoin, false,
         {"このそらー@0", "あおい@1680"}},
        {"phrases, auto", phrases, SungLineMode::Auto, false,
         {"さくら さくら@0", "やよいの空は@1920", "見わたす限り@1920~"}},
        {"phrases stay lines when joined", phrases, SungLineMode::AlwaysJoin, false,
         {"さくら さくら@0", "やよいの空は@1920", "見わたす限り@1920"}},
        {"marks, per event", marked, SungLineMode::PerEvent, true, {"/Hel@0", "lo@120", "/world@240"}},
        {"marks, joined", marked, SungLineMode::AlwaysJoin, true, {"Hello@0", "world@240"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Parsed parsed;
        parse(parsed, c.song, c.mode);
        EXPECT_EQ(parsed.lines.sung, c.sung);
        EXPECT_EQ(shapeOf(parsed.lines), c.lines);
    }

    // A long run of syllables is cut where the list would overflow.
    QStringList many;
    for (int i = 0; i < 30; ++i)
        many << QStringLiteral("ら");
    Parsed parsed;
    parse(parsed, lyricSong(many), SungLineMode::AlwaysJoin);
    ASSERT_EQ(parsed.lines.count(), 2);
    EXPECT_EQ(parsed.lines.lines[0].text.size(), 18);
}

// Marks in a song of phrases are no karaoke marks; in a song of syllables the phrases that
// end in CR are lines of their own.
TEST(SungLines, MarksAmongPhrases)
{
    Parsed phrases;
    parse(phrases, lyricSong({"Amazing grace\r", "how sweet the sound\r", "that saved^a wretch", "like me"}));
    EXPECT_FALSE(phrases.lines.sung);
    EXPECT_EQ(phrases.lines.count(), 6);

    // Short phrases that end in CR LF, as Windows tools write them, keep their empty rows.
    Parsed windows;
    parse(windows, lyricSong({"さくら\r\n", "さくら\r\n", "やよいの\r\n", "空は\r\n"}));
    EXPECT_FALSE(windows.lines.sung);
    EXPECT_EQ(windows.lines.count(), 8);

    Parsed mixed;
    parse(mixed, lyricSong({"Amazing grace\r", "how ", "sweet ", "the ", "sound\r", "that ", "saved ", "a ", "wretch"}));
    EXPECT_TRUE(mixed.lines.sung);
    EXPECT_EQ(shapeOf(mixed.lines),
              (QStringList{"Amazing grace@0", "how sweet the sound@120", "that saved a wretch@600"}));
}

TEST(SungLines, KarWordsFoundByContent)
{
    const auto song = [](const QStringList &texts) {
        TrackBuilder info;
        info.text(0, 0x03, "Melody").endOfTrack();
        TrackBuilder words;
        words.text(0, 0x01, "@LENGL").text(0, 0x01, "@TTwinkle");
        for (const QString &text : texts)
            words.text(120, 0x01, text);
        return smf(1, 480, {info, std::move(words.endOfTrack())});
    };
    const QStringList syllables{"\\Twin", "kle ", "twin", "kle ", "/lit", "tle ", "star", "/how ", "I"};
    Parsed kar;
    parse(kar, song(syllables));
    EXPECT_TRUE(kar.parser.IsKaraoke());
    EXPECT_TRUE(kar.lines.sung);
    EXPECT_EQ(kar.lines.source, SungSource::Text);
    EXPECT_EQ(shapeOf(kar.lines), (QStringList{"Twinkle twinkle @120", "little star@600", "how I@960"}));
    // The words leave the comments; the headers stay.
    EXPECT_EQ(kar.parser.Comment().Count(), 2);

    // Sentences in Text events are comments, not words.
    Parsed comments;
    parse(comments, song({"Sequenced by a friend", "/for the school concert", "\\with thanks to all",
                          "who sang along", "on that sunny day", "in May", "last year", "thanks again"}));
    EXPECT_FALSE(comments.parser.IsKaraoke());
    EXPECT_EQ(comments.lines.source, SungSource::None);
    EXPECT_TRUE(comments.lines.isEmpty());
}

namespace {

// An XF song: the mark and a note in its track, then XFIH and XFKM chunks.
QByteArray xfSong(const QByteArray &info, const QByteArray &karaoke, bool mark = true)
{
    TrackBuilder track;
    track.text(0, 0x03, "SMF title");
    if (mark)
        track.meta(0, 0x7F, bytesOf({0x43, 0x7B, 0x00, 'X', 'F', '0', '2', 0x00, 0x1B, 0x00}));
    track.event(0, {0x90, 60, 100}).event(480, {0x80, 60, 0}).endOfTrack();
    QByteArray bytes = smf(0, 480, {track});
    if (!info.isEmpty())
        bytes += chunk("XFIH", info);
    if (!karaoke.isEmpty())
        bytes += chunk("XFKM", karaoke);
    return bytes;
}

QByteArray xfInfoTrack(const QByteArray &names)
{
    TrackBuilder info;
    info.meta(0, 0x01, "XFhd:1999/01/01:JP:POPS:::M:composer:lyricist:arranger:performer:programmer:")
        .meta(0, 0x01, names).endOfTrack();
    return info.bytes();
}

} // namespace

TEST(SungLines, XfSongWithFuriganaPartsAndCue)
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
    const QByteArray names = "XFln:JP:" + unicodeToAnsi(u"春の小川:岡野貞一:高野辰之:編曲者:歌手:") + "prog";
    Parsed parsed;
    parse(parsed, xfSong(xfInfoTrack(names), words.bytes()));

    const SungLines &lines = parsed.lines;
    EXPECT_TRUE(lines.sung);
    EXPECT_TRUE(lines.xf);
    EXPECT_EQ(lines.source, SungSource::Xf);
    EXPECT_EQ(lines.melodyChannels, (std::vector<int>{1, 2}));
    EXPECT_EQ(lines.offsetTicks, 240);
    EXPECT_EQ(lines.language, QStringLiteral("JP"));
    EXPECT_EQ(lines.xfInfo.title, QStringLiteral("春の小川"));
    EXPECT_EQ(lines.xfInfo.composer, QStringLiteral("岡野貞一"));
    EXPECT_EQ(lines.xfInfo.lyricist, QStringLiteral("高野辰之"));
    EXPECT_EQ(lines.xfInfo.performer, QStringLiteral("歌手"));
    EXPECT_EQ(lines.xfInfo.programmer, QStringLiteral("prog"));
    EXPECT_TRUE(lines.xfInfo.header.startsWith(QStringLiteral("1999/01/01:JP")));
    EXPECT_EQ(shapeOf(lines), (QStringList{"春の@480", "小川@720", "さ ら@840#1"}));
    EXPECT_EQ(lines.lines[0].ruby.front(), (SungRuby{QStringLiteral("春"), QStringLiteral("はる"), 0}));
    EXPECT_EQ(lines.lines[1].ruby.front().reading, QStringLiteral("おがわ"));
    EXPECT_EQ(lines.lines[0].syllables[1].part, QStringLiteral("f"));
    EXPECT_EQ(lines.lines[2].syllables[0].part, QStringLiteral("m"));

    // The boxes take the XF names; the chunks' texts are no comments and no lyric rows.
    EXPECT_EQ(songTitleText(parsed.parser), QStringLiteral("春の小川"));
    EXPECT_EQ(songAuthorText(parsed.parser), QStringLiteral("歌手"));
    EXPECT_TRUE(parsed.parser.Comment().isEmpty());
    EXPECT_TRUE(parsed.parser.Lyric().isEmpty());
    EXPECT_EQ(parsed.parser.Title().Count(), 1);
    // The XF chunks hold no tempo of the song.
    EXPECT_EQ(parsed.parser.TempoList()->Count(), 1);
}

TEST(SungLines, XfLatin1AndDamagedChunks)
{
    TrackBuilder words;
    words.meta(0, 0x07, "$Lyrc:1:0:L1").meta(0, 0x05, latin1("/Caf\xE9 ")).meta(120, 0x05, latin1("cr\xE8me/"));
    words.endOfTrack();
    Parsed parsed;
    parse(parsed, xfSong(xfInfoTrack(latin1("XFln:L1:Chanson \xE0 boire:::::")), words.bytes(), false));
    EXPECT_TRUE(parsed.lines.xf);
    EXPECT_EQ(parsed.lines.language, QStringLiteral("L1"));
    EXPECT_EQ(shapeOf(parsed.lines), (QStringList{QStringLiteral("Café crème@0")}));
    EXPECT_EQ(songTitleText(parsed.parser), QStringLiteral("Chanson à boire"));
    // No performer, lyricist, composer or arranger: the author box keeps the copyright.
    EXPECT_EQ(songAuthorText(parsed.parser), QString());

    // A chunk cut short keeps what it held up to the cut; the song still parses.
    const QByteArray whole = xfSong({}, words.bytes());
    for (qsizetype cut = whole.size() - 1; cut > whole.size() - 12; --cut) {
        SCOPED_TRACE(cut);
        Parsed damaged;
        parse(damaged, whole.left(cut));
        EXPECT_EQ(damaged.lines.count(), 1);
    }
    // An XFKM length beyond the end reads up to the end.
    QByteArray longer = xfSong({}, words.bytes());
    longer[longer.size() - words.bytes().size() - 1] = 0x7F;
    Parsed beyond;
    parse(beyond, longer);
    EXPECT_EQ(beyond.lines.count(), 1);
}

TEST(SungLines, HelpersReadTheirConventions)
{
    XfLyricsCue cue;
    EXPECT_FALSE(parseXfLyricsCue(u"Lyrc:1:0:JP", cue));
    ASSERT_TRUE(parseXfLyricsCue(u"$Lyrc:4 12,4,99:-30:L1", cue));
    EXPECT_EQ(cue.channels, (std::vector<int>{4, 12}));
    EXPECT_EQ(cue.offsetTicks, -30);
    EXPECT_EQ(cue.language, QStringLiteral("L1"));
    ASSERT_TRUE(parseXfLyricsCue(u"$Lyrc:", cue));
    EXPECT_TRUE(cue.channels.empty());

    for (const char *text : {"/a", "a/", "\\a", "a\\", "<a", "a\r", "a\n", "a^b"})
        EXPECT_TRUE(hasKaraokeMark(QString::fromLatin1(text))) << text;
    for (const char *text : {"", "a/b", "a\rb", "[a]", "a\r\n"})
        EXPECT_FALSE(hasKaraokeMark(QString::fromLatin1(text))) << text;
    EXPECT_TRUE(isSyllableText(u"/jah, "));
    EXPECT_TRUE(isSyllableText(u"小川[おがわ]"));
    EXPECT_FALSE(isSyllableText(u"Hallelujah"));
    EXPECT_EQ(xfAuthorText(XfSongInfo{{}, {}, {}, {}, {}, QStringLiteral("arr"), {}, {}}), QStringLiteral("arr"));
}
