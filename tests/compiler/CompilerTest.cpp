// Drives libdSakura.so the way the player does: dlopen, the three C entries, CP932 texts,
// and checks the SMF file it writes byte by byte through a strict reader.

#include "TestSmf.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <iconv.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using MmlToMidi = uint8_t(const char *, const char *, char *);
using SetErrMsgLen = void(int32_t);
using GetVerInfo = void(char *);

struct Library
{
    void *handle = nullptr;
    MmlToMidi *mmlToMidi = nullptr;
    SetErrMsgLen *setErrMsgLen = nullptr;
    GetVerInfo *getVerInfo = nullptr;
};

const Library &library()
{
    static const Library lib = [] {
        Library l;
        l.handle = dlopen(DSAKURA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!l.handle)
            return l;
        l.mmlToMidi = reinterpret_cast<MmlToMidi *>(dlsym(l.handle, "MMLtoMIDI"));
        l.setErrMsgLen = reinterpret_cast<SetErrMsgLen *>(dlsym(l.handle, "SetErrMsgLen"));
        l.getVerInfo = reinterpret_cast<GetVerInfo *>(dlsym(l.handle, "GetVerInfo"));
        return l;
    }();
    return lib;
}

std::string convert(const char *to, const char *from, const std::string &text)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no iconv converter");
    std::string out(text.size() * 4 + 4, '\0');
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    char *outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        throw std::runtime_error("text does not convert");
    out.resize(out.size() - outLeft);
    return out;
}

std::string toCp932(const std::string &utf8) { return convert("CP932", "UTF-8", utf8); }
std::string fromCp932(const std::string &cp932) { return convert("UTF-8", "CP932", cp932); }

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        out.push_back(line);
    return out;
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Compiled
{
    bool ok = false;
    std::string message; // UTF-8
    testsmf::File smf;
};

class CompilerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(library().handle, nullptr) << dlerror();
        ASSERT_NE(library().mmlToMidi, nullptr);
        ASSERT_NE(library().setErrMsgLen, nullptr);
        ASSERT_NE(library().getVerInfo, nullptr);
        library().setErrMsgLen(1024);
        std::string pattern = (fs::temp_directory_path() / "tonelark-mml-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        library().setErrMsgLen(1024);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    // Compiles a UTF-8 source (converted to CP932 as the player sends it).
    Compiled compile(const std::string &source)
    {
        return compileRaw(toCp932(source), (m_dir / "out.mid").string());
    }
    Compiled compileRaw(const std::string &cp932Source, const std::string &path)
    {
        std::vector<char> buffer(1024, '\0');
        Compiled result;
        result.ok = library().mmlToMidi(cp932Source.c_str(), path.c_str(), buffer.data()) != 0;
        result.message = fromCp932(buffer.data());
        if (result.ok)
            result.smf = testsmf::parse(readFile(path));
        return result;
    }
    // The first track after the conductor; most tests use only track 1.
    static const testsmf::Track &melody(const Compiled &c) { return c.smf.tracks.at(1); }

    fs::path m_dir;
};

struct NoteCase
{
    const char *source;
    std::vector<std::tuple<uint32_t, int, uint32_t>> notes; // tick, key, sounding length
};

class NoteTest : public CompilerTest, public ::testing::WithParamInterface<NoteCase> {};

TEST_P(NoteTest, PlacesKeysAtTicks)
{
    const Compiled c = compile(GetParam().source);
    ASSERT_TRUE(c.ok) << c.message;
    std::vector<std::tuple<uint32_t, int, uint32_t>> got;
    for (const testsmf::Note &note : melody(c).notes())
        got.emplace_back(note.tick, note.key, note.length);
    EXPECT_EQ(got, GetParam().notes) << GetParam().source;
}

// Default time base 96, octave 5 (o5c = 60), l4, q90: a quarter sounds 86 of 96 ticks.
INSTANTIATE_TEST_SUITE_P(Dialect, NoteTest, ::testing::Values(
    NoteCase{"cdefgab", {{0, 60, 86}, {96, 62, 86}, {192, 64, 86}, {288, 65, 86}, {384, 67, 86}, {480, 69, 86}, {576, 71, 86}}},
    NoteCase{"CDE", {{0, 60, 86}, {96, 62, 86}, {192, 64, 86}}},
    NoteCase{"ドレミファソラシフ", {{0, 60, 86}, {96, 62, 86}, {192, 64, 86}, {288, 65, 86}, {384, 67, 86}, {480, 69, 86}, {576, 71, 86}, {672, 65, 86}}},
    NoteCase{"c+ d# e- b+ c--", {{0, 61, 86}, {96, 63, 86}, {192, 63, 86}, {288, 72, 86}, {384, 58, 86}}},
    NoteCase{"q100 c8 d4. e%10 f2^8 g4..", {{0, 60, 48}, {48, 62, 144}, {192, 64, 10}, {202, 65, 240}, {442, 67, 168}}},
    NoteCase{"q100 c r8 d ッ4 e", {{0, 60, 96}, {144, 62, 96}, {336, 64, 96}}},
    NoteCase{"q100 l8 c c. L4. c c^%6", {{0, 60, 48}, {48, 60, 72}, {120, 60, 144}, {264, 60, 150}}},
    NoteCase{"o4 c > c < < c O0 c o10 g", {{0, 48, 86}, {96, 60, 86}, {192, 36, 86}, {288, 0, 86}, {384, 127, 86}}},
    NoteCase{"q50 c4 q1 c4 q100 c%1 q50 c%1", {{0, 60, 48}, {96, 60, 1}, {192, 60, 1}, {193, 60, 1}}},
    NoteCase{"q100 c12 c24 c3", {{0, 60, 32}, {32, 60, 16}, {48, 60, 128}}},
    NoteCase{"TimeBase=480 q100 c4 c16", {{0, 60, 480}, {480, 60, 120}}},
    NoteCase{"q100 'ceg'2 c", {{0, 60, 192}, {0, 64, 192}, {0, 67, 192}, {192, 60, 96}}},
    NoteCase{"q100 'c>c e-' c", {{0, 60, 96}, {0, 72, 96}, {0, 75, 96}, {96, 60, 96}}},
    NoteCase{"q100 [3 c : d] e", {{0, 60, 96}, {96, 62, 96}, {192, 60, 96}, {288, 62, 96}, {384, 60, 96}, {480, 64, 96}}},
    NoteCase{"q100 [2 [2 c] d] [e]", {{0, 60, 96}, {96, 60, 96}, {192, 62, 96}, {288, 60, 96}, {384, 60, 96}, {480, 62, 96}, {576, 64, 96}, {672, 64, 96}}},
    NoteCase{"q100 [1 c : d] e", {{0, 60, 96}, {96, 64, 96}}},
    NoteCase{"q100 c /* d */ e // f\n g", {{0, 60, 96}, {96, 64, 96}, {192, 67, 96}}},
    NoteCase{"q100 cde Volume=90 f", {{0, 60, 96}, {96, 62, 96}, {192, 64, 96}, {288, 65, 96}}},
    // Line ends of every kind, also for // comments; a trailing end-of-file mark.
    NoteCase{"q100 // my song\rc // x\r\nd // y\ne\x1A\r\n", {{0, 60, 96}, {96, 62, 96}, {192, 64, 96}}},
    // Full-width forms as a Japanese input method types them.
    NoteCase{"ｑ１００ ｏ４ ｃ Tempo（120） Ｌ８ ｄ", {{0, 48, 96}, {96, 50, 48}}},
    NoteCase{"ｑ１００ ｃ／／ｘ\nｄ／＊ \" ＊／ｅ", {{0, 60, 96}, {96, 62, 96}, {192, 64, 96}}},
    NoteCase{"q100 'c /* root */ e g' c", {{0, 60, 96}, {0, 64, 96}, {0, 67, 96}, {96, 60, 96}}}));

TEST_F(CompilerTest, VelocityAndRepeatedKeysReleaseBeforeTheyStrikeAgain)
{
    const Compiled c = compile("v80 q100 c c v0 d v127 e");
    ASSERT_TRUE(c.ok) << c.message;
    const auto &events = melody(c).events;
    // A legato repeat of the same key: the first note-off comes before the second note-on.
    ASSERT_EQ(events.size(), 7u); // two c, e (v0 d writes nothing), End of Track
    EXPECT_EQ(events[1].status, 0x80);
    EXPECT_EQ(events[1].tick, 96u);
    EXPECT_EQ(events[2].status, 0x90);
    EXPECT_EQ(static_cast<uint8_t>(events[0].data[1]), 80);
    // v0 d is silent and takes its length like a rest: no note-on with velocity 0 (a note-off
    // to every device) and no stray note-off.
    EXPECT_EQ(events[4].status, 0x90);
    EXPECT_EQ(events[4].tick, 288u);
    EXPECT_EQ(static_cast<uint8_t>(events[4].data[0]), 64);
    EXPECT_EQ(static_cast<uint8_t>(events[4].data[1]), 127);
}

struct ReadingCase
{
    const char *source;
    const char *events; // note-on keys and control changes of track 1, in order
    const char *message;
};

class ReadingTest : public CompilerTest, public ::testing::WithParamInterface<ReadingCase> {};

// Every letter sequence has one reading (docs/MML.md, "Reading letters"); where capitals
// alone allow two, the shorter name is taken so no note is lost, and the message says so.
TEST_P(ReadingTest, NoNoteDisappearsIntoACommand)
{
    const Compiled c = compile(GetParam().source);
    ASSERT_TRUE(c.ok) << GetParam().source << ": " << c.message;
    std::string got;
    for (const testsmf::Event &e : melody(c).events) {
        if ((e.status & 0xF0) == 0x90)
            got += std::to_string(static_cast<uint8_t>(e.data[0])) + " ";
        else if ((e.status & 0xF0) == 0xB0)
            got += "CC" + std::to_string(e.data[0]) + "=" + std::to_string(e.data[1]) + " ";
    }
    EXPECT_EQ(got, GetParam().events) << GetParam().source;
    EXPECT_EQ(c.message, GetParam().message) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(Letters, ReadingTest, ::testing::Values(
    ReadingCase{"cdeP=64", "60 62 64 CC10=64 ", ""},
    ReadingCase{"eP(64)", "64 CC10=64 ", ""},
    ReadingCase{"creV=100", "60 64 CC7=100 ", ""},
    ReadingCase{"cdeV100 cdeM10 cdeP64", "60 62 64 CC7=100 60 62 64 CC1=10 60 62 64 CC10=64 ", ""},
    ReadingCase{"cdeEP64 cdeREV40 cdeCHO20", "60 62 64 CC11=64 60 62 64 CC91=40 60 62 64 CC93=20 ", ""},
    ReadingCase{"cdeRev=40 cdeVolume=90 ep=3", "60 62 64 CC91=40 60 62 64 CC7=90 CC11=3 ", ""},
    ReadingCase{"CDEV100 CDEM10 CCHO20", "60 62 64 CC7=100 60 62 64 CC1=10 60 CC93=20 ", ""},
    ReadingCase{"p=5 m=6 P(7) pan=8 c", "CC10=5 CC1=6 CC10=7 CC10=8 60 ", ""},
    ReadingCase{"rev100 c", "64 60 ", ""}, // r, e, v100, c: small letters stay one-letter commands
    ReadingCase{"CDEP64", "60 62 64 CC10=64 ",
                "1行目: 注意: 「CDEP」は「CDE」と「P」に分けて読みました。「EP」のつもりなら、その前に空白を入れてください。"},
    ReadingCase{"c\nCDEREV40", "60 60 62 64 64 CC7=40 ",
                "2行目: 注意: 「CDEREV」は「CDERE」と「V」に分けて読みました。「REV」のつもりなら、その前に空白を入れてください。"},
    ReadingCase{"CDEP=64", "60 62 64 CC10=64 ",
                "1行目: 注意: 「CDEP」は「CDE」と「P」に分けて読みました。「EP」のつもりなら、その前に空白を入れてください。"}));


TEST_F(CompilerTest, TracksKeepTheirOwnPositionsAndChannels)
{
    const Compiled c = compile("TR=1 c c\nTR=2 CH=10 d\nTrack(3) e\nトラック(4) チャンネル(16) f\nTR=1 g\ntrack(17) a");
    ASSERT_TRUE(c.ok) << c.message;
    ASSERT_EQ(c.smf.format, 1);
    ASSERT_EQ(c.smf.tracks.size(), 6u); // conductor + 1, 2, 3, 4, 17
    const auto t1 = c.smf.tracks[1].notes();
    ASSERT_EQ(t1.size(), 3u);
    EXPECT_EQ(t1[2].tick, 192u); // back on track 1 after its two notes
    EXPECT_EQ(t1[2].channel, 0);
    const std::vector<std::pair<int, uint32_t>> expected{{9, 0}, {2, 0}, {15, 0}, {0, 0}};
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto notes = c.smf.tracks[i + 2].notes();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].channel, expected[i].first) << "track " << i + 2;
        EXPECT_EQ(notes[0].tick, expected[i].second);
    }
    EXPECT_TRUE(c.smf.tracks[0].notes().empty());
}

struct ControlCase
{
    const char *source;
    uint8_t kind;
    std::string data;
};

class ControlTest : public CompilerTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlTest, WritesTheChannelMessage)
{
    const Compiled c = compile(std::string("CH=3 ") + GetParam().source + " c");
    ASSERT_TRUE(c.ok) << c.message;
    const auto events = melody(c).channelEvents(GetParam().kind);
    ASSERT_EQ(events.size(), 1u) << GetParam().source;
    EXPECT_EQ(events[0].status, GetParam().kind | 2);
    EXPECT_EQ(events[0].data, GetParam().data) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(Controllers, ControlTest, ::testing::Values(
    ControlCase{"y111,0", 0xB0, std::string("\x6F\x00", 2)},
    ControlCase{"y 64 , 127", 0xB0, "\x40\x7F"},
    ControlCase{"V100", 0xB0, "\x07\x64"},
    ControlCase{"Volume=90", 0xB0, "\x07\x5A"},
    ControlCase{"EP64", 0xB0, "\x0B\x40"},
    ControlCase{"Expression(64)", 0xB0, "\x0B\x40"},
    ControlCase{"P32", 0xB0, "\x0A\x20"},
    ControlCase{"pan=1", 0xB0, "\x0A\x01"},
    ControlCase{"REV40", 0xB0, "\x5B\x28"},
    ControlCase{"Reverb=40", 0xB0, "\x5B\x28"},
    ControlCase{"CHO20", 0xB0, "\x5D\x14"},
    ControlCase{"Chorus(20)", 0xB0, "\x5D\x14"},
    ControlCase{"M10", 0xB0, "\x01\x0A"},
    ControlCase{"Modulation=10", 0xB0, "\x01\x0A"},
    ControlCase{"PitchBend=-8192", 0xE0, std::string("\x00\x00", 2)},
    ControlCase{"PitchBend=0", 0xE0, std::string("\x00\x40", 2)},
    ControlCase{"PitchBend(8191)", 0xE0, "\x7F\x7F"},
    ControlCase{"@1", 0xC0, std::string("\x00", 1)},
    ControlCase{"音色(128)", 0xC0, "\x7F"},
    ControlCase{"Program=49", 0xC0, "\x30"}));

TEST_F(CompilerTest, LoopPointLandsAtItsTickInsideRepeats)
{
    const Compiled c = compile("c4 [2 d8] y111,0 e");
    ASSERT_TRUE(c.ok) << c.message;
    const auto cc = melody(c).channelEvents(0xB0);
    ASSERT_EQ(cc.size(), 1u);
    EXPECT_EQ(cc[0].tick, 192u);
    EXPECT_EQ(cc[0].data[0], 111);
}

TEST_F(CompilerTest, TextsGoToTheConductorAndLyricsToTheirTrack)
{
    const Compiled c = compile("曲名{\"さくら 表ソ\"} 作者{\"日本古謡\"}\nコメント{ \"注:\" }\n"
                               "c 歌詞{\"さくら\"} d Lyric(\"やよい\") TR=2 r2 歌詞=\"のそらは\" e");
    ASSERT_TRUE(c.ok) << c.message;
    const auto &conductor = c.smf.tracks[0];
    // 表 and ソ end in the byte 0x5C; they must come through unchanged, not as escapes.
    ASSERT_EQ(conductor.metas(0x03).size(), 1u);
    EXPECT_EQ(conductor.metas(0x03)[0].data, toCp932("さくら 表ソ"));
    EXPECT_EQ(conductor.metas(0x02).at(0).data, toCp932("日本古謡"));
    EXPECT_EQ(conductor.metas(0x01).at(0).data, toCp932("注:"));
    const auto lyrics = melody(c).metas(0x05);
    ASSERT_EQ(lyrics.size(), 2u);
    EXPECT_EQ(lyrics[0].tick, 96u);
    EXPECT_EQ(lyrics[0].data, toCp932("さくら"));
    EXPECT_EQ(lyrics[1].tick, 192u);
    const auto second = c.smf.tracks[2].metas(0x05);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].tick, 192u);
    EXPECT_EQ(second[0].data, toCp932("のそらは"));
}

TEST_F(CompilerTest, TempoMapTimeSignatureAndEndOfTrack)
{
    const Compiled c = compile("TimeSignature=3,4 t120 c Tempo=90 c8 テンポ(60) c TR=2 c1 r2");
    ASSERT_TRUE(c.ok) << c.message;
    EXPECT_EQ(c.smf.format, 1);
    EXPECT_EQ(c.smf.division, 96);
    const auto tempos = c.smf.tracks[0].metas(0x51);
    ASSERT_EQ(tempos.size(), 3u);
    const std::vector<std::pair<uint32_t, std::string>> expected{
        {0, "\x07\xA1\x20"}, {96, "\x0A\x2C\x2B"}, {144, std::string("\x0F\x42\x40", 3)}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tempos[i].tick, expected[i].first);
        EXPECT_EQ(tempos[i].data, expected[i].second);
    }
    const auto signature = c.smf.tracks[0].metas(0x58);
    ASSERT_EQ(signature.size(), 1u);
    EXPECT_EQ(signature[0].data, std::string("\x03\x02\x18\x08", 4));
    // Each track ends at its own last position; the conductor at the song's end (track 2:
    // a whole note and a half rest).
    EXPECT_EQ(c.smf.tracks[0].events.back().tick, 576u);
    EXPECT_EQ(c.smf.tracks[1].events.back().tick, 240u);
    EXPECT_EQ(c.smf.tracks[2].events.back().tick, 576u);
}

TEST_F(CompilerTest, ConductorEventsFromSeveralTracksComeOutInTimeOrder)
{
    const Compiled c = compile("TR=1 c1 t100 Title{\"late\"} TR=2 t90 Copyright(\"c\") Comment=\"x\" c");
    ASSERT_TRUE(c.ok) << c.message;
    const auto &conductor = c.smf.tracks[0];
    const auto tempos = conductor.metas(0x51);
    ASSERT_EQ(tempos.size(), 2u); // t90 at tick 0 makes the default tempo unnecessary
    EXPECT_EQ(tempos[0].tick, 0u);
    EXPECT_EQ(tempos[0].data, "\x0A\x2C\x2B");
    EXPECT_EQ(tempos[1].tick, 384u);
    EXPECT_EQ(conductor.metas(0x03).at(0).tick, 384u);
    EXPECT_EQ(conductor.metas(0x02).at(0).data, "c");
    EXPECT_EQ(conductor.metas(0x01).at(0).data, "x");
    for (size_t i = 1; i < conductor.events.size(); ++i)
        EXPECT_LE(conductor.events[i - 1].tick, conductor.events[i].tick);
}

TEST_F(CompilerTest, DefaultTempoAndSignatureWhenTheSourceGivesNone)
{
    const Compiled c = compile("c r1 t150 c");
    ASSERT_TRUE(c.ok) << c.message;
    const auto tempos = c.smf.tracks[0].metas(0x51);
    ASSERT_EQ(tempos.size(), 2u);
    EXPECT_EQ(tempos[0].tick, 0u);
    EXPECT_EQ(tempos[0].data, "\x07\xA1\x20");
    EXPECT_EQ(tempos[1].tick, 480u);
    EXPECT_EQ(c.smf.tracks[0].metas(0x58).at(0).data, std::string("\x04\x02\x18\x08", 4));
}

TEST_F(CompilerTest, EmptySourceSucceedsWithANote)
{
    const Compiled c = compile("// nothing but a comment\n");
    ASSERT_TRUE(c.ok) << c.message;
    EXPECT_EQ(c.message, "注意: 音符が一つもありません。");
    ASSERT_EQ(c.smf.tracks.size(), 1u);
}

struct ErrorCase
{
    const char *source;
    const char *message; // the first line of the message buffer
};

class ErrorTest : public CompilerTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorTest, FailsWithLineNumberedMessage)
{
    const Compiled c = compile(GetParam().source);
    EXPECT_FALSE(c.ok);
    const auto got = lines(c.message);
    ASSERT_FALSE(got.empty()) << GetParam().source;
    EXPECT_EQ(got[0], GetParam().message) << GetParam().source;
    EXPECT_FALSE(fs::exists(m_dir / "out.mid"));
}

INSTANTIATE_TEST_SUITE_P(Messages, ErrorTest, ::testing::Values(
    ErrorCase{"c\nd\nX", "3行目: 未定義のコマンド「X」があります。"},
    ErrorCase{"c\n  Foo=3 d", "2行目: 未定義のコマンド「Foo」があります。"},
    ErrorCase{"音量(3)", "1行目: 未定義のコマンド「音量」があります。"},
    ErrorCase{"c\n\no11", "3行目: 「o」の値11が範囲外です（0～10）。"},
    ErrorCase{"v128", "1行目: 「v」の値128が範囲外です（0～127）。"},
    ErrorCase{"Track(256)", "1行目: 「Track」の値256が範囲外です（0～255）。"},
    ErrorCase{"CH=0", "1行目: 「CH」の値0が範囲外です（1～16）。"},
    ErrorCase{"t99999999999999999999", "1行目: 「t」の値99999999999999999999が範囲外です（4～999）。"},
    ErrorCase{"l", "1行目: 「l」の値がありません。"},
    ErrorCase{"c\no10 b", "2行目: 音域外の音です（ノート番号131、使えるのは0～127）。"},
    ErrorCase{"o0 c-", "1行目: 音域外の音です（ノート番号-1、使えるのは0～127）。"},
    ErrorCase{"o10 >", "1行目: オクターブが範囲外になります（0～10）。"},
    ErrorCase{"c7", "1行目: 音長「7」はTimeBase=96では割り切れません（「%ティック数」で書いてください）。"},
    ErrorCase{"c%3.", "1行目: 付点を付けた長さがティックで割り切れません。"},
    ErrorCase{"c\n[2 c", "2行目: ループの「[」に対応する「]」がありません。"},
    ErrorCase{"c ]", "1行目: 「]」に対応する「[」がありません。"},
    ErrorCase{"c :", "1行目: 「:」はループ「[ ]」の中でしか使えません。"},
    ErrorCase{"[c:d:e]", "1行目: 一つのループに「:」が二つ以上あります。"},
    ErrorCase{"歌詞{\"さくら}\nc", "1行目: 文字列の「\"」が閉じていません。"},
    ErrorCase{"曲名 c", "1行目: 「曲名」の後に「{\"文字列\"}」が必要です。"},
    ErrorCase{"c /* d\n e", "1行目: コメントの「/*」が「*/」で閉じていません。"},
    ErrorCase{"'ce", "1行目: 和音の「'」が閉じていません。"},
    ErrorCase{"'c r'", "1行目: 和音の中に使えないコマンド「r」があります。"},
    ErrorCase{"c4 8", "1行目: 数値「8」の前にコマンドがありません。"},
    ErrorCase{"^8", "1行目: 「^」の前に音符か休符がありません。"},
    ErrorCase{"c TimeBase=480", "1行目: TimeBaseは音符・休符・「l」より前に書いてください。"},
    ErrorCase{"TimeSignature=3,6", "1行目: 拍子の分母6は1, 2, 4, 8, 16, 32, 64のどれかにしてください。"},
    ErrorCase{"y111", "1行目: 「y」には「,」で区切った二つの値（コントロール番号,値）が必要です。"},
    ErrorCase{"Tempo(120 c", "1行目: 「Tempo」の「(」が「)」で閉じていません。"},
    ErrorCase{"c%0", "1行目: 長さ0の音符は置けません。"},
    ErrorCase{"l8 TimeBase=480", "1行目: TimeBaseは音符・休符・「l」より前に書いてください。"},
    ErrorCase{"c\rd\rX", "3行目: 未定義のコマンド「X」があります。"},
    ErrorCase{"'c e // third\n'", "1行目: 和音の「'」が閉じていません。"},
    ErrorCase{"c \x1A d", "1行目: 未定義のコマンド「0x1A」があります。"},
    ErrorCase{"v+10", "1行目: 「v」の値に符号「+」は付けられません（相対的な指定はできません）。"},
    ErrorCase{"o-1", "1行目: 「o」の値に符号「-」は付けられません（相対的な指定はできません）。"},
    ErrorCase{"Tempo120", "1行目: 「Tempo」の後に「=値」か「(値)」が必要です。"},
    ErrorCase{"c\nCH10 c", "2行目: 「CH」の後に「=値」か「(値)」が必要です。"}));

// Each mistake gives exactly one message, on its own line, and nothing after it.
TEST_F(CompilerTest, OneMessagePerMistake)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"y128,0 c", "1行目: 「y」の値128が範囲外です（0～127）。"},
        {"c\nTempo（1000） c", "2行目: 「Tempo」の値1000が範囲外です（4～999）。"},
        {"c /* d e", "1行目: コメントの「/*」が「*/」で閉じていません。"},
        {"X", "1行目: 未定義のコマンド「X」があります。"},
        {"hello c", "1行目: 未定義のコマンド「hello」があります。"},
        {"c Foo(1, \"x) d", "1行目: 未定義のコマンド「Foo」があります。"},
        {"c x8 d", "1行目: 未定義のコマンド「x」があります。"},
        {"c v200,3 d", "1行目: 「v」の値200が範囲外です（0～127）。"},
        {"c \"abc d", "1行目: 文字列の「\"」が閉じていません。"},
        {std::string(2000, 'x') + "=1 c",
         "1行目: 未定義のコマンド「" + std::string(40, 'x') + "…」があります。"},
    };
    for (const auto &[source, message] : cases) {
        const Compiled c = compile(source);
        EXPECT_FALSE(c.ok) << source;
        EXPECT_EQ(c.message, message) << source;
    }
}

TEST_F(CompilerTest, FullWidthFormsStayInsideStrings)
{
    const Compiled c = compile("Lyric{\"ＡＢ１（２）\"} ｃ");
    ASSERT_TRUE(c.ok) << c.message;
    EXPECT_EQ(melody(c).metas(0x05).at(0).data, toCp932("ＡＢ１（２）"));
}

TEST_F(CompilerTest, ATrackOfRestsKeepsItsLength)
{
    const Compiled c = compile("c TR=2 r1 r1");
    ASSERT_TRUE(c.ok) << c.message;
    ASSERT_EQ(c.smf.tracks.size(), 3u);
    EXPECT_EQ(c.smf.tracks[2].events.size(), 1u); // End of Track only
    EXPECT_EQ(c.smf.tracks[2].events.back().tick, 768u);
    EXPECT_EQ(c.smf.tracks[0].events.back().tick, 768u);
}

TEST_F(CompilerTest, InvalidCp932BytesAreReported)
{
    const Compiled c = compileRaw("c\n\x80\xFF d", (m_dir / "out.mid").string());
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(lines(c.message).at(0), "2行目: 文字コードが正しくありません（CP932として読めないバイトがあります）。");
}

TEST_F(CompilerTest, ShowsOnlyTheFirstTenErrorsInLineOrder)
{
    for (int count : {14, 1500}) {
        std::string source = "[2 c\n"; // reported last by the parser, but it is on line 1
        for (int i = 0; i < count; ++i)
            source += "x\n";
        const Compiled c = compile(source);
        EXPECT_FALSE(c.ok);
        const auto got = lines(c.message);
        ASSERT_EQ(got.size(), 11u);
        EXPECT_EQ(got[0], "1行目: ループの「[」に対応する「]」がありません。") << count;
        for (int i = 1; i < 10; ++i)
            EXPECT_EQ(got[i], std::to_string(i + 1) + "行目: 未定義のコマンド「x」があります。");
        EXPECT_EQ(got[10], "（ほかに" + std::to_string(count + 1 - 10) + "件のエラーがあります。）");
    }
}

TEST_F(CompilerTest, RepeatedPassesReportARuntimeErrorOnce)
{
    const Compiled c = compile("[3 o10 b]");
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(lines(c.message), std::vector<std::string>{"1行目: 音域外の音です（ノート番号131、使えるのは0～127）。"});
}

TEST_F(CompilerTest, MessageBufferHonoursTheAnnouncedLength)
{
    const std::string source = toCp932("x\nx\nx\n");
    const std::string path = (m_dir / "out.mid").string();
    std::string full;
    for (int line = 1; line <= 3; ++line)
        full += std::to_string(line) + "行目: 未定義のコマンド「x」があります。\n";
    for (int32_t length : {1, 2, 3, 4, 9, 10, 11, 12, 13, 40, 100}) {
        library().setErrMsgLen(length);
        std::vector<char> buffer(256, '\x55');
        EXPECT_EQ(library().mmlToMidi(source.c_str(), path.c_str(), buffer.data()), 0);
        const size_t text = strnlen(buffer.data(), buffer.size());
        ASSERT_LT(text, static_cast<size_t>(length)) << "length " << length;
        for (size_t i = static_cast<size_t>(length); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x55') << "byte " << i << " written with length " << length;
        // Cut at a character boundary: what is there decodes as CP932 and starts the full text.
        const std::string got = fromCp932(std::string(buffer.data(), text));
        EXPECT_EQ(full.substr(0, got.size()), got) << "length " << length;
    }
    library().setErrMsgLen(0);
    std::vector<char> untouched(16, '\x55');
    library().mmlToMidi(source.c_str(), path.c_str(), untouched.data());
    EXPECT_EQ(std::string(untouched.data(), 16), std::string(16, '\x55'));
}

TEST_F(CompilerTest, VersionTextFitsSixteenBytes)
{
    std::vector<char> buffer(32, '\x55');
    library().getVerInfo(buffer.data());
    const size_t length = strnlen(buffer.data(), 16);
    ASSERT_LT(length, 16u);
    EXPECT_EQ(std::string(buffer.data(), length), DSAKURA_EXPECTED_VERSION);
    for (size_t i = 16; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], '\x55');
}

TEST_F(CompilerTest, FailureLeavesAnExistingFileAndNoLitter)
{
    const fs::path path = m_dir / "keep.mid";
    std::ofstream(path, std::ios::binary) << "old bytes";
    const Compiled failed = compileRaw(toCp932("c x"), path.string());
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(readFile(path), "old bytes");

    const Compiled replaced = compileRaw(toCp932("c"), path.string());
    ASSERT_TRUE(replaced.ok) << replaced.message;
    EXPECT_EQ(readFile(path).substr(0, 4), "MThd");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator{}), 1);
}

// The output path is in the file system's encoding: the UTF-8 bytes of "曲" happen to be a
// valid CP932 sequence, so reading them as CP932 would write to another folder.
TEST_F(CompilerTest, OutputPathIsTakenInTheFileSystemsEncoding)
{
    const fs::path folder = m_dir / "曲 フォルダ";
    fs::create_directory(folder);
    const fs::path path = folder / "歌.mid";
    const Compiled c = compileRaw(toCp932("c"), path.string());
    ASSERT_TRUE(c.ok) << c.message;
    EXPECT_EQ(readFile(path).substr(0, 4), "MThd");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator{}), 1);
}

TEST_F(CompilerTest, UnwritablePathFailsWithAMessage)
{
    const fs::path path = m_dir / "no such folder" / "out.mid";
    const Compiled c = compileRaw(toCp932("c"), path.string());
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.message.find("MIDIファイル「" + path.string() + "」を書き込めませんでした"), std::string::npos) << c.message;
    EXPECT_FALSE(fs::exists(path.parent_path()));
}

TEST_F(CompilerTest, MissingArgumentsAreRefused)
{
    std::vector<char> buffer(1024, '\0');
    EXPECT_EQ(library().mmlToMidi(nullptr, (m_dir / "a.mid").c_str(), buffer.data()), 0);
    EXPECT_EQ(fromCp932(buffer.data()), "MMLのテキストが渡されていません。");
    EXPECT_EQ(library().mmlToMidi("c", nullptr, buffer.data()), 0);
    EXPECT_EQ(library().mmlToMidi("c", "", buffer.data()), 0);
    EXPECT_EQ(fromCp932(buffer.data()), "書き出すMIDIファイルの名前が渡されていません。");
    EXPECT_EQ(library().mmlToMidi("c", (m_dir / "a.mid").c_str(), nullptr), 1);
}

// A source beyond the documented 2 MiB is refused before it is read any further; one of
// exactly that size is compiled.
TEST_F(CompilerTest, SourcesBeyondTwoMebibytesAreRefused)
{
    const std::string atLimit(2 * 1024 * 1024, ' ');
    EXPECT_EQ(compileRaw(atLimit + "c", (m_dir / "long.mid").string()).message,
              "MMLのテキストが長すぎます（最大2097152バイト）。");
    EXPECT_FALSE(fs::exists(m_dir / "long.mid"));
    EXPECT_TRUE(compileRaw(atLimit, (m_dir / "limit.mid").string()).ok);
}

struct LimitCase
{
    const char *source;
    const char *message;
};

class LimitTest : public CompilerTest, public ::testing::WithParamInterface<LimitCase> {};

// Sources that would run for hours or fill memory stop quickly with a message.
TEST_P(LimitTest, StopsQuicklyWithAMessage)
{
    const auto start = std::chrono::steady_clock::now();
    const Compiled c = compile(GetParam().source);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(lines(c.message).at(0), GetParam().message);
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

INSTANTIATE_TEST_SUITE_P(Guards, LimitTest, ::testing::Values(
    LimitCase{"[9999 [9999 [9999 v1]]]", "1行目: ループの展開が大きすぎます（ループの回数を見直してください）。"},
    LimitCase{"[9999 [9999 c%1]]", "1行目: イベントが多すぎます（最大1000000個）。ループの回数を見直してください。"},
    LimitCase{"[9999 [9999\n r1]]", "2行目: 曲が長すぎます（268435455ティックを超えました）。"},
    LimitCase{"c%268435455 c%1", "1行目: 曲が長すぎます（268435455ティックを超えました）。"},
    LimitCase{"c%268435456", "1行目: ティック数「268435456」が大きすぎます（最大268435455）。"},
    LimitCase{"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[c]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", "1行目: ループの入れ子が深すぎます（最大32段）。"}));

} // namespace

namespace {

// The MML demo is written to sound like examples/sakura.mid, which its own script generates:
// the same melody at the same ticks, the same lyric lines, tempo map, texts and loop point.
TEST_F(CompilerTest, DemoMatchesTheReferenceSong)
{
    const std::string source = readFile(fs::path(TONELARK_EXAMPLES_DIR) / "sakura.mml");
    ASSERT_FALSE(source.empty());
    const Compiled mml = compileRaw(source, (m_dir / "sakura.mid").string());
    ASSERT_TRUE(mml.ok) << mml.message;
    EXPECT_EQ(mml.message, "");
    const testsmf::File reference = testsmf::parse(readFile(fs::path(TONELARK_EXAMPLES_DIR) / "sakura.mid"));
    ASSERT_EQ(mml.smf.division, reference.division);
    ASSERT_EQ(mml.smf.tracks.size(), reference.tracks.size());

    auto noteList = [](const testsmf::Track &track) {
        std::vector<std::tuple<uint32_t, int, int, int, uint32_t>> out;
        for (const testsmf::Note &n : track.notes())
            out.emplace_back(n.tick, n.channel, n.key, n.velocity, n.length);
        return out;
    };
    EXPECT_EQ(noteList(mml.smf.tracks[1]), noteList(reference.tracks[1]));

    auto metaList = [](const testsmf::Track &track, uint8_t type) {
        std::vector<std::pair<uint32_t, std::string>> out;
        for (const testsmf::Event &e : track.metas(type))
            out.emplace_back(e.tick, e.data);
        return out;
    };
    EXPECT_EQ(metaList(mml.smf.tracks[1], 0x05), metaList(reference.tracks[1], 0x05));
    EXPECT_EQ(metaList(mml.smf.tracks[1], 0x05).size(), 7u);
    for (uint8_t type : {0x01, 0x02, 0x03, 0x51, 0x58})
        EXPECT_EQ(metaList(mml.smf.tracks[0], type), metaList(reference.tracks[0], type)) << int(type);
    EXPECT_EQ(metaList(mml.smf.tracks[0], 0x51).size(), 3u);

    auto loopPoint = [](const testsmf::Track &track) {
        for (const testsmf::Event &e : track.channelEvents(0xB0)) {
            if (e.data[0] == 111)
                return static_cast<int64_t>(e.tick);
        }
        return int64_t{-1};
    };
    EXPECT_EQ(loopPoint(mml.smf.tracks[1]), 1920);
    EXPECT_EQ(loopPoint(mml.smf.tracks[1]), loopPoint(reference.tracks[1]));
    EXPECT_EQ(mml.smf.tracks[0].events.back().tick, reference.tracks[0].events.back().tick);
}

} // namespace
