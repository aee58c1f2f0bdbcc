#include "WindowBehaviour.h"

#include "FileNames.h"

#include <QFileInfo>

namespace tonelark {

HotKeyResponse hotKeyResponseFor(const HotKeyContext &context)
{
    // A modal loop comes first, whatever identifier the press carries: hiding the window
    // under an open dialog would leave the dialog without its owner.
    if (context.inModalLoop)
        return HotKeyResponse::BringModalForward;
    if (context.id != HotKeyId)
        return HotKeyResponse::None;
    if (context.taskTrayIcon)
        return HotKeyResponse::RestoreFromTray;
    if (!context.windowShown)
        return HotKeyResponse::Activate;
    if (context.hideIfWindowIsActive && !context.windowActive)
        return HotKeyResponse::Activate;
    return HotKeyResponse::Minimise;
}

bool HotKeyTransition::pressMayAct(qint64 nowMs, bool settled) const
{
    return settled || !m_since || nowMs - *m_since >= kLongestMs;
}

bool wheelSeeksAt(const QRect &bar, const QPoint &point)
{
    const int left = bar.x();
    const int top = bar.y();
    return point.x() >= left && point.x() <= left + bar.width() && point.y() >= top &&
           point.y() <= top + bar.height();
}

std::optional<int> adjacentVisibleTab(const QList<bool> &tabVisible, int current, int step)
{
    for (int index = current + step; index >= 0 && index < tabVisible.size(); index += step) {
        if (tabVisible[index])
            return index;
    }
    return std::nullopt;
}

std::optional<QString> droppedSongPath(const QList<QUrl> &urls)
{
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return std::nullopt;
    // The URL's own bytes: toLocalFile() would turn a name that is no UTF-8 into U+FFFD.
    const QString path = pathFromArgument(urls.first().toString(QUrl::FullyEncoded));
    if (path.isEmpty() || QFileInfo(path).isDir())
        return std::nullopt;
    return path;
}

QStringList droppedPaths(const QList<QUrl> &urls)
{
    QStringList paths;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = pathFromArgument(url.toString(QUrl::FullyEncoded));
        if (!path.isEmpty())
            paths << path;
    }
    return paths;
}

} // namespace tonelark
