#include "TrayIcon.h"

#include <QCursor>
#include <QSystemTrayIcon>

namespace tonelark {

TrayIcon::TrayIcon(const QIcon &icon, QObject *parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(icon, this))
{
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
    return m_icon->isVisible();
}

void TrayIcon::hide()
{
    m_icon->hide();
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
