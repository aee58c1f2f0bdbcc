#pragma once

#include <cstdint>

// Values shared by several parts of the program; each lives here once.
namespace tonelark {

inline constexpr const char kAppTitle[] = "Tonelark";
// The application id: the desktop entry's, the icon's and the AppStream metadata's name, so
// docks, Wayland compositors and software centres find the right entry.
inline constexpr const char kAppId[] = "io.github.tonelark.Tonelark";

// Output device id of the built-in synthesizer (the engine's default device).
inline constexpr int kBuiltInSynthDeviceId = -1100;

// Single-instance hand-over record: build stamp and message signature.
inline constexpr std::uint32_t kBuildStamp = 1032313;
inline constexpr std::uint32_t kCopyDataSignature = 0xC0D4DAFA;

// Ticks per second of the playback monitor's timer (16 ms).
inline constexpr int kMonitorIntervalMs = 16;
// While nothing moves (stopped or paused, no drag) the display changes only by a command,
// which brings the 16 ms pace back at once; polling slower then spares the idle CPU.
inline constexpr int kIdleMonitorIntervalMs = 100;

} // namespace tonelark
