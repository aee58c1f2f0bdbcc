#include "HotKeyMap.h"

namespace tonelark {

namespace {

// X11 modifier bits (X.h): Shift 1, Lock 2, Control 4, Mod1 8 (Alt), Mod4 64 (Super).
constexpr std::uint16_t kXShift = 1 << 0;
constexpr std::uint16_t kXLock = 1 << 1;
constexpr std::uint16_t kXControl = 1 << 2;
constexpr std::uint16_t kXMod1 = 1 << 3;
constexpr std::uint16_t kXMod4 = 1 << 6;

// Modifier flags of a shortcut value.
constexpr quint16 kFlagShift = 0x2000;
constexpr quint16 kFlagCtrl = 0x4000;
constexpr quint16 kFlagAlt = 0x8000;

struct KeyPair {
    quint16 virtualKey;
    std::uint32_t keysym;
};

// Keys outside the contiguous ranges handled below.
constexpr KeyPair kSingleKeys[] = {
    {0x08, 0xff08}, // Backspace
    {0x09, 0xff09}, // Tab
    {0x0D, 0xff0d}, // Enter: Return
    {0x13, 0xff13}, // Pause
    {0x1B, 0xff1b}, // Esc
    {0x20, 0x0020}, // Space
    {0x21, 0xff55}, // PgUp: Prior
    {0x22, 0xff56}, // PgDn: Next
    {0x23, 0xff57}, // End
    {0x24, 0xff50}, // Home
    {0x25, 0xff51}, // Left
    {0x26, 0xff52}, // Up
    {0x27, 0xff53}, // Right
    {0x28, 0xff54}, // Down
    {0x2C, 0xff61}, // Print Screen
    {0x2D, 0xff63}, // Insert
    {0x2E, 0xffff}, // Delete
    {0x6A, 0xffaa}, // numpad *
    {0x6B, 0xffab}, // numpad +
    {0x6C, 0xffac}, // numpad separator
    {0x6D, 0xffad}, // numpad -
    {0x6E, 0xffae}, // numpad .
    {0x6F, 0xffaf}, // numpad /
};

} // namespace

std::optional<std::uint32_t> keysymForVirtualKey(quint16 virtualKey)
{
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return std::uint32_t(virtualKey - 'A' + 'a'); // the unshifted keysym finds the key
    if (virtualKey >= '0' && virtualKey <= '9')
        return std::uint32_t(virtualKey);
    if (virtualKey >= 0x60 && virtualKey <= 0x69) // numpad 0-9: KP_0..KP_9
        return std::uint32_t(0xffb0 + (virtualKey - 0x60));
    if (virtualKey >= 0x70 && virtualKey <= 0x87) // F1..F24
        return std::uint32_t(0xffbe + (virtualKey - 0x70));
    for (const KeyPair &pair : kSingleKeys) {
        if (pair.virtualKey == virtualKey)
            return pair.keysym;
    }
    return std::nullopt;
}

std::uint16_t x11ModifiersFor(quint16 shortcut, bool withSuper)
{
    std::uint16_t mask = 0;
    if (shortcut & kFlagShift)
        mask |= kXShift;
    if (shortcut & kFlagCtrl)
        mask |= kXControl;
    if (shortcut & kFlagAlt)
        mask |= kXMod1;
    if (withSuper)
        mask |= kXMod4;
    return mask;
}

std::uint16_t lockVariant(int index, std::uint16_t numLockMask)
{
    std::uint16_t mask = 0;
    if (index & 1)
        mask |= kXLock;
    if (index & 2)
        mask |= numLockMask;
    return mask;
}

} // namespace tonelark
