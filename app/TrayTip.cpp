#include "TrayTip.h"

#include <QSystemTrayIcon>
#include <QWidget>

namespace tonelark {

void refreshTrayTip(QWidget &window, const QString &title)
{
    // The icon is looked up rather than passed in, so the window keeps its tray to itself.
    for (QSystemTrayIcon *icon : window.findChildren<QSystemTrayIcon *>()) {
        if (icon->isVisible())
            icon->setToolTip(title.left(kTrayTipLength));
    }
}

} // namespace tonelark
