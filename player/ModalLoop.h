#pragma once

#include <QObject>

// InModalLoop and what every nested event loop must respect. While one of the program's own
// modal loops runs (a dialog, a menu, a message box, a file dialog, the MML compile), the
// event loop inside it can deliver anything: a hand-over that loads another song, a socket
// that is deleted. Code that holds song state across such a loop must not use it afterwards
// when the song was replaced meanwhile; the guard tells it so.
namespace tonelark {

class ModalLoopState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // InModalLoop: true while at least one guard lives (loops nest: a load inside the open
    // dialog shows an error box inside it).
    bool inModalLoop() const { return m_depth > 0; }
    // Counts the loads that replaced the song; a guard compares it before and after.
    quint64 songGeneration() const { return m_songGeneration; }

    // The loader calls this before it frees anything of the current song.
    void beginSongReplacement()
    {
        ++m_songGeneration;
        emit songReplacing();
    }

signals:
    // An open dialog that shows the current song's state ends itself here.
    void songReplacing();

private:
    friend class ModalLoopGuard;
    int m_depth = 0;
    quint64 m_songGeneration = 0;
};

// Sets InModalLoop for its lifetime, so no way out of a modal command can leave it set, and
// remembers which song was loaded when the loop began.
class ModalLoopGuard {
public:
    // A null state makes a guard that only does nothing (a box without a window).
    explicit ModalLoopGuard(ModalLoopState *state)
        : m_state(state), m_generation(state ? state->m_songGeneration : 0)
    {
        if (m_state)
            ++m_state->m_depth;
    }
    explicit ModalLoopGuard(ModalLoopState &state) : ModalLoopGuard(&state) {}
    ~ModalLoopGuard()
    {
        if (m_state)
            --m_state->m_depth;
    }
    ModalLoopGuard(const ModalLoopGuard &) = delete;
    ModalLoopGuard &operator=(const ModalLoopGuard &) = delete;

    // True when another song was loaded while the guard lived: pointers and copies of song
    // state taken before the loop are stale.
    bool songReplaced() const { return m_state && m_state->m_songGeneration != m_generation; }

private:
    ModalLoopState *m_state;
    quint64 m_generation;
};

} // namespace tonelark
