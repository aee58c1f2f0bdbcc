#pragma once

#include <QString>
#include <QStringView>

#include <initializer_list>
#include <memory>
#include <vector>

namespace tonelark {

// Timing of one lyric line.
struct TSmfLyricInfo {
    qint32 Tick = 0;          // absolute tick of the Lyric event within its track
    qint32 Second = 0;        // Millisecond / 1000
    qint64 Millisecond = 0;   // the tick's time by the tempo map (truncated)
    bool HideLyricTime = false; // every line after the first of one Lyric event
};

enum TLyricLoadOption : quint8 {
    lloTrimAnySpace = 0,
    lloNoEmptyLines = 1,
};

// A set of TLyricLoadOption kept in one byte: bit 0 lloTrimAnySpace, bit 1 lloNoEmptyLines.
class TLyricLoadOptions {
public:
    constexpr TLyricLoadOptions() = default;
    constexpr TLyricLoadOptions(std::initializer_list<TLyricLoadOption> options)
    {
        for (TLyricLoadOption option : options)
            m_bits |= bit(option);
    }
    static constexpr TLyricLoadOptions fromBits(quint8 bits)
    {
        TLyricLoadOptions options;
        options.m_bits = bits & 0x03;
        return options;
    }

    constexpr bool Contains(TLyricLoadOption option) const { return (m_bits & bit(option)) != 0; }
    constexpr void Include(TLyricLoadOption option) { m_bits |= bit(option); }
    constexpr void Exclude(TLyricLoadOption option) { m_bits &= static_cast<quint8>(~bit(option)); }
    constexpr quint8 bits() const { return m_bits; }
    constexpr bool operator==(const TLyricLoadOptions &) const = default;

private:
    static constexpr quint8 bit(TLyricLoadOption option) { return static_cast<quint8>(1u << option); }
    quint8 m_bits = 0;
};

// Where a text event of the song was found: a track (MTrk), the XF information chunk
// (XFIH) or the XF karaoke chunk (XFKM).
enum class SongTextOrigin : quint8 { Track, XfInfo, XfKaraoke };

// One text meta event of the song, decoded (nothing trimmed).
struct SongTextEvent {
    SongTextOrigin origin = SongTextOrigin::Track;
    quint8 type = 0;   // 0x01 text, 0x02 copyright, 0x03 name, 0x05 lyric, 0x07 cue point
    quint16 track = 0; // 0-based MTrk index; for XF chunks the number of MTrk chunks read
    qint32 tick = 0;   // absolute tick within its chunk
    QString text;
};

// An ordered list of text lines, each optionally carrying a TSmfLyricInfo. The infos belong
// to the list that holds them: Clear frees them, and Assign/AddStrings move them (with their
// lines) into the receiving list, leaving the source empty. Only one list ever owns an info.
class TSmfMetaEventString {
public:
    TSmfMetaEventString() = default;
    TSmfMetaEventString(TSmfMetaEventString &&) noexcept = default;
    TSmfMetaEventString &operator=(TSmfMetaEventString &&) noexcept = default;
    TSmfMetaEventString(const TSmfMetaEventString &) = delete;
    TSmfMetaEventString &operator=(const TSmfMetaEventString &) = delete;

    int Count() const { return static_cast<int>(m_lines.size()); }
    bool isEmpty() const { return m_lines.empty(); }
    const QString &Strings(int index) const { return m_lines[static_cast<size_t>(index)].text; }
    // The info attached to line index, or nullptr.
    const TSmfLyricInfo *Objects(int index) const { return m_lines[static_cast<size_t>(index)].info.get(); }
    TSmfLyricInfo *Objects(int index) { return m_lines[static_cast<size_t>(index)].info.get(); }

    void Add(const QString &line);
    void AddObject(const QString &line, std::unique_ptr<TSmfLyricInfo> info);
    // All lines, each followed by CR LF.
    QString Text() const;
    // Replaces the content by source's lines and infos; source is left empty.
    void Assign(TSmfMetaEventString &&source);
    // Appends source's lines and infos; source is left empty.
    void AddStrings(TSmfMetaEventString &&source);
    // Frees the attached infos and removes all lines.
    void Clear();

private:
    struct Line {
        QString text;
        std::unique_ptr<TSmfLyricInfo> info;
    };
    std::vector<Line> m_lines;
};

// S without lyric spaces (U+0000..U+0020 and U+3000) at both ends.
QString TrimLyricLine(const QString &S);

// Adds the lines of one decoded Lyric event to lyric by the lyric line rule: tabs become two
// spaces, CR LF / LF / CR split lines (empty pieces kept, empty text adds nothing), options
// trim and drop; every line after the first added gets HideLyricTime.
void AddLyricLines(TSmfMetaEventString &lyric, const QString &text, qint32 tick,
                   TLyricLoadOptions options);

// Builds lyric lines from the words of a karaoke song, one syllable (Text event) at a time:
// a syllable starting with "/" begins a new line, one starting with "\" a new paragraph
// (after an empty line without time of its own), any other continues the current line. A
// line is timed at its first syllable and then goes through the lyric line rule; an empty
// line is dropped with lloNoEmptyLines.
class KaraokeLyricBuilder {
public:
    KaraokeLyricBuilder(TSmfMetaEventString &lyric, TLyricLoadOptions options)
        : m_lyric(lyric), m_options(options)
    {
    }
    void Add(const QString &syllable, qint32 tick);
    // Adds the line still open; call once after the last syllable.
    void Finish();

private:
    void flush();
    void open(const QString &text, qint32 tick);

    TSmfMetaEventString &m_lyric;
    TLyricLoadOptions m_options;
    QString m_line;
    qint32 m_tick = 0;
    bool m_open = false;
    bool m_anyLine = false;
};

} // namespace tonelark
