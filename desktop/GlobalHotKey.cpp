#include "GlobalHotKey.h"

#include "HotKeyMap.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace tonelark {

namespace {

constexpr std::uint32_t kNumLockKeysym = 0xff7f;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t *symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

std::vector<std::uint8_t> keycodesFor(xcb_connection_t *connection, std::uint32_t keysym)
{
    std::vector<std::uint8_t> result;
    KeySymbols symbols(xcb_key_symbols_alloc(connection));
    if (!symbols)
        return result;
    std::unique_ptr<xcb_keycode_t, FreeDeleter> codes(xcb_key_symbols_get_keycode(symbols.get(), keysym));
    for (const xcb_keycode_t *code = codes.get(); code && *code != XCB_NO_SYMBOL; ++code)
        result.push_back(*code);
    return result;
}

} // namespace

GlobalHotKey::GlobalHotKey(const QByteArray &displayName, QObject *parent)
    : QObject(parent), m_displayName(displayName.isEmpty() ? sessionDisplay() : displayName)
{
}

GlobalHotKey::~GlobalHotKey()
{
    release();
    if (m_connection)
        xcb_disconnect(m_connection);
}

QByteArray GlobalHotKey::sessionDisplay()
{
    // Only where the program itself is on X11: under Wayland a grab would only see keys typed
    // into X11 windows, and a program on another platform (offscreen) has no desktop keys.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return qgetenv("DISPLAY");
}

bool GlobalHotKey::connectToDisplay()
{
    if (m_connection)
        return true;
    if (m_displayName.isEmpty())
        return false;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(m_displayName.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return false;
    }
    m_connection = connection;
    m_root = screens.data->root;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &GlobalHotKey::readEvents);
    return true;
}

std::uint16_t GlobalHotKey::numLockMask() const
{
    const std::vector<std::uint8_t> numLock = keycodesFor(m_connection, kNumLockKeysym);
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!mapping || numLock.empty())
        return 0;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            for (std::uint8_t code : numLock) {
                if (codes[modifier * perModifier + i] == code)
                    return std::uint16_t(1u << modifier);
            }
        }
    }
    return 0;
}

bool GlobalHotKey::grab(quint16 shortcut, bool withSuper)
{
    release();
    const std::optional<std::uint32_t> keysym = keysymForVirtualKey(shortcut & kVirtualKeyMask);
    if (!keysym || !connectToDisplay())
        return false;
    m_keycodes = keycodesFor(m_connection, *keysym);
    m_modifiers = x11ModifiersFor(shortcut, withSuper);
    m_numLockMask = numLockMask();
    if (m_keycodes.empty())
        return false;
    if (!applyGrabs(true)) {
        // Another client holds the combination (BadAccess): give back what we did get.
        release();
        return false;
    }
    return true;
}

void GlobalHotKey::release()
{
    if (m_connection && !m_keycodes.empty())
        applyGrabs(false);
    m_keycodes.clear();
}

bool GlobalHotKey::applyGrabs(bool grab)
{
    std::vector<xcb_void_cookie_t> cookies;
    for (std::uint8_t keycode : m_keycodes) {
        for (int variant = 0; variant < kLockVariantCount; ++variant) {
            const std::uint16_t mask = m_modifiers | lockVariant(variant, m_numLockMask);
            if (variant >= 2 && m_numLockMask == 0)
                continue; // no Num Lock modifier: the variants would repeat the first two
            cookies.push_back(grab ? xcb_grab_key_checked(m_connection, 1, m_root, mask, keycode,
                                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)
                                   : xcb_ungrab_key_checked(m_connection, keycode, m_root, mask));
        }
    }
    bool ok = true;
    for (const xcb_void_cookie_t &cookie : cookies) {
        if (XcbReply<xcb_generic_error_t> error{xcb_request_check(m_connection, cookie)})
            ok = false;
    }
    xcb_flush(m_connection);
    return ok;
}

bool GlobalHotKey::isRepeat(std::uint32_t time)
{
    // The server's auto-repeat sends each repeat as a release and a press with one timestamp.
    // A client that asked for detectable auto-repeat gets presses alone: a press while the key
    // is down is one too, unless the last press is long past (a release that never came must
    // not silence the key for good).
    constexpr std::uint32_t kLongestRepeatGapMs = 1000;
    const bool repeat = (m_hasRelease && time == m_releaseTime) ||
                        (m_down && std::uint32_t(time - m_pressTime) < kLongestRepeatGapMs);
    m_down = true;
    m_pressTime = time;
    return repeat;
}

void GlobalHotKey::readEvents()
{
    const std::uint16_t ignored = lockVariant(3, m_numLockMask);
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection)}) {
        const int type = event->response_type & 0x7f;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            continue;
        // Press and release share one layout.
        const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event.get());
        if (std::find(m_keycodes.begin(), m_keycodes.end(), key->detail) == m_keycodes.end())
            continue;
        // The grab holds the keyboard until the key goes up, so its release comes here, with
        // whatever modifiers are still down.
        if (type == XCB_KEY_RELEASE) {
            m_down = false;
            m_hasRelease = true;
            m_releaseTime = key->time;
            continue;
        }
        const std::uint16_t state = key->state & 0xff & ~ignored;
        if (state != m_modifiers)
            continue;
        if (isRepeat(key->time))
            continue;
        emit activated(key->time);
    }
    if (xcb_connection_has_error(m_connection)) {
        // The display went away: no more presses can come.
        m_notifier->setEnabled(false);
        m_keycodes.clear();
    }
}

} // namespace tonelark
