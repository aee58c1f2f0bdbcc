#pragma once

// Real servers and files for the tests of the output's recovery: a PulseAudio server of the
// test's own that it can kill and start again, a recording of its null sink's monitor, and a
// SoundFont made from a real one with its sample data cut short, so that the sample headers
// point past it (FluidSynth loads such a file and plays nothing for those samples).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brisola::test {

using namespace std::chrono_literals;

template <typename Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

inline bool onPath(const char *program)
{
    return std::system((std::string("command -v ") + program + " > /dev/null 2>&1").c_str()) == 0;
}

// A PulseAudio server of this test's own, in a runtime folder of its own, with a null sink: it
// can be killed and started again without disturbing tests that run alongside.
class PrivatePulse {
public:
    PrivatePulse()
    {
        char folder[] = "/tmp/tonelark-pulse-XXXXXX";
        m_dir = mkdtemp(folder) ? folder : "";
    }
    ~PrivatePulse()
    {
        kill9();
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }
    const std::string &dir() const { return m_dir; }
    bool start()
    {
        std::error_code ec;
        std::filesystem::remove(m_dir + "/pulse/native", ec);
        m_pid = fork();
        if (m_pid == 0) {
            setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
            const std::string log = m_dir + "/pulseaudio.log";
            freopen(log.c_str(), "a", stdout);
            freopen(log.c_str(), "a", stderr);
            // As root PulseAudio warns that it is meant for a user session; --system=false keeps it one.
            execlp("pulseaudio", "pulseaudio", "-n", "--system=false", "--exit-idle-time=-1", "--disallow-exit",
                   "--use-pid-file=no", "--load=module-null-sink sink_name=tonelark_null",
                   "--load=module-native-protocol-unix", static_cast<char *>(nullptr));
            _exit(127);
        }
        return m_pid > 0 && waitUntil([&] { return std::filesystem::exists(m_dir + "/pulse/native"); }, 15s);
    }
    void kill9()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    std::string m_dir;
    pid_t m_pid = -1;
};

// parecord on the null sink's monitor for as long as it lives; loud() then says how many 10 ms
// windows of what it heard were loud.
class MonitorRecording {
public:
    explicit MonitorRecording(const std::string &dir) : m_raw(dir + "/monitor-" + std::to_string(m_serial++) + ".raw")
    {
        m_pid = fork();
        if (m_pid == 0) {
            execlp("parecord", "parecord", "--device=tonelark_null.monitor", "--raw", "--format=s16le", "--rate=44100",
                   "--channels=2", "--latency-msec=20", m_raw.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~MonitorRecording() { finish(); }
    void finish()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGINT);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // The loud 10 ms windows, in the order heard.
    std::vector<bool> windows()
    {
        finish();
        std::ifstream in(m_raw, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<bool> loud;
        constexpr std::size_t kWindowBytes = 441 * 4;
        for (std::size_t at = 0; at + kWindowBytes <= bytes.size(); at += kWindowBytes) {
            int peak = 0;
            for (std::size_t i = at; i < at + kWindowBytes; i += 2)
                peak = std::max(peak, std::abs(int(std::int16_t((std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i])))));
            loud.push_back(peak > 1000);
        }
        return loud;
    }

private:
    static inline int m_serial = 0;
    std::string m_raw;
    pid_t m_pid = -1;
};

inline int countLoud(const std::vector<bool> &windows) { return int(std::count(windows.begin(), windows.end(), true)); }

// Copies the SoundFont `from` to `to` with only the first `keepBytes` of its sample data: every
// chunk but the sample data is kept as it is. False when `from` is no SoundFont.
inline bool writeSoundFontWithSamplesCut(const std::string &from, const std::string &to, std::uint32_t keepBytes)
{
    std::ifstream in(from, std::ios::binary);
    char head[12];
    if (!in.read(head, 12) || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "sfbk", 4) != 0)
        return false;
    const auto le32 = [](const char *p) {
        return std::uint32_t(std::uint8_t(p[0])) | std::uint32_t(std::uint8_t(p[1])) << 8
               | std::uint32_t(std::uint8_t(p[2])) << 16 | std::uint32_t(std::uint8_t(p[3])) << 24;
    };
    const auto put32 = [](std::string &out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(char(v >> (8 * i)));
    };
    std::string body = "sfbk";
    char chunk[8];
    while (in.read(chunk, 8)) {
        const std::uint32_t size = le32(chunk + 4);
        char kind[4] = {};
        if (!in.read(kind, 4))
            return false;
        std::string data(kind, 4);
        if (std::memcmp(kind, "sdta", 4) == 0) {
            char smpl[8];
            if (!in.read(smpl, 8))
                return false;
            const std::uint32_t kept = std::min(keepBytes, le32(smpl + 4));
            std::string samples(kept, '\0');
            in.read(samples.data(), kept);
            data += "smpl";
            put32(data, kept);
            data += samples;
            in.seekg(std::streamoff(size) - 12 - kept + (size & 1), std::ios::cur);
        } else {
            std::string rest(size - 4, '\0');
            if (!in.read(rest.data(), std::streamsize(rest.size())))
                return false;
            data += rest;
            if (size & 1)
                in.ignore(1);
        }
        body.append(chunk, 4);
        put32(body, std::uint32_t(data.size()));
        body += data;
        if (data.size() & 1)
            body.push_back('\0');
    }
    std::string file = "RIFF";
    put32(file, std::uint32_t(body.size()));
    file += body;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    return bool(out.write(file.data(), std::streamsize(file.size())));
}

} // namespace brisola::test
