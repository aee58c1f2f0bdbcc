#include "Brisola.h"
#include "FluidSynthSink.h"
#include "MidiPortSink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// The texts the settings dialog asks the engine for: whole when the buffer is large enough,
// cut only between UTF-8 characters when it is not, and the size needed reported either way.

namespace {

std::string text(std::int32_t (*call)(char *, std::int32_t), std::int32_t size)
{
    std::vector<char> buffer(std::size_t(size) + 1, 'X');
    call(buffer.data(), size);
    return std::string(buffer.data());
}

} // namespace

TEST(DeviceFacts, TextsAreWholeOrCutBetweenCharacters)
{
    const std::int32_t needed = BRS4GetSynthVersion(nullptr, 0);
    const std::string version = text(BRS4GetSynthVersion, needed);
    EXPECT_EQ(std::int32_t(version.size()) + 1, needed);
    EXPECT_EQ(version.rfind("FluidSynth 2.", 0), 0u) << version;
    EXPECT_EQ(text(BRS4GetSynthVersion, 4), "Flu");
    EXPECT_LT(BRS4GetSynthVersion(nullptr, 8), 0);

    std::string ports;
    for (const std::string &name : brisola::midiOutputPorts())
        ports += name + '\n';
    EXPECT_EQ(text(BRS4GetMidiOutDevNames, 65536), ports);

    // A SoundFont under a name of three-byte characters: a cut inside one keeps none of it.
    const std::string system = brisola::defaultSoundFont();
    if (system.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    const auto folder = std::filesystem::temp_directory_path() / "tonelark-facts";
    std::filesystem::create_directories(folder);
    const std::string named = (folder / "音色.sf2").string();
    std::filesystem::remove(named);
    std::filesystem::create_symlink(system, named);
    ASSERT_EQ(BRS4SetSoundFont(named.c_str()), BRSERROR_NOERROR);
    EXPECT_EQ(text(BRS4GetSoundFont, 4096), named);
    const std::int32_t cut = std::int32_t(named.size() - 4); // inside "色"
    EXPECT_EQ(text(BRS4GetSoundFont, cut), named.substr(0, named.size() - 7));
    BRS4SetSoundFont("");
    EXPECT_EQ(text(BRS4GetSoundFont, 4096), system);
    std::filesystem::remove_all(folder);
}
