// Time from a program's start to its window appearing on the X server, by the X server's own
// MapNotify (watching the root window's children), not by polling with a tool. Starts the
// programs given, in turn, ROUNDS times each (interleaved, so both meet the same load), each
// in a fresh runtime folder, and ends each once its window is mapped. Prints each program's
// median and the ratio of the medians to the first program's.
//   window_map_bench ROUNDS PROGRAM_A [ARG] -- PROGRAM_B [ARG] ...
// (bench/window_map.sh runs the player against a Qt hello world under Xvfb and openbox.)

#include "BenchFigures.h"

#include <xcb/xcb.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from the start of `argv` until a child of the root window is mapped; -1 when
// none is within 30 s.
double timeToMap(xcb_connection_t *x, const std::vector<std::string> &args)
{
    while (xcb_generic_event_t *e = xcb_poll_for_event(x))
        std::free(e); // what earlier programs left
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    char runtime[] = "/tmp/tonelark-map-XXXXXX";
    if (!mkdtemp(runtime))
        return -1;
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    double ms = -1;
    const int fd = xcb_get_file_descriptor(x);
    while (Clock::now() - start < std::chrono::seconds(30)) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval wait{0, 100000};
        select(fd + 1, &set, nullptr, nullptr, &wait);
        bool mapped = false;
        while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
            mapped |= (e->response_type & 0x7F) == XCB_MAP_NOTIFY;
            std::free(e);
        }
        if (mapped) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
    }
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    std::string rm = std::string("rm -rf ") + runtime;
    std::system(rm.c_str());
    return ms;
}

} // namespace

using bench::loadAverage;
using bench::median;

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_map_bench ROUNDS PROGRAM [ARG...] [-- PROGRAM [ARG...]]...\n");
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[1]));
    std::vector<std::vector<std::string>> programs(1);
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--")
            programs.emplace_back();
        else
            programs.back().push_back(argv[i]);
    }
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X server (DISPLAY)\n");
        return 1;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    const double loadBefore = loadAverage();
    std::vector<std::vector<double>> times(programs.size());
    for (int round = 0; round < rounds; ++round)
        for (std::size_t p = 0; p < programs.size(); ++p)
            if (const double ms = timeToMap(x, programs[p]); ms >= 0)
                times[p].push_back(ms);
    const double first = median(times[0]);
    for (std::size_t p = 0; p < programs.size(); ++p) {
        std::string name = programs[p][0].substr(programs[p][0].rfind('/') + 1);
        std::printf("%-24s median %7.1f ms to the map event (%zu of %d mapped), %.2fx the first\n", name.c_str(),
                    median(times[p]), times[p].size(), rounds, median(times[p]) / first);
    }
    std::printf("load %.2f -> %.2f\n", loadBefore, loadAverage());
    xcb_disconnect(x);
    return 0;
}
