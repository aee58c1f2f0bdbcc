#pragma once

#include "SmfTempo.h"
#include "SmfTexts.h"

#include <QString>
#include <QStringList>

#include <vector>

// The sung lines of a song: what a singer reads. Lyric syllables, karaoke Text events and
// the words of an XF karaoke chunk are joined into display lines; each line keeps its
// timed syllables and its furigana. The model is a pure function of the song's text events
// and tempo map, built once per load and read by the lyrics list, the karaoke window and
// the melody detection. Nothing here plays or knows a widget.
//
// Karaoke marks, as written inside the syllables (the marks are never shown):
//   "/" or CR     ends a line (at a syllable's start: before it; at its end: after it)
//   "\" or LF     ends a paragraph (an empty line between, unless lloNoEmptyLines)
//   "<"           starts a new page (and a line)
//   "^"           a visible space
//   "漢字[かな]"  the base 漢字 read かな; the reading may run over several events
// A CR LF pair counts as one CR. Cue points "&m", "&f", "&c", "&s"… name the vocal part of
// the syllables that follow; "$Lyrc:<channels>:<offset ticks>:<language>" opens an XF
// karaoke chunk.
namespace tonelark {

// Where a song's lines come from: Lyric events, karaoke Text events (.kar), the XFKM chunk,
// or nowhere.
enum class SungSource { None, Lyric, Text, Xf };

// The setting "歌詞の行" (Lyric/LineMode): how events become lines.
enum class SungLineMode {
    Auto = 0,       // 自動: sung songs by the marks, every other song one line per event
    AlwaysJoin = 1, // 常に行にまとめる: also joins unmarked syllables into phrases
    PerEvent = 2,   // 歌詞イベントごと: one line per event (line breaks inside split it)
};

// One timed syllable of a line. Its shown part is line.text.mid(column, text.size()).
struct SungSyllable {
    qint32 tick = 0;
    qint64 ms = 0;
    QString text;    // the part of the line's text this syllable sings (may be empty)
    QString reading; // the furigana kana this syllable sings, or empty
    QString part;    // the vocal part from the last "&" cue ("m", "f", "c", "s", …), or empty
    int column = 0;  // where text starts in the line's text (UTF-16 units)
    int ruby = -1;   // index into the line's ruby whose reading this syllable sings, or -1
    bool operator==(const SungSyllable &) const = default;
};

// A base text with its reading; the base is line.text.mid(column, base.size()).
struct SungRuby {
    QString base;
    QString reading;
    int column = 0;
    bool operator==(const SungRuby &) const = default;
};

struct SungLine {
    qint32 tick = 0;   // the first syllable's tick
    qint64 ms = 0;     // the tick's time by the tempo map
    int page = 0;      // 0-based; a "<" mark starts the next page
    QString text;      // the base text as shown (marks and readings removed)
    std::vector<SungRuby> ruby;
    std::vector<SungSyllable> syllables; // in event order; empty for an empty line
    bool hideTime = false;       // an empty paragraph line, or a later line of one event
    bool paragraphStart = false; // the first line after a paragraph end
    bool operator==(const SungLine &) const = default;
};

// The texts of an XF information chunk (XFIH): its "XFhd:" and "XFln:" events. Each
// XFln field may hold several names as the file wrote them.
struct XfSongInfo {
    QString header;     // the XFhd text after "XFhd:", as written
    QString language;   // XFln's first field ("JP", "L1", …)
    QString title;
    QString composer;
    QString lyricist;
    QString arranger;
    QString performer;
    QString programmer;
    bool isEmpty() const { return header.isEmpty() && language.isEmpty() && title.isEmpty(); }
    bool operator==(const XfSongInfo &) const = default;
};

// A song's text events as the model reads them, with the facts of the parse.
struct SungInput {
    const std::vector<SongTextEvent> *events = nullptr; // file order; may be null (no events)
    const TSmfEventTempoList *tempo = nullptr;          // for ms; null gives ms 0
    int karaokeWordsTrack = -1; // the .kar words track the parser chose, or -1
    bool xfMark = false;        // the XF version mark (FF 7F … 43 7B 00 "XF0n") was seen
    bool xfKaraokeChunk = false; // an XFKM chunk was found
};

class TSmfParser;

// The input from a finished parse; tempo is the parser's map or the one taken over from it.
// The input refers to the parser's events: use it while the parser lives.
SungInput sungInputOf(const TSmfParser &parser, const TSmfEventTempoList *tempo);

class SungLines {
public:
    bool sung = false;               // joined by karaoke rules (marks, .kar, XF)
    SungSource source = SungSource::None;
    std::vector<int> melodyChannels; // 1-based, from $Lyrc; empty when not given
    qint32 offsetTicks = 0;          // $Lyrc: how many ticks before its time a line is shown
    QString language;                // $Lyrc's language, else XFln's ("JP", "L1", …), else empty
    bool xf = false;                 // an XF song (mark or XFKM chunk)
    XfSongInfo xfInfo;
    std::vector<SungLine> lines;

    bool isEmpty() const { return lines.empty(); }
    int count() const { return static_cast<int>(lines.size()); }
    // The line at the playing tick: the last line whose tick is <= tick (0 before the first
    // and for no lines), by binary search; lines are in ascending tick order per source.
    int lineAt(qint32 tick) const;
};

// Builds the model. options trim and drop lines as the lyric line rule does. `sung` says
// what the song is; in PerEvent mode its lines are still one per event.
SungLines buildSungLines(const SungInput &input, SungLineMode mode, TLyricLoadOptions options);

// The rows of the lyrics list for the model: each line's text with its tick, time and
// HideLyricTime.
TSmfMetaEventString sungLyricRows(const SungLines &lines);

// The XFIH facts among events (origin XfInfo); empty when there are none.
XfSongInfo readXfSongInfo(const std::vector<SongTextEvent> &events);

// The author box's choice for an XF song: performer, else lyricist, else composer, else
// arranger, else empty.
QString xfAuthorText(const XfSongInfo &info);

// "$Lyrc:…" parsed; false when text is no such cue.
struct XfLyricsCue {
    std::vector<int> channels; // 1..16 as written, each once, in order
    qint32 offsetTicks = 0;
    QString language;
};
bool parseXfLyricsCue(QStringView text, XfLyricsCue &cue);

// True when a Lyric event's text carries a karaoke line mark: "/" or "\" at its start or
// end, "<" at its start or end, a CR or an LF at its end (not a CR LF pair, which phrase
// songs end their lines with), or a "^".
bool hasKaraokeMark(QStringView text);

// True when text is a syllable (or a word) rather than a phrase: at most 8 columns wide
// (a wide character counts 2) once its marks, blanks and readings are removed.
bool isSyllableText(QStringView text);

// Whether a sequence of syllable texts reads as karaoke words: at least 8 of them, at
// least half syllables, and at least 2 (and 1 in 20) opening with "/" or "\".
bool looksLikeKaraokeWords(const QStringList &texts);

// The name of a source for the JSON output: "none", "lyric", "text", "xf".
QString sungSourceName(SungSource source);

} // namespace tonelark
