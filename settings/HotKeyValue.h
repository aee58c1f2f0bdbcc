#pragma once

#include <QKeyCombination>
#include <QtGlobal>

#include <optional>

// The settings dialog's hot key input edits a key combination; the settings file stores a
// 16-bit shortcut value: a virtual-key code in the low 13 bits and 0x2000 Shift, 0x4000 Ctrl,
// 0x8000 Alt. These convert one into the other for the keys a global hot key can use:
// letters, digits, F1-F24, arrows, Home/End/PgUp/PgDn, Ins/Del, Space, Enter, Esc, Tab,
// Backspace, Pause, Print and the numeric keypad.
namespace tonelark {

// The shortcut value of a combination; 0 for no key. Nothing for a key outside the table or
// a combination with a modifier the value cannot hold (Meta: the Win key is a setting of its
// own).
std::optional<quint16> shortcutFromKeyCombination(QKeyCombination combination);

// The combination of a shortcut value; no key (Qt::Key_unknown) for 0 or a code outside the
// table.
QKeyCombination keyCombinationFromShortcut(quint16 shortcut);

} // namespace tonelark
