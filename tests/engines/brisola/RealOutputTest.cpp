// The engine against real servers that scripts/test.sh starts (scripts/servers/engine.sh).
// Without them these tests skip.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "Brisola.h"
#include "SmfBuilder.h"

using namespace brisola::test;
using namespace std::chrono_literals;

TEST(RealOutput, BuiltInSynthesizerSoundsOnThePulseAudioNullSink)
{
    const char *runtime = std::getenv("TONELARK_PULSE_RUNTIME");
    const char *sinkName = std::getenv("TONELARK_PULSE_SINK");
    if (!runtime || !sinkName)
        GTEST_SKIP() << "TONELARK_PULSE_RUNTIME is not set: no PulseAudio test server (scripts/test.sh starts one)";
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    unsetenv("PULSE_SERVER");

    const std::string raw = std::string(runtime) + "/monitor-" + std::to_string(getpid()) + ".raw";
    const pid_t recorder = fork();
    ASSERT_GE(recorder, 0);
    if (recorder == 0) {
        const std::string device = std::string("--device=") + sinkName + ".monitor";
        execlp("parecord", "parecord", device.c_str(), "--raw", "--format=s16le", "--rate=44100", "--channels=2",
               raw.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(300ms);

    ASSERT_EQ(BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr), BRSERROR_NOERROR);
    BRS4SetMasterVolume(0); // the volume outlives devices; an earlier test may have lowered it
    const Bytes song = smf({TrackBuilder().program(0, 0, 0).note(0, 400, 0, 60, 120).note(480, 400, 0, 67, 120)});
    ASSERT_EQ(BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0), BRSERROR_NOERROR);
    ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    TBrs4PlayerStatus status{};
    const auto end = std::chrono::steady_clock::now() + 5s;
    do {
        std::this_thread::sleep_for(20ms);
        BRS4GetPlayerStatus(&status, sizeof status);
    } while (status.State == BRSSTATE_PLAY && std::chrono::steady_clock::now() < end);
    EXPECT_EQ(status.State, BRSSTATE_STOP) << "the song ends on the audio clock";
    EXPECT_EQ(status.Tick, 880);
    std::this_thread::sleep_for(300ms);
    BRS4CloseDevice();
    kill(recorder, SIGINT);
    int wstatus = 0;
    waitpid(recorder, &wstatus, 0);

    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    ASSERT_GT(bytes.size(), 44100u * 4 / 2) << "parecord recorded too little";
    int peak = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        peak = std::max(peak, std::abs(int(std::int16_t((std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i])))));
    EXPECT_GT(peak, 1000) << "the monitor of the null sink heard nothing";
}
