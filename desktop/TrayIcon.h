#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>

class QSystemTrayIcon;
class QTimer;

namespace tonelark {

// The notification-area icon of a hidden window: an icon with a tip, a left click to bring
// the window back and a right click for its menu. The menu itself is the window's to run, so
// that its modal loop is the window's too.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    // The tip holds at most this many characters.
    static constexpr int kTipLength = 127;

    TrayIcon(const QIcon &icon, QObject *parent);

    // Shows the icon with `tip` (cut to 127 characters). False when the desktop has no
    // notification area: the icon is not shown, and a window hidden now would be lost.
    bool show(const QString &tip);
    void hide();
    bool isShown() const;
    QString tip() const;

signals:
    void restoreRequested();
    // The notification area went away while the icon was shown (the panel quit or restarted):
    // the icon is gone with it, and a window hidden there must come back.
    void trayLost();
    // Right click at `globalPos`. Connect it queued: it comes from inside the icon's own
    // signal, and the menu runs a modal loop.
    void menuRequested(QPoint globalPos);

private:
    void checkTray();

    QSystemTrayIcon *m_icon;
    // Qt tells no one when the notification area goes; while the icon is shown it is asked.
    QTimer *m_watch;
};

} // namespace tonelark
