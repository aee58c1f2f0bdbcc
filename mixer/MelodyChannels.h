#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <vector>

// Which channels of a song carry its sung melody, for the guide-melody switch and the song
// information. Pure functions of the song's bytes and its sung syllables.
namespace tonelark {

// What a walk over an SMF's tracks tells about its channels.
struct ChannelSurvey {
    struct Track {
        QString name;               // its first Sequence/Track Name, decoded; empty when none
        quint16 noteChannels = 0;   // bit n: the track strikes notes on channel n (0-based)
    };
    int timeBase = 0;               // ticks per quarter note; 0 when the header has none usable
    std::vector<Track> tracks;
    std::array<std::vector<quint32>, 16> noteOnTicks; // per channel, in order
    quint16 drumChannels = 1u << 9; // channel 10, and channels given a drum bank (MSB 120/126/127)
    std::array<QString, 16> trackNames; // per channel: the name of the first named track on it
};

// Walks the tracks of an SMF lying in memory. Never reads outside `smf`; damage ends the walk of
// that track (what was read stays), bytes that are no SMF give an empty survey.
ChannelSurvey surveyChannels(QByteArrayView smf);

// A track name that says it holds the melody: "Melody", "Vocal", "メロディ", "メロ", "歌",
// "ボーカル" anywhere in it, in any case, full- or half-width.
bool isMelodyTrackName(QStringView name);

enum class MelodyRule { None, XfLyrics, TrackName, Syllables };

struct MelodyChoice {
    quint16 channels = 0; // bit n: channel n (0-based)
    MelodyRule rule = MelodyRule::None;
    friend bool operator==(const MelodyChoice &, const MelodyChoice &) = default;
};

// In this order: the channels the XF lyrics name (`xfChannels`, only those striking notes), the
// channels of the tracks named for the melody, else the melodic channel whose note-ons best
// match the sung syllables' ticks (`syllableTicks`, sorted): each syllable pairs with at most one
// onset within a 32nd note, and the channel with the largest share of paired onsets and
// syllables wins (so a busy accompaniment that hits every syllable among many other notes
// does not); ties go to the lower channel. None when no rule finds one.
MelodyChoice detectMelody(const ChannelSurvey &survey, quint16 xfChannels, const std::vector<quint32> &syllableTicks);

// What the sung-lines model of a song tells the detection: the channels its XF lyrics name
// ($Lyrc) and its sung syllables' ticks, sorted. Empty for bytes the parser refuses.
struct SungFacts {
    quint16 xfChannels = 0;
    std::vector<quint32> syllableTicks;
};
SungFacts sungFactsOf(QByteArrayView smf, bool karaokeFile);

// "メロディ: ch 4" (channels as the mixer shows them, 1-based; several joined by ", "), or
// "メロディ: なし".
QString melodyInfoText(quint16 channels);

} // namespace tonelark
