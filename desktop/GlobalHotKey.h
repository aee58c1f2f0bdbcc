#pragma once

#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <vector>

class QSocketNotifier;
struct xcb_connection_t;

namespace tonelark {

// One global hot key, grabbed on the X11 root window through a connection of its own, so it
// fires whichever window has the focus. Where the program is not on X11 (Wayland, or no
// display) every grab fails.
class GlobalHotKey : public QObject {
    Q_OBJECT
public:
    // `displayName` as in $DISPLAY; empty: the program's own X11 display, if it has one.
    explicit GlobalHotKey(const QByteArray &displayName = {}, QObject *parent = nullptr);
    ~GlobalHotKey() override;

    // The display the session's X11 key grabs go to, or empty when there is none.
    static QByteArray sessionDisplay();

    // Releases the current grab, then grabs the key of a 16-bit shortcut value (with Super
    // when `withSuper`) in every Caps Lock / Num Lock variant. False when the key has no
    // X11 counterpart, no display is reachable or another client already holds the
    // combination; nothing is left grabbed then.
    bool grab(quint16 shortcut, bool withSuper);
    void release();
    bool isGrabbed() const { return !m_keycodes.empty(); }

signals:
    // The grabbed combination was pressed; `timestamp` is the X server time of the press.
    // A key held down fires once: the server's auto-repeat is not a press.
    void activated(quint32 timestamp);

private:
    bool connectToDisplay();
    void readEvents();
    std::uint16_t numLockMask() const;
    // Issues the grabs (or ungrabs) for every keycode and lock variant; true when none failed.
    bool applyGrabs(bool grab);
    // Whether a press at X server time `time` is the key's auto-repeat; records the press.
    bool isRepeat(std::uint32_t time);

    QByteArray m_displayName;
    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    QSocketNotifier *m_notifier = nullptr;
    std::vector<std::uint8_t> m_keycodes;
    std::uint16_t m_modifiers = 0;
    std::uint16_t m_numLockMask = 0;
    bool m_down = false;       // pressed, and no release seen since
    bool m_hasRelease = false; // a release was seen
    std::uint32_t m_pressTime = 0;
    std::uint32_t m_releaseTime = 0;
};

} // namespace tonelark
