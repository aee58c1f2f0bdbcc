// The program's own song parser reads what the compiler writes: the demo's texts, lyric
// lines with their times and the tempo map come out as the player will show them.

#include "SmfParser.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CompiledSong, ParserSeesTheDemoTextsLyricsAndTempoMap)
{
    void *library = dlopen(DSAKURA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using MmlToMidi = uint8_t(const char *, const char *, char *);
    auto *mmlToMidi = reinterpret_cast<MmlToMidi *>(dlsym(library, "MMLtoMIDI"));
    ASSERT_NE(mmlToMidi, nullptr);

    const std::string source = readFile(std::string(TONELARK_EXAMPLES_DIR) + "/sakura.mml");
    const std::string path = "/tmp/tonelark-mml-parser-" + std::to_string(getpid()) + ".mid";
    std::vector<char> message(1024, '\0');
    ASSERT_EQ(mmlToMidi(source.c_str(), path.c_str(), message.data()), 1) << message.data();
    const std::string smf = readFile(path);
    std::remove(path.c_str());
    dlclose(library);

    tonelark::TSmfParser parser;
    parser.Execute(smf.data(), static_cast<quint32>(smf.size()));
    EXPECT_EQ(parser.Title().Count(), 1);
    EXPECT_EQ(parser.Title().Strings(0), QString::fromUtf8("さくらさくら"));
    EXPECT_EQ(parser.Copyright().Strings(0),
              QString::fromUtf8("Arrangement (C) 2026 Tonelark project / 日本古謡 (public domain)"));
    EXPECT_TRUE(parser.CC111LoopPoint());

    const tonelark::TSmfEventTempoList *tempo = parser.TempoList();
    ASSERT_NE(tempo, nullptr);
    EXPECT_EQ(tempo->Count(), 3);
    EXPECT_EQ(tempo->TimeBase(), 480);

    const tonelark::TSmfMetaEventString &lyric = parser.Lyric();
    ASSERT_EQ(lyric.Count(), 7);
    // 72 bpm until the sixth line, 80 for it, 60 for the last: tick 1920 is four quarters in.
    const std::vector<std::pair<QString, qint64>> expected{
        {QString::fromUtf8("さくら　さくら"), 3333},
        {QString::fromUtf8("いざや　いざや"), 36666},
        {QString::fromUtf8("見に行かん"), 42666}};
    for (const auto &[index, line] : std::vector<std::pair<int, size_t>>{{0, 0}, {5, 1}, {6, 2}}) {
        EXPECT_EQ(lyric.Strings(index), expected[line].first);
        ASSERT_NE(lyric.Objects(index), nullptr);
        EXPECT_EQ(lyric.Objects(index)->Millisecond, expected[line].second) << index;
    }
}

} // namespace
