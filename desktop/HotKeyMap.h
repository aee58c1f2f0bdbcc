#pragma once

#include <QtGlobal>

#include <cstdint>
#include <optional>

// The stored hot key is a 16-bit shortcut value: a virtual-key code in the low 13 bits and
// the modifier flags 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt. X11 grabs a key by keysym and
// modifier mask; these functions translate one into the other.
namespace tonelark {

inline constexpr quint16 kVirtualKeyMask = 0x1FFF;

// The X keysym of a virtual-key code: letters, digits, F1-F24, arrows, Home/End/PgUp/PgDn,
// Ins/Del, Space, Enter, Esc, Tab, Backspace, Pause, Print and the numeric keypad. Empty for
// any other code (the key cannot be grabbed).
std::optional<std::uint32_t> keysymForVirtualKey(quint16 virtualKey);

// The X modifier mask (Shift, Control, Mod1 for Alt, Mod4 for Super) of a shortcut value's
// flags, with Super added when `withSuper`.
std::uint16_t x11ModifiersFor(quint16 shortcut, bool withSuper);

// The masks a grab has to cover so the key also fires with Caps Lock or Num Lock on: 0, Lock,
// Num Lock and both. `numLockMask` is the modifier bit Num_Lock is mapped to (0 when none).
inline constexpr int kLockVariantCount = 4;
std::uint16_t lockVariant(int index, std::uint16_t numLockMask);

} // namespace tonelark
