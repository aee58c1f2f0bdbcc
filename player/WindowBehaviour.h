#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QString>
#include <QUrl>

#include <optional>

// The decisions behind the main window's own behaviours, kept apart from the widgets so they
// are tested without a screen.
namespace tonelark {

// The identifier the global hot key is registered under.
inline constexpr int HotKeyId = 12345;

enum class HotKeyResponse {
    None,              // a press for another identifier
    BringModalForward, // a dialog or menu of ours is open: only it comes to the front
    RestoreFromTray,   // as a left click on the tray icon
    Activate,          // bring the window to the front
    Minimise,          // send it to the tray (or minimise it where there is none)
};

struct HotKeyContext {
    bool inModalLoop = false;
    int id = HotKeyId;
    bool taskTrayIcon = false;          // the window is hidden in the tray
    bool hideIfWindowIsActive = true;   // the setting
    bool windowActive = false;          // the main window has the focus
    bool windowShown = true;            // neither minimised nor hidden
};

// What a press of the hot key does. A window minimised without a tray (where the desktop has
// none) is always brought back, so the key never leaves it out of reach.
HotKeyResponse hotKeyResponseFor(const HotKeyContext &context);

// Keeps a hot key press from acting while the window system still carries out the hide or
// restore an earlier press asked for: acted on then, a press sees a state about to change
// (a window half-way to the tray, a restore not yet activated) and the two end disagreeing
// (the window stayed hidden, or came back and the key's sense was inverted). Such a press is
// dropped; the next one acts on the settled state.
class HotKeyTransition {
public:
    // Never held longer than this, whatever the window did: a refused activation must not
    // silence the key.
    static constexpr qint64 kLongestMs = 2000;

    // A press at `nowMs` (any monotonic clock); `settled` tells whether the window is in a
    // state at rest as the window manager sees it: hidden in the tray, iconified, or shown
    // and active.
    bool pressMayAct(qint64 nowMs, bool settled) const;
    // A press at `nowMs` began a hide, a restore or an activation.
    void begin(qint64 nowMs) { m_since = nowMs; }

private:
    std::optional<qint64> m_since;
};

// Whether the wheel at `point` (screen coordinates) seeks: within the seek bar's rectangle
// `bar` including the column and row just past its far edges.
bool wheelSeeksAt(const QRect &bar, const QPoint &point);

// The page the next (step 1) or previous (step -1) tab command activates: the nearest page
// in that direction whose tab is visible, or none (no wrap-around).
std::optional<int> adjacentVisibleTab(const QList<bool> &tabVisible, int current, int step);

// The song a drop loads: the first dropped item when it is a local file of any path length.
// A folder, a URL that is not a local file or an empty drop give nothing (ignored quietly).
std::optional<QString> droppedSongPath(const QList<QUrl> &urls);
// Every local file and folder of a drop, by its bytes, in the order dropped; web links are
// left out.
QStringList droppedPaths(const QList<QUrl> &urls);

} // namespace tonelark
