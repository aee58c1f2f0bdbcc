// The engine plays every file the window shows: whatever the program's song parser accepts, the
// engine's reader accepts too. Checked on damaged variants of real and generated songs.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "SmfBuilder.h"
#include "SmfParser.h"
#include "SmfTimeline.h"

using namespace brisola;
using namespace brisola::test;

namespace {

bool parserAccepts(const Bytes &bytes)
{
    try {
        tonelark::TSmfParser parser;
        parser.Execute(bytes.data(), quint32(bytes.size()));
        return true;
    } catch (...) {
        return false;
    }
}

Bytes withTrackBody(const Bytes &body, std::uint16_t tracks = 1)
{
    Bytes out = header(1, tracks, 96);
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBe32(out, std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

} // namespace

TEST(Acceptance, EveryFileTheSongParserAcceptsIsPlayable)
{
    std::ifstream in(TONELARK_EXAMPLES_DIR "/sakura.mid", std::ios::binary);
    const Bytes demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(demo.empty());
    Bytes longChunk = smf({TrackBuilder().text(0, 5, "la").note(0, 10, 0, 60)});
    longChunk[21] += 50;
    // One of each kind of damage real files carry, then random damage to these and the demo song.
    const std::vector<Bytes> seeds = {
        demo,
        header(0, 0, 480),
        longChunk,
        withTrackBody({0x00, 0x90, 0x3C, 0x90, 0x05, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}),
        withTrackBody({0x00, 0x3C, 0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}),
        withTrackBody({0x00, 0xF2, 0x01, 0x05, 0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}),
        withTrackBody({0x00, 0xC0, 0x05, 0x00, 0xFF, 0x05, 0x40, 'l', 'a'}),
        smf({TrackBuilder().tempo(0, 400000).sysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).note(0, 96, 0, 60),
             TrackBuilder().text(0, 3, "title").cc(10, 1, 7, 100).note(20, 30, 1, 64)}),
    };
    std::mt19937 random(14);
    int accepted = 0;
    for (int round = 0; round < 10000; ++round) {
        Bytes bytes = seeds[std::size_t(round) % seeds.size()];
        const int damage = round < int(seeds.size()) ? 0 : 1 + int(random() % 3);
        for (int d = 0; d < damage && !bytes.empty(); ++d) {
            const std::size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0: bytes[at] = std::uint8_t(random()); break;
            case 1: bytes.resize(std::max<std::size_t>(at, 14)); break;
            case 2: bytes.insert(bytes.begin() + std::ptrdiff_t(at), std::uint8_t(random())); break;
            default: bytes.erase(bytes.begin() + std::ptrdiff_t(at)); break;
            }
        }
        if (!parserAccepts(bytes))
            continue;
        ++accepted;
        BrsError error;
        const auto timeline = SmfTimeline::read(bytes.data(), bytes.size(), error);
        EXPECT_TRUE(timeline) << "round " << round << ": error " << error;
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(accepted, 1500) << "the damage should leave many files the parser still accepts";
}
