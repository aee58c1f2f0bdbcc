#include "HotKeyValue.h"

#include "Settings.h"

namespace tonelark {

namespace {

constexpr quint16 kVirtualKeyMask = 0x1FFF;

struct KeyPair {
    int qtKey;
    bool keypad;
    quint16 virtualKey;
};

// Keys whose virtual-key code is not their Qt key value. Letters and digits share their
// codes (0x41-0x5A, 0x30-0x39) and F1-F24 run in order from 0x70; they are handled apart.
constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, false, 0x08}, {Qt::Key_Tab, false, 0x09},      {Qt::Key_Return, false, 0x0D},
    {Qt::Key_Enter, true, 0x0D},      {Qt::Key_Pause, false, 0x13},    {Qt::Key_Escape, false, 0x1B},
    {Qt::Key_Space, false, 0x20},     {Qt::Key_PageUp, false, 0x21},   {Qt::Key_PageDown, false, 0x22},
    {Qt::Key_End, false, 0x23},       {Qt::Key_Home, false, 0x24},     {Qt::Key_Left, false, 0x25},
    {Qt::Key_Up, false, 0x26},        {Qt::Key_Right, false, 0x27},    {Qt::Key_Down, false, 0x28},
    {Qt::Key_Print, false, 0x2C},     {Qt::Key_Insert, false, 0x2D},   {Qt::Key_Delete, false, 0x2E},
    {Qt::Key_Asterisk, true, 0x6A},   {Qt::Key_Plus, true, 0x6B},      {Qt::Key_Minus, true, 0x6D},
    {Qt::Key_Period, true, 0x6E},     {Qt::Key_Slash, true, 0x6F},
};
constexpr quint16 kVkNumpad0 = 0x60;
constexpr quint16 kVkF1 = 0x70;
constexpr int kFunctionKeys = 24;

std::optional<quint16> virtualKeyOf(int key, bool keypad)
{
    if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9)
        return quint16(kVkNumpad0 + (key - Qt::Key_0));
    if (!keypad && ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)))
        return quint16(key);
    if (!keypad && key >= Qt::Key_F1 && key < Qt::Key_F1 + kFunctionKeys)
        return quint16(kVkF1 + (key - Qt::Key_F1));
    for (const KeyPair &pair : kKeys) {
        if (pair.qtKey == key && pair.keypad == keypad)
            return pair.virtualKey;
    }
    return std::nullopt;
}

} // namespace

std::optional<quint16> shortcutFromKeyCombination(QKeyCombination combination)
{
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    const int key = combination.key();
    if (key == 0 || key == Qt::Key_unknown)
        return quint16(0);
    if (modifiers & Qt::MetaModifier)
        return std::nullopt;
    const auto virtualKey = virtualKeyOf(key, modifiers.testFlag(Qt::KeypadModifier));
    if (!virtualKey)
        return std::nullopt;
    quint16 shortcut = *virtualKey;
    if (modifiers & Qt::ShiftModifier)
        shortcut |= kShortcutShift;
    if (modifiers & Qt::ControlModifier)
        shortcut |= kShortcutCtrl;
    if (modifiers & Qt::AltModifier)
        shortcut |= kShortcutAlt;
    return shortcut;
}

QKeyCombination keyCombinationFromShortcut(quint16 shortcut)
{
    const quint16 virtualKey = shortcut & kVirtualKeyMask;
    Qt::KeyboardModifiers modifiers;
    int key = Qt::Key_unknown;
    if ((virtualKey >= 0x30 && virtualKey <= 0x39) || (virtualKey >= 0x41 && virtualKey <= 0x5A)) {
        key = virtualKey;
    } else if (virtualKey >= kVkNumpad0 && virtualKey <= kVkNumpad0 + 9) {
        key = Qt::Key_0 + (virtualKey - kVkNumpad0);
        modifiers |= Qt::KeypadModifier;
    } else if (virtualKey >= kVkF1 && virtualKey < kVkF1 + kFunctionKeys) {
        key = Qt::Key_F1 + (virtualKey - kVkF1);
    } else {
        // The first pair of a code is its main key (Return before the keypad's Enter).
        for (const KeyPair &pair : kKeys) {
            if (pair.virtualKey == virtualKey) {
                key = pair.qtKey;
                if (pair.keypad)
                    modifiers |= Qt::KeypadModifier;
                break;
            }
        }
    }
    if (key == Qt::Key_unknown)
        return QKeyCombination(Qt::Key_unknown);
    if (shortcut & kShortcutShift)
        modifiers |= Qt::ShiftModifier;
    if (shortcut & kShortcutCtrl)
        modifiers |= Qt::ControlModifier;
    if (shortcut & kShortcutAlt)
        modifiers |= Qt::AltModifier;
    return QKeyCombination(modifiers, Qt::Key(key));
}

} // namespace tonelark
