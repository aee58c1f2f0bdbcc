#pragma once

#include <QString>

class QWidget;

namespace tonelark {

// The notification-area tip holds at most this many characters.
inline constexpr int kTrayTipLength = 127;

// After a hand-over: when `window` sits in the notification area (its tray icon, a child of
// the window, is shown), the icon's tip takes `title`, cut to 127 characters. The window is
// neither restored nor activated. Without a tray icon nothing happens.
void refreshTrayTip(QWidget &window, const QString &title);

} // namespace tonelark
