#include "TrayIcon.h"

#include <QCursor>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tonelark {

namespace {

constexpr int kTrayWatchMs = 500;

} // namespace

TrayIcon::TrayIcon(const QIcon &icon, QObject *parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(icon, this)), m_watch(new QTimer(this))
{
    m_watch->setInterval(kTrayWatchMs);
    connect(m_watch, &QTimer::timeout, this, &TrayIcon::checkTray);
    m_icon->setObjectName(QStringLiteral("taskTrayIcon"));
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger:
        case QSystemTrayIcon::DoubleClick:
            emit restoreRequested();
            break;
        case QSystemTrayIcon::Context:
            emit menuRequested(QCursor::pos());
            break;
        default:
            break;
        }
    });
}

bool TrayIcon::show(const QString &tip)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    m_icon->setToolTip(tip.left(kTipLength));
    m_icon->show();
    if (!m_icon->isVisible())
        return false;
    m_watch->start();
    return true;
}

void TrayIcon::hide()
{
    m_watch->stop();
    m_icon->hide();
}

void TrayIcon::checkTray()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return;
    hide();
    emit trayLost();
}

bool TrayIcon::isShown() const
{
    return m_icon->isVisible();
}

QString TrayIcon::tip() const
{
    return m_icon->toolTip();
}

} // namespace tonelark
