// A stand-in MML compiler for the bridge tests, built in several variants: each
// FAKE_NO_* leaves out one entry, FAKE_SILENT_SUCCESS reports success without writing.
//
// MMLtoMIDI writes "MThd" and the MML text into the MIDI file, and a message
// "len=<announced length or unset> calls=<calls since load>"; an MML text starting with
// "!" fails with a CP932 message.

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
[[maybe_unused]] std::int32_t g_announcedLength = -1;
[[maybe_unused]] int g_calls = 0;
}

extern "C" {

#ifndef FAKE_NO_SETERRMSGLEN
__attribute__((visibility("default"))) void SetErrMsgLen(std::int32_t length)
{
    g_announcedLength = length;
}
#endif

#ifndef FAKE_NO_MMLTOMIDI
__attribute__((visibility("default"))) std::uint8_t MMLtoMIDI(const char *mml, const char *midiFileName,
                                                              char *errMsg)
{
    ++g_calls;
    char lengthText[16];
    if (g_announcedLength < 0)
        std::snprintf(lengthText, sizeof lengthText, "unset");
    else
        std::snprintf(lengthText, sizeof lengthText, "%d", static_cast<int>(g_announcedLength));
    if (mml[0] == '!') {
        // "1行目: 不明な命令" in CP932
        std::snprintf(errMsg, 64, "1\x8d\x73\x96\xda: \x95\x73\x96\xbe\x82\xc8\x96\xbd\x97\xdf");
        return 0;
    }
#ifndef FAKE_SILENT_SUCCESS
    if (std::FILE *file = std::fopen(midiFileName, "wb")) {
        std::fputs("MThd", file);
        std::fputs(mml, file);
        std::fclose(file);
    }
#else
    (void)midiFileName;
#endif
    std::snprintf(errMsg, 64, "len=%s calls=%d", lengthText, g_calls);
    // A Boolean result: only the low byte counts.
    return 0x01;
}
#endif

#ifndef FAKE_NO_GETVERINFO
__attribute__((visibility("default"))) void GetVerInfo(char *buffer)
{
#ifdef FAKE_FULL_VERSION
    // Exactly 16 bytes and no terminator.
    std::memcpy(buffer, "0123456789ABCDEFGHIJ", 20);
#else
    // "版2.0" in CP932
    std::strcpy(buffer, "\x94\xc5" "2.0");
#endif
}
#endif

} // extern "C"
