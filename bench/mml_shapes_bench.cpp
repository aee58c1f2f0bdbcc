// Compile time against the shape of the source. The compile runs on the window's thread, so
// a source whose time grows faster than its size freezes the player. Each shape is compiled
// through the library's C entry (file written when it compiles) at 256 KB and 1 MB; the
// table shows the best of three runs, how the time grew when the size grew fourfold
// (4 is linear, 16 quadratic), and the 1 MB time against the 1 MB source with one statement
// per line. Exits 1 when a shape breaks the limits below.
//
// Usage: mml_shapes_bench [runs]

#include "dSakura.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t kSmall = 256 * 1024;
constexpr size_t kLarge = 1024 * 1024;
constexpr double kMaxSeconds = 0.5;     // no 1 MB source may take longer
constexpr double kMaxRatio = 3.0;       // the slowest shape against the reference
constexpr double kMaxGrowth = 6.0;      // 4x the size, at most 6x the time

struct Shape
{
    const char *name;
    std::string unit;  // repeated until the size is reached
    std::string tail;  // appended once
};

std::string build(const Shape &shape, size_t size)
{
    std::string source;
    source.reserve(size + shape.tail.size() + shape.unit.size());
    while (source.size() + shape.unit.size() <= size)
        source += shape.unit;
    return source + shape.tail;
}

double secondsFor(const std::string &source, const std::string &path, int runs)
{
    std::vector<char> message(1024);
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        MMLtoMIDI(source.c_str(), path.c_str(), message.data());
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string path = "/tmp/tonelark-mml-shapes-" + std::to_string(::getpid()) + ".mid";
    SetErrMsgLen(1024);

    // The first is the reference; the next three are the shapes that once took seconds to
    // minutes (scans to the end of the line or file at each step). The rest cover every other
    // way the reader scans: long words, comments, chords, errors on every line.
    const std::vector<Shape> shapes = {
        {"one statement per line", "Lyric{\"a\"}r%1\n", ""},
        {"Lyric{\"a\"}r%1 on one line", "Lyric{\"a\"}r%1", ""},
        {"\"\" on one line", "\"\"", ""},
        {"X( on every line", "X(\n", ""},
        {"Foo{ on one line", "Foo{", ""},
        {"rests on one line (one word)", "r", ""},
        {"one word before =", "a", "=1"},
        {"CDEP64 on one line", "CDEP64", ""},
        {"chords with comments, one line", "'c/**/eg'%1", ""},
        {"unclosed chords, one line", "'c", ""},
        {"block comments, one line", "c/* */", ""},
        {"unclosed comment after a note", "c ", "/*"},
        {"unclosed strings per line", "Lyric{\"a\n", ""},
        {"unknown letter per line", "x\n", ""},
        {"value errors, one line", "y128,0 ", ""},
        {"full-width commands per line", "\xFC\x4B", ""}, // replaced below
        {"CR line ends", "c%1\r", ""},
        {"loop brackets, one line", "[c]", ""},
        {"ties, one line", "c%1^", "%1"},
    };
    std::vector<Shape> all = shapes;
    // Ｔｅｍｐｏ（１２０）c%1 per line, in CP932.
    all[15].unit = "\x82\x73\x82\x85\x82\x8D\x82\x90\x82\x8F\x81\x69\x82\x50\x82\x51\x82\x4F\x81\x6A" "c%1\n";

    std::printf("%-34s %12s %12s %8s %10s\n", "shape", "256 KB (ms)", "1 MB (ms)", "growth", "vs. ref");
    double reference = 0;
    double slowestOfThree = 0;
    bool pass = true;
    for (size_t i = 0; i < all.size(); ++i) {
        const double small = secondsFor(build(all[i], kSmall), path, runs);
        const double large = secondsFor(build(all[i], kLarge), path, runs);
        if (i == 0)
            reference = large;
        else if (i <= 3)
            slowestOfThree = std::max(slowestOfThree, large);
        const double growth = large / small;
        const bool ok = large <= kMaxSeconds && growth <= kMaxGrowth;
        pass = pass && ok;
        std::printf("%-34s %12.1f %12.1f %8.1f %9.2fx%s\n", all[i].name, small * 1e3, large * 1e3, growth,
                    large / reference, ok ? "" : "  <-- too slow");
    }
    const double ratio = slowestOfThree / reference;
    const bool ratioOk = ratio <= kMaxRatio;
    std::printf("\nslowest of the three former quadratic shapes at 1 MB: %.1f ms, %.2fx the reference (limit %.0fx)%s\n",
                slowestOfThree * 1e3, ratio, kMaxRatio, ratioOk ? "" : "  <-- too slow");
    std::printf("every 1 MB shape within %.0f ms and growing at most %.0fx for 4x the size: %s\n", kMaxSeconds * 1e3,
                kMaxGrowth, pass ? "yes" : "NO");
    std::remove(path.c_str());
    return pass && ratioOk ? 0 : 1;
}
