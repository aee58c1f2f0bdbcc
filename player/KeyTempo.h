#pragma once

#include <QString>

// The singer's key and tempo: a player setting that stays as set across songs (the engine
// keeps it across songs and devices too), not a property of the song.
namespace tonelark {

class KeyTempo {
public:
    // Semitones the melodic notes are moved by.
    static constexpr int kMinKey = -12;
    static constexpr int kMaxKey = 12;
    static constexpr int kOriginalKey = 0;
    // Per cent of the song's own tempo.
    static constexpr int kMinTempo = 50;
    static constexpr int kMaxTempo = 200;
    static constexpr int kOriginalTempo = 100;
    static constexpr int kTempoStep = 5;

    KeyTempo() = default;
    // Values from outside (the settings file, MPRIS) are brought into range.
    KeyTempo(int key, int tempo)
    {
        setKey(key);
        setTempo(tempo);
    }

    int key() const { return m_key; }
    int tempo() const { return m_tempo; }

    // Each returns whether the value changed; at a limit a step changes nothing.
    bool setKey(int key);
    bool setTempo(int percent);
    bool keyUp() { return setKey(m_key + 1); }
    bool keyDown() { return setKey(m_key - 1); }
    bool resetKey() { return setKey(kOriginalKey); }
    // Steps land on multiples of the step, so a tempo set from outside (93 %) joins the grid.
    bool tempoUp();
    bool tempoDown();
    bool resetTempo() { return setTempo(kOriginalTempo); }

    bool canKeyUp() const { return m_key < kMaxKey; }
    bool canKeyDown() const { return m_key > kMinKey; }
    bool canTempoUp() const { return m_tempo < kMaxTempo; }
    bool canTempoDown() const { return m_tempo > kMinTempo; }

    // The short mark beside the time, e.g. "♭2 90%"; empty at the song's own key and tempo.
    QString mark() const;
    // The time panel's tool tip: both values, always.
    QString toolTip() const;

    friend bool operator==(const KeyTempo &, const KeyTempo &) = default;

private:
    int m_key = kOriginalKey;
    int m_tempo = kOriginalTempo;
};

} // namespace tonelark
