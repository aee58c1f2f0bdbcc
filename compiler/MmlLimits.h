#pragma once

#include <cstdint>

namespace sakura {

// Ranges the dialect accepts; the documentation quotes the same numbers.
inline constexpr int64_t kMinTrack = 0;
inline constexpr int64_t kMaxTrack = 255;
inline constexpr int64_t kMinTempo = 4; // slower would not fit the 24-bit tempo meta event
inline constexpr int64_t kMaxTempo = 999;
inline constexpr int64_t kMinTimeBase = 24;
inline constexpr int64_t kMaxTimeBase = 1920;
inline constexpr int64_t kDefaultTimeBase = 96;
inline constexpr int64_t kMaxOctave = 10;
inline constexpr int64_t kDefaultOctave = 5;
inline constexpr int64_t kDefaultVelocity = 100;
inline constexpr int64_t kDefaultGate = 90;
inline constexpr int64_t kDefaultTempo = 120;
inline constexpr int64_t kMinLoopCount = 1;
inline constexpr int64_t kMaxLoopCount = 9999;
inline constexpr int64_t kDefaultLoopCount = 2;
inline constexpr int kMaxLoopDepth = 32;
inline constexpr int kMaxDots = 16;

// The largest tick any event may have: the largest SMF delta time, so every delta fits.
inline constexpr int64_t kMaxTick = 0x0FFFFFFF;
// Bounds on what a run of nested loops may expand to, so no source can make the compiler
// run for minutes or fill memory: commands executed and events written.
inline constexpr int64_t kMaxSteps = 5'000'000;
inline constexpr int64_t kMaxEvents = 1'000'000;
// The longest source accepted, in bytes: far beyond any written song, and small enough that
// the compile's memory (a few times the source) stays modest.
inline constexpr int64_t kMaxSourceBytes = 2 * 1024 * 1024;
// Digits beyond this are "too large" whatever the command.
inline constexpr int64_t kNumberCeiling = 999'999'999'999LL;

} // namespace sakura
