#pragma once

// The three C entries of libdSakura.so, the MML compiler that the player loads at run time.
// All texts are zero-terminated CP932. The player never links this library; it looks the
// entries up by name, so these declarations only serve the library itself, tests and tools.

#include <stdint.h>

#if defined(__GNUC__)
#define DSAKURA_EXPORT __attribute__((visibility("default")))
#else
#define DSAKURA_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Compiles mml and writes the Standard MIDI File to midiPath (replaced in one step; left
// untouched on failure). Returns nonzero on success. errMsg receives the error messages
// (at most the first ten, "3行目: …") or, on success, any notes; it is always
// zero-terminated and never written beyond the length set by SetErrMsgLen (default 1024).
// A source longer than 2 MiB (2 097 152 bytes) is refused with a message.
DSAKURA_EXPORT uint8_t MMLtoMIDI(const char *mml, const char *midiPath, char *errMsg);

// Size in bytes of the errMsg buffers that following MMLtoMIDI calls receive; stays in force
// until set again. Zero or less: nothing is written into errMsg.
DSAKURA_EXPORT void SetErrMsgLen(int32_t length);

// Writes the compiler's version text into buffer: at most 16 bytes including the zero.
DSAKURA_EXPORT void GetVerInfo(char *buffer);

#ifdef __cplusplus
}
#endif
