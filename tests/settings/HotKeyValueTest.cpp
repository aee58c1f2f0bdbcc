#include "HotKeyValue.h"

#include <gtest/gtest.h>

using namespace tonelark;

TEST(HotKeyValue, EveryKeyOfTheTableRoundTripsWithEveryModifier)
{
    struct Key {
        QKeyCombination combination;
        quint16 virtualKey;
    };
    std::vector<Key> keys = {
        {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},    {Qt::Key_Return, 0x0D}, {Qt::Key_Pause, 0x13},
        {Qt::Key_Escape, 0x1B},    {Qt::Key_Space, 0x20},  {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22},
        {Qt::Key_End, 0x23},       {Qt::Key_Home, 0x24},   {Qt::Key_Left, 0x25},   {Qt::Key_Up, 0x26},
        {Qt::Key_Right, 0x27},     {Qt::Key_Down, 0x28},   {Qt::Key_Print, 0x2C},  {Qt::Key_Insert, 0x2D},
        {Qt::Key_Delete, 0x2E},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Asterisk), 0x6A},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Plus), 0x6B},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Minus), 0x6D},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Period), 0x6E},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Slash), 0x6F},
    };
    for (int i = 0; i < 10; ++i) {
        keys.push_back({Qt::Key(Qt::Key_0 + i), quint16(0x30 + i)});
        keys.push_back({QKeyCombination(Qt::KeypadModifier, Qt::Key(Qt::Key_0 + i)), quint16(0x60 + i)});
    }
    for (int i = 0; i < 26; ++i)
        keys.push_back({Qt::Key(Qt::Key_A + i), quint16(0x41 + i)});
    for (int i = 0; i < 24; ++i)
        keys.push_back({Qt::Key(Qt::Key_F1 + i), quint16(0x70 + i)});

    const std::pair<Qt::KeyboardModifiers, quint16> modifiers[] = {
        {Qt::NoModifier, 0},
        {Qt::ShiftModifier, 0x2000},
        {Qt::ControlModifier | Qt::AltModifier, 0xC000},
        {Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 0xE000},
    };
    for (const Key &key : keys) {
        for (const auto &[qtModifiers, bits] : modifiers) {
            const QKeyCombination combination(key.combination.keyboardModifiers() | qtModifiers,
                                              key.combination.key());
            SCOPED_TRACE(key.virtualKey);
            EXPECT_EQ(shortcutFromKeyCombination(combination), std::optional<quint16>(key.virtualKey | bits));
            EXPECT_EQ(keyCombinationFromShortcut(key.virtualKey | bits), combination);
        }
    }
}

TEST(HotKeyValue, KeysTheValueCannotHoldAreRefused)
{
    EXPECT_EQ(shortcutFromKeyCombination(QKeyCombination(Qt::Key_unknown)), std::optional<quint16>(0));
    EXPECT_EQ(shortcutFromKeyCombination(QKeyCombination(Qt::MetaModifier, Qt::Key_A)), std::nullopt);
    EXPECT_EQ(shortcutFromKeyCombination(QKeyCombination(Qt::Key_VolumeUp)), std::nullopt);
    EXPECT_EQ(shortcutFromKeyCombination(QKeyCombination(Qt::KeypadModifier, Qt::Key_A)), std::nullopt);
    // The keypad's Enter is stored as Enter and reads back as the main Enter key.
    EXPECT_EQ(shortcutFromKeyCombination(QKeyCombination(Qt::KeypadModifier, Qt::Key_Enter)),
              std::optional<quint16>(0x0D));
    EXPECT_EQ(keyCombinationFromShortcut(0), QKeyCombination(Qt::Key_unknown));
    EXPECT_EQ(keyCombinationFromShortcut(0x8000 | 0xFF), QKeyCombination(Qt::Key_unknown));
}
