// The stage's timeline, layout and themes as pure functions of a song, a size and a time.
#include "Convex.h"
#include "SmfTempo.h"
#include "StageSettings.h"
#include "SmfTexts.h"
#include "StageLayout.h"
#include "StageTheme.h"
#include "StageTimeline.h"

#include <gtest/gtest.h>

using namespace tonelark;

namespace {

constexpr qint32 kBeat = 480;

TSmfEventTempoList tempoMap(std::initializer_list<std::pair<qint32, qint32>> entries)
{
    TSmfEventTempoList list(kBeat);
    for (const auto &[tick, us] : entries)
        list.Add(TSmfEventTempo(tick, us));
    return list;
}

StageLine syllableLine(std::initializer_list<std::pair<qint32, const char16_t *>> syllables)
{
    StageLine line;
    for (const auto &[tick, text] : syllables)
        line.syllables.push_back({tick, QString::fromUtf16(text)});
    return line;
}

StageRuby ruby(int column, int length, std::initializer_list<std::pair<qint32, const char16_t *>> kana)
{
    StageRuby reading{column, length, {}};
    for (const auto &[tick, text] : kana)
        reading.kana.push_back({tick, QString::fromUtf16(text)});
    return reading;
}

// A phrase per line: line n at n * 2 bars (8 beats), as the demo song has them.
StageSong phraseSong(int lines)
{
    TSmfMetaEventString lyrics;
    for (int n = 0; n < lines; ++n) {
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Tick = kBeat * 8 * (n + 1);
        lyrics.AddObject(QStringLiteral("さくら%1").arg(n), std::move(info));
    }
    return stageSongFromLyricLines(lyrics, QStringLiteral("さくら"));
}

// Every character 100 wide at the reference size, Latin letters and spaces 50.
StageFontMeasure fixedMeasure()
{
    StageFontMeasure measure;
    measure.width = [](QStringView text) {
        double width = 0;
        for (QChar c : text)
            width += c.unicode() < 0x2E80 ? 50 : 100;
        return width;
    };
    return measure;
}

} // namespace

TEST(StageTimeline, PhrasePerEventLinesWipeFromTheirTickToTheNext)
{
    const TSmfEventTempoList tempo = tempoMap({{0, 500000}}); // 500 ms a beat
    const StageTimeline timeline(phraseSong(4), &tempo, 2);
    ASSERT_EQ(timeline.lines().size(), 4u);
    // Line 1 sings from 8 s (tick 7680) until line 2 at 12 s.
    const StageTimedLine &line = timeline.lines()[1];
    EXPECT_EQ(line.span.startMs, 8000);
    EXPECT_EQ(line.span.endMs, 12000);
    struct Case { qint64 ms; int current; double wipe; };
    for (const Case &c : {Case{7999, 0, 1.0}, Case{8000, 1, 0.0}, Case{9000, 1, 0.25}, Case{11999, 1, 0.99975}}) {
        SCOPED_TRACE(c.ms);
        const StageFrame frame = timeline.frameAt(c.ms);
        EXPECT_EQ(frame.currentLine, c.current);
        if (c.current == 1) {
            EXPECT_DOUBLE_EQ(line.syllables[0].wipe(double(c.ms)), c.wipe);
        }
    }
    // The last line holds for two bars at most.
    EXPECT_EQ(timeline.lines()[3].span.endMs, timeline.lines()[3].span.startMs + 4000);
}

TEST(StageTimeline, SyllablesWipeAtTheirOwnTicksAndATempoChangeInsideOneKeepsTime)
{
    // 120 bpm, then 240 bpm from tick 240: the first syllable (ticks 0..480) lasts
    // 250 ms + 125 ms.
    const TSmfEventTempoList tempo = tempoMap({{0, 500000}, {240, 250000}});
    StageSong song;
    song.lines.push_back(syllableLine({{0, u"Twin"}, {480, u"kle "}, {960, u"twin"}, {1440, u"kle"}}));
    const StageTimeline timeline(song, &tempo, 2);
    const StageTimedLine &line = timeline.lines()[0];
    ASSERT_EQ(line.syllables.size(), 4u);
    EXPECT_EQ(line.syllables[0].endMs, 375);
    EXPECT_DOUBLE_EQ(line.syllables[0].wipe(250), 250.0 / 375);
    EXPECT_EQ(line.syllables[1].startMs, 375);
    EXPECT_EQ(line.syllables[1].endMs, 625);
    // The last syllable is held two beats at most when nothing follows.
    EXPECT_EQ(line.syllables[3].startMs, 875);
    EXPECT_EQ(line.syllables[3].endMs, 1375);
    for (qint64 ms : {0, 100, 374, 375, 600, 1374})
        EXPECT_EQ(timeline.frameAt(ms).currentLine, 0) << ms;
    EXPECT_EQ(timeline.frameAt(1375).currentLine, -1);
    EXPECT_EQ(timeline.roleAt(0, 1375), StageLineRole::Sung);
}

TEST(StageTimeline, PagesTakeSlotsAndComeOnScreenEarlyWithoutCuttingALine)
{
    const TSmfEventTempoList tempo = tempoMap({{0, 500000}});
    StageSong song = phraseSong(6);
    song.lines[3].pageStart = true; // a page mark: lines 3.. start a new page
    const StageTimeline timeline(song, &tempo, 2);
    struct Expect { int page, slot; };
    const Expect expected[] = {{0, 0}, {0, 1}, {1, 0}, {2, 0}, {2, 1}, {3, 0}};
    for (size_t n = 0; n < 6; ++n) {
        EXPECT_EQ(timeline.lines()[n].page, expected[n].page) << n;
        EXPECT_EQ(timeline.lines()[n].slot, expected[n].slot) << n;
    }
    // The first line, after 8 beats of intro, comes with its count-in; line 2 one beat
    // (500 ms) early, taking slot 0 from line 0, which ended long before.
    EXPECT_EQ(timeline.lines()[0].showMs, 4000 - 2000);
    EXPECT_EQ(timeline.lines()[2].showMs, 12000 - 500);
    // Line 1 is still sung while page 1 comes: its slot keeps it until it ends.
    EXPECT_EQ(timeline.lines()[1].hideMs, 12000);
    // Seeking into the middle of page 2 (line 4): both of its lines are shown, line 4 sung.
    const StageFrame frame = timeline.frameAt(21000);
    EXPECT_EQ(frame.slotLines, (std::vector<int>{3, 4}));
    EXPECT_EQ(frame.currentLine, 4);
    EXPECT_EQ(timeline.roleAt(3, 21000), StageLineRole::Sung);
    // Before the first page only the title shows.
    EXPECT_TRUE(timeline.frameAt(1999).empty());
}

TEST(StageTimeline, TheSongsDisplayOffsetSetsHowEarlyLinesAppear)
{
    const TSmfEventTempoList tempo = tempoMap({{0, 500000}});
    StageSong song = phraseSong(3);
    song.displayLeadTicks = 4 * kBeat; // 2 s at 120 bpm
    const StageTimeline timeline(song, &tempo, 4);
    EXPECT_EQ(timeline.lines()[0].showMs, 2000);
    EXPECT_EQ(timeline.frameAt(1999).slotLines[0], -1);
    EXPECT_EQ(timeline.frameAt(2000).slotLines[0], 0);
    // The whole page comes with its first line.
    EXPECT_EQ(timeline.frameAt(2000).slotLines, (std::vector<int>{0, 1, 2, -1}));
}

TEST(StageTimeline, ALongRestGetsACountInOfDotsThatRunsOutAtTheLine)
{
    const TSmfEventTempoList tempo = tempoMap({{0, 500000}});
    StageSong song;
    song.lines.push_back(syllableLine({{0, u"あ"}, {480, u"い"}}));       // ends at tick 1440
    song.lines.push_back(syllableLine({{1440 + 480 * 3, u"う"}}));          // 3 beats of rest: none
    song.lines.push_back(syllableLine({{2880 + 480 * 8 + 480 * 8, u"え"}})); // 8 beats: count-in
    const StageTimeline timeline(song, &tempo, 4);
    EXPECT_TRUE(timeline.lines()[1].countInOutMs.empty());
    const StageTimedLine &late = timeline.lines()[2];
    ASSERT_EQ(late.countInOutMs.size(), 4u);
    const qint64 start = late.span.startMs;
    EXPECT_EQ(late.countInFromMs, start - 2000);
    struct Case { qint64 ms; int dots; };
    for (const Case &c : {Case{start - 2001, 0}, Case{start - 2000, 4}, Case{start - 1500, 3}, Case{start - 1, 1},
                          Case{start, 0}}) {
        const StageFrame frame = timeline.frameAt(c.ms);
        EXPECT_EQ(frame.countInDots, c.dots) << c.ms;
        EXPECT_EQ(frame.countInLine, c.dots > 0 ? 2 : -1) << c.ms;
    }
    // The line is on screen for its count-in.
    EXPECT_LE(late.showMs, late.countInFromMs);
}

TEST(StageTimeline, FuriganaWipeByTheirOwnKanaTicksOrShareTheirBaseTime)
{
    const TSmfEventTempoList tempo = tempoMap({{0, 500000}});
    StageLine line = syllableLine({{0, u"弥生"}, {960, u"の"}, {1440, u"空"}});
    line.rubies.push_back(ruby(0, 2, {{0, u"や"}, {480, u"よ"}, {720, u"い"}}));
    line.rubies.push_back(ruby(3, 1, {{1440, u"そら"}}));
    line.endTick = 1920;
    StageSong song;
    song.lines.push_back(line);
    const StageTimeline timeline(song, &tempo, 2);
    const auto &kana = timeline.lines()[0].kana;
    ASSERT_EQ(kana.size(), 2u);
    EXPECT_EQ(kana[0][0].startMs, 0);
    EXPECT_EQ(kana[0][1].startMs, 500);
    EXPECT_EQ(kana[0][2].startMs, 750);
    EXPECT_EQ(kana[0][2].endMs, 1000); // the base text's end
    EXPECT_EQ(kana[1][0].startMs, 1500);
    EXPECT_EQ(kana[1][0].endMs, 2000);
    EXPECT_DOUBLE_EQ(kana[0][1].wipe(625), 0.5);
}

TEST(StageLayout, ALineFillsItsSlotAndALongOneWrapsWithoutLeavingIt)
{
    const StageFontMeasure measure = fixedMeasure();
    const QRectF slot(0, 0, 1000, 300);
    struct Case { const char16_t *text; int rows; };
    for (const Case &c : {Case{u"さくら", 1}, Case{u"弥生の空は見渡す限り霞か雲か匂いぞ出ずる", 2},
                          Case{u"Twinkle twinkle little star how I wonder what you are", 2}}) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        StageLine line = syllableLine({{0, c.text}});
        const StageLineLayout layout = layoutStageLine(line, slot, 200, false, measure);
        EXPECT_GE(layout.rows, c.rows);
        EXPECT_LE(layout.rows, c.rows + 1);
        double width = 0;
        for (const StageTextBox &box : layout.syllables[0].boxes) {
            EXPECT_TRUE(slot.contains(box.rect.adjusted(0.01, 0.01, -0.01, -0.01)));
            width += box.rect.width();
        }
        EXPECT_DOUBLE_EQ(width, layout.syllables[0].width);
        QString drawn;
        for (const StageTextBox &box : layout.syllables[0].boxes)
            drawn += box.text;
        EXPECT_EQ(drawn, QString::fromUtf16(c.text)); // nothing cut
    }
    // A word is never broken: a single long word shrinks instead.
    const StageLineLayout word = layoutStageLine(syllableLine({{0, u"Supercalifragilisticexpialidocious"}}), slot,
                                                 200, false, measure);
    EXPECT_EQ(word.syllables[0].boxes.size(), 1u);
    EXPECT_LE(word.syllables[0].width, slot.width());
}

TEST(StageLayout, ReadingsSitAboveTheirBaseAndASongWithoutThemHasNoGap)
{
    const StageFontMeasure measure = fixedMeasure();
    const QRectF slot(0, 100, 1000, 300);
    StageLine line = syllableLine({{0, u"弥生"}, {960, u"の"}, {1440, u"空"}});
    line.rubies.push_back(ruby(0, 2, {{0, u"や"}, {480, u"よ"}, {720, u"い"}}));
    const StageLineLayout ruby = layoutStageLine(line, slot, 150, true, measure);
    const QRectF base = ruby.syllables[0].bounds();
    ASSERT_EQ(ruby.kana.size(), 1u);
    QRectF reading;
    for (const StageWipeBoxes &kana : ruby.kana[0])
        reading = reading.united(kana.bounds());
    EXPECT_LE(reading.bottom(), base.top() + 0.01);
    EXPECT_GE(reading.top(), slot.top());
    EXPECT_NEAR(reading.center().x(), base.center().x(), 0.01);
    EXPECT_LT(ruby.rubyPixelSize, ruby.pixelSize);

    const StageLineLayout plain = layoutStageLine(syllableLine({{0, u"弥生の空"}}), slot, 150, false, measure);
    EXPECT_NEAR(plain.syllables[0].bounds().center().y(), slot.center().y(), 0.01);
    EXPECT_TRUE(plain.kana.empty());
}

TEST(StageLayout, TheWipeCoversItsShareOfASyllableAcrossRows)
{
    StageWipeBoxes boxes;
    boxes.boxes.push_back({QRectF(800, 0, 200, 50), {}, {}});
    boxes.boxes.push_back({QRectF(0, 60, 200, 50), {}, {}});
    boxes.width = 400;
    const std::vector<QRectF> half = boxes.wiped(0.5);
    ASSERT_EQ(half.size(), 1u);
    EXPECT_EQ(half[0], QRectF(800, 0, 200, 50));
    const std::vector<QRectF> step = boxes.between(0.45, 0.6);
    ASSERT_EQ(step.size(), 2u);
    EXPECT_EQ(step[0], QRectF(980, 0, 20, 50));
    EXPECT_EQ(step[1], QRectF(0, 60, 40, 50));
}

TEST(StageTheme, EveryTextColourOfEveryThemeIsReadable)
{
    struct Colours { QColor back, text, windowText; };
    // The defaults (light blue on white fails unmended), and colours a user may pick.
    for (const Colours &c : {Colours{Qt::white, QColor(0x66, 0x99, 0xFF), Qt::black},
                             Colours{Qt::black, QColor(0x00, 0x00, 0x80), Qt::black},
                             Colours{QColor(0xFF, 0xFF, 0x00), Qt::white, QColor(0x80, 0x80, 0x80)},
                             Colours{QColor(0x80, 0x80, 0x80), QColor(0x90, 0x90, 0x90), QColor(0x70, 0x70, 0x70)}}) {
        for (StageThemeKind kind : {StageThemeKind::LyricColors, StageThemeKind::Dark}) {
            const StageTheme theme = stageTheme(kind, c.back, c.text, c.windowText);
            for (const QColor &text : {theme.unsung, theme.sung, theme.dimmed, theme.title, theme.countIn,
                                       theme.male, theme.female, theme.chorus})
                EXPECT_GE(contrastRatio(text, theme.background), kStageMinContrast)
                    << text.name().toStdString() << " on " << theme.background.name().toStdString();
        }
    }
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    // A readable colour is kept as it is.
    EXPECT_EQ(readableOn(QColor(0, 0, 0x80), Qt::white), QColor(0, 0, 0x80));
}

TEST(StageSettings, KeysRoundTripAndAPlaceOffEveryScreenComesBack)
{
    Convex ini = Convex::fromBytes("[Stage]\nLeft=10\nTop=20\nWidth=640\nHeight=360\nTheme=7\nFontName=\n");
    const StageSettings read = StageSettings::load(ini);
    EXPECT_EQ(read.geometry, QRect(10, 20, 640, 360));
    EXPECT_EQ(read.theme, StageThemeKind::LyricColors); // an unknown theme is the default
    EXPECT_EQ(read.fontName, StageSettings().fontName);
    StageSettings changed = read;
    EXPECT_FALSE(changed.save(ini, read));
    changed.fullScreen = true;
    changed.screen = QStringLiteral("HDMI-1");
    changed.geometry = QRect(1930, 40, 800, 450);
    EXPECT_TRUE(changed.save(ini, read));
    EXPECT_EQ(StageSettings::load(ini), changed);

    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    struct Case { QRect wanted, placed; };
    for (const Case &c : {Case{QRect(1930, 40, 800, 450), QRect(1930, 40, 800, 450)},   // on the second screen
                          Case{QRect(5000, 5000, 800, 450), QRect(560, 315, 800, 450)}, // gone: centred
                          Case{QRect(-2000, 0, 4000, 3000), QRect(0, 0, 1920, 1080)}}) { // too large
        EXPECT_EQ(usableStageGeometry(c.wanted, screens, screens[0]), c.placed);
    }
}
