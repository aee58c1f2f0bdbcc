#include <gtest/gtest.h>

#include "MelodyChannels.h"
#include "SmfBuilder.h"

using namespace tonelark;
using brisola::test::Bytes;
using brisola::test::smf;
using brisola::test::TrackBuilder;

namespace {

QByteArrayView view(const Bytes &b) { return QByteArrayView(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())); }

// Eight notes a quarter apart from `start` on `ch`, offset by `late` ticks.
TrackBuilder line(int ch, std::uint32_t start = 0, int late = 0, int count = 8, std::uint32_t step = 480)
{
    TrackBuilder t;
    for (int i = 0; i < count; ++i)
        t.note(std::uint32_t(int(start + std::uint32_t(i) * step) + late), 100, ch, 60 + i);
    return t;
}

std::vector<quint32> syllables(int count = 8, std::uint32_t step = 480)
{
    std::vector<quint32> ticks;
    for (int i = 0; i < count; ++i)
        ticks.push_back(quint32(i) * step);
    return ticks;
}

} // namespace

TEST(MelodyChannels, TrackNamesThatSayMelody)
{
    for (const char *name : {"Melody", "MELODY guide", "Vocal", "ｖｏｃａｌ", "メロディ", "ﾒﾛﾃﾞｨ", "メロ", "歌", "ボーカル",
                             "Lead Vocals"})
        EXPECT_TRUE(isMelodyTrackName(QString::fromUtf8(name))) << name;
    for (const char *name : {"", "Piano", "Drums", "Bass", "めろ", "Chorus"})
        EXPECT_FALSE(isMelodyTrackName(QString::fromUtf8(name))) << name;
}

TEST(MelodyChannels, EachRuleInItsOrder)
{
    // Track 1 "Piano" on ch 1, track 2 "Melody" on ch 3 (off the syllables), ch 2 on the
    // syllables, a "Vocal" track holding only drums.
    TrackBuilder piano = line(0, 0, 0, 32, 120);
    piano.text(0, 3, "Piano");
    TrackBuilder melody = line(2, 240);
    melody.text(0, 3, "Melody");
    TrackBuilder onSyllables = line(1, 0, 30);
    TrackBuilder drums = line(9);
    drums.text(0, 3, "Vocal");
    const Bytes named = smf({piano, melody, onSyllables, drums});
    const ChannelSurvey survey = surveyChannels(view(named));
    ASSERT_EQ(survey.timeBase, 480);
    EXPECT_EQ(survey.trackNames[2], QStringLiteral("Melody"));
    EXPECT_EQ(survey.noteOnTicks[1].size(), 8u);

    EXPECT_EQ(detectMelody(survey, 1u << 5 | 1u << 0, syllables()), (MelodyChoice{1u << 0, MelodyRule::XfLyrics}))
        << "XF channels that strike notes";
    EXPECT_EQ(detectMelody(survey, 1u << 5, syllables()), (MelodyChoice{1u << 2, MelodyRule::TrackName}))
        << "an XF channel without notes is passed over; drums never count";
    EXPECT_EQ(detectMelody(survey, 0, {}), (MelodyChoice{1u << 2, MelodyRule::TrackName}));

    const Bytes unnamed = smf({line(0, 0, 0, 32, 120), line(2, 240), line(1, 0, 30), line(9)});
    const ChannelSurvey plain = surveyChannels(view(unnamed));
    EXPECT_EQ(detectMelody(plain, 0, syllables()), (MelodyChoice{1u << 1, MelodyRule::Syllables}))
        << "30 ticks late is within a 32nd; the busy channel 1 hits every syllable among 24 other notes";
    EXPECT_EQ(detectMelody(plain, 0, {}), MelodyChoice{}) << "no lyrics, no name: none";
}

TEST(MelodyChannels, SyllableMatchesTiesAndNone)
{
    const struct {
        const char *name;
        std::vector<TrackBuilder> tracks;
        MelodyChoice expected;
    } cases[] = {
        {"a tie goes to the lower channel", {line(4), line(3)}, {1u << 3, MelodyRule::Syllables}},
        {"61 ticks late is outside a 32nd", {line(0, 0, 61)}, {}},
        {"drums on the syllables are no melody", {line(9)}, {}},
        {"a channel meeting too few syllables is none", {line(0, 0, 0, 1)}, {}},
        {"a part with notes only on syllables beats a busier one hitting them all",
         {line(0, 0, 0, 16, 240), line(5, 0, -20, 6)}, {1u << 5, MelodyRule::Syllables}},
    };
    for (const auto &c : cases) {
        const Bytes song = smf(c.tracks);
        EXPECT_EQ(detectMelody(surveyChannels(view(song)), 0, syllables()), c.expected) << c.name;
    }
    // A drum kit chosen by bank on channel 3 is a drum part.
    TrackBuilder kit = line(2);
    kit.cc(0, 2, 0, 127).program(0, 2, 0);
    const Bytes song = smf({kit});
    EXPECT_EQ(detectMelody(surveyChannels(view(song)), 0, syllables()), MelodyChoice{});
}

TEST(MelodyChannels, SurveyOfDamagedBytesNeverReadsOutside)
{
    TrackBuilder t = line(0);
    t.text(0, 3, "Vocal").text(0, 5, "ら");
    const Bytes good = smf({t});
    EXPECT_EQ(surveyChannels(view(good)).trackNames[0], QStringLiteral("Vocal"));
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const Bytes part(good.begin(), good.begin() + std::ptrdiff_t(cut));
        const ChannelSurvey s = surveyChannels(view(part));
        EXPECT_LE(s.noteOnTicks[0].size(), 8u);
    }
    Bytes flipped = good;
    for (std::size_t i = 14; i < flipped.size(); ++i) {
        flipped[i] ^= 0xFF;
        surveyChannels(view(flipped));
        flipped[i] ^= 0xFF;
    }
    EXPECT_TRUE(surveyChannels(QByteArrayView("not a song")).tracks.empty());
}

TEST(MelodyChannels, SungLinesGiveTheXfChannelsAndTheSyllables)
{
    // An XF song: the words in an XFKM chunk naming channel 4, which is not the channel that
    // matches the syllables best.
    TrackBuilder marked = line(0);
    marked.text(0, 3, "Piano").raw(0, {0xFF, 0x7F, 0x0A, 0x43, 0x7B, 0x00, 'X', 'F', '0', '2', 0x00, 0x1B, 0x00});
    TrackBuilder words;
    words.text(0, 7, "$Lyrc:4:0:JP");
    for (int i = 0; i < 8; ++i)
        words.text(std::uint32_t(i * 480), 5, i == 7 ? "ら/" : "ら");
    Bytes xf = smf({marked, line(3, 240)});
    Bytes chunk = words.chunk();
    std::copy_n("XFKM", 4, chunk.begin());
    xf.insert(xf.end(), chunk.begin(), chunk.end());
    const SungFacts facts = sungFactsOf(view(xf), false);
    EXPECT_EQ(facts.xfChannels, 1u << 3);
    EXPECT_EQ(facts.syllableTicks, syllables());
    EXPECT_EQ(detectMelody(surveyChannels(view(xf)), facts.xfChannels, facts.syllableTicks),
              (MelodyChoice{1u << 3, MelodyRule::XfLyrics}));

    // Lyric syllables in a track of their own.
    TrackBuilder lyrics;
    for (int i = 0; i < 8; ++i)
        lyrics.text(std::uint32_t(i * 480), 5, i == 7 ? "た/" : "た");
    const Bytes sung = smf({lyrics, line(2, 240), line(5, 0, 10)});
    const SungFacts plain = sungFactsOf(view(sung), false);
    EXPECT_EQ(plain.xfChannels, 0);
    EXPECT_EQ(detectMelody(surveyChannels(view(sung)), plain.xfChannels, plain.syllableTicks),
              (MelodyChoice{1u << 5, MelodyRule::Syllables}));
    EXPECT_TRUE(sungFactsOf(QByteArrayView("MThd"), false).syllableTicks.empty()) << "refused bytes";

    // A whole line per Lyric event times no notes: no syllable rule.
    TrackBuilder phrases;
    phrases.text(0, 5, "さくら さくら やよいの空は").text(1920, 5, "見わたす限り かすみか雲か");
    const Bytes lined = smf({phrases, line(2, 0, 0, 2, 1920), line(5, 0, 0, 16, 240)});
    EXPECT_TRUE(sungFactsOf(view(lined), false).syllableTicks.empty());
}

TEST(MelodyChannels, InfoText)
{
    EXPECT_EQ(melodyInfoText(0), QStringLiteral("メロディ: なし"));
    EXPECT_EQ(melodyInfoText(1u << 3), QStringLiteral("メロディ: ch 4"));
    EXPECT_EQ(melodyInfoText(1u << 0 | 1u << 15), QStringLiteral("メロディ: ch 1, 16"));
}
