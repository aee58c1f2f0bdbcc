#include "SungLines.h"

#include "CstmUtils.h"
#include "SmfParser.h"

#include <algorithm>

namespace tonelark {

namespace {

constexpr bool isLyricSpace(char16_t c)
{
    return c <= 0x20 || c == 0x3000;
}

bool isLineMark(QChar c)
{
    return c == u'/' || c == u'\\' || c == u'<';
}

// Kanji and the marks that stand among them in a base text (々, 〆, 〇, ヵ, ヶ).
bool isKanji(char32_t c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0x20000 && c <= 0x3FFFF) || c == 0x3005 || c == 0x3006 || c == 0x3007 || c == 0x30F5 ||
           c == 0x30F6;
}

// Display columns: wide characters (CJK, full-width forms) take two.
int textWidth(QStringView text)
{
    int width = 0;
    for (char32_t c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
}

// Where the kanji run that ends text at `end` starts (end itself when there is none).
qsizetype kanjiRunStart(const QString &text, qsizetype floor)
{
    qsizetype start = text.size();
    while (start > floor) {
        qsizetype prev = start - 1;
        char32_t c = text.at(prev).unicode();
        if (text.at(prev).isLowSurrogate() && prev > floor && text.at(prev - 1).isHighSurrogate()) {
            --prev;
            c = QChar::surrogateToUcs4(text.at(prev), text.at(prev + 1));
        }
        if (!isKanji(c))
            break;
        start = prev;
    }
    return start;
}

// The vocal part in force at each tick, from the "&" cue points of the source.
class PartCues {
public:
    void add(qint32 tick, const QString &part) { m_cues.push_back({tick, part}); }
    void finish()
    {
        std::stable_sort(m_cues.begin(), m_cues.end(),
                         [](const Cue &a, const Cue &b) { return a.tick < b.tick; });
    }
    QString at(qint32 tick) const
    {
        const auto after = std::upper_bound(m_cues.begin(), m_cues.end(), tick,
                                            [](qint32 t, const Cue &cue) { return t < cue.tick; });
        return after == m_cues.begin() ? QString() : std::prev(after)->part;
    }

private:
    struct Cue {
        qint32 tick;
        QString part;
    };
    std::vector<Cue> m_cues;
};

// Joins syllable events into lines by the karaoke marks.
class LineBuilder {
public:
    // Without readMarks only the furigana notation is read (for a line already split by
    // the lyric line rule).
    LineBuilder(std::vector<SungLine> &lines, TLyricLoadOptions options, bool readMarks = true)
        : m_lines(lines), m_options(options), m_readMarks(readMarks)
    {
    }

    // One event as written, marks included.
    void event(const QString &written, qint32 tick, const QString &part)
    {
        QString text = written;
        text.replace(QChar(u'\t'), QLatin1String("  "));
        if (!m_readMarks) {
            append(text, tick, part, true);
            return;
        }
        qsizetype begin = 0;
        bool marked = false;
        while (begin < text.size() && isLineMark(text.at(begin))) {
            mark(text.at(begin));
            marked = true;
            ++begin;
        }
        // The marks at the end act after the syllable; CR LF is one line end.
        qsizetype end = text.size();
        while (end > begin && (isLineMark(text.at(end - 1)) || text.at(end - 1) == u'\r' || text.at(end - 1) == u'\n'))
            --end;
        const QStringView body = QStringView(text).sliced(begin, end - begin);
        if (marked || !body.isEmpty())
            piece(body, tick, part, marked);
        const QStringView trailing = QStringView(text).sliced(end);
        for (qsizetype i = 0; i < trailing.size(); ++i) {
            const QChar c = trailing.at(i);
            if (c == u'\r' && i + 1 < trailing.size() && trailing.at(i + 1) == u'\n')
                ++i;
            mark(c);
        }
    }

    // Ends the line open, as a "/" does.
    void breakLine() { flush(); }

    void finish() { flush(); }

private:
    void mark(QChar c)
    {
        flush();
        if (c == u'\\' || c == u'\n')
            m_pendingParagraph = true;
        else if (c == u'<')
            m_pendingPage = true;
    }

    // A body without leading or trailing marks; CR and LF inside still break lines.
    void piece(QStringView body, qint32 tick, const QString &part, bool opensLine)
    {
        qsizetype start = 0;
        for (qsizetype i = 0; i < body.size(); ++i) {
            const QChar c = body.at(i);
            if (c != u'\r' && c != u'\n')
                continue;
            append(body.sliced(start, i - start), tick, part, opensLine || start > 0);
            if (c == u'\r' && i + 1 < body.size() && body.at(i + 1) == u'\n')
                ++i;
            mark(c);
            start = i + 1;
        }
        append(body.sliced(start), tick, part, opensLine || start > 0);
    }

    void open(qint32 tick)
    {
        m_line = SungLine();
        m_open = true;
        if (m_pendingPage && m_anyLine)
            ++m_page;
        if (m_pendingParagraph && m_anyLine) {
            m_line.paragraphStart = true;
            if (!m_options.Contains(lloNoEmptyLines)) {
                SungLine empty;
                empty.tick = tick;
                empty.page = m_page;
                empty.hideTime = true;
                m_lines.push_back(std::move(empty));
            }
        }
        m_pendingPage = false;
        m_pendingParagraph = false;
        m_line.tick = tick;
        m_line.page = m_page;
    }

    void append(QStringView text, qint32 tick, const QString &part, bool opensLine)
    {
        if (!m_open) {
            if (text.isEmpty() && !opensLine)
                return;
            open(tick);
        }
        SungSyllable syllable;
        syllable.tick = tick;
        syllable.part = part;
        syllable.column = static_cast<int>(m_line.text.size());
        if (m_inReading)
            syllable.ruby = static_cast<int>(m_line.ruby.size()) - 1;
        for (QChar c : text) {
            if (m_inReading) {
                if (c == u']') {
                    m_inReading = false;
                    continue;
                }
                syllable.reading += c;
                m_line.ruby.back().reading += c;
                continue;
            }
            if (c == u'[' && startReading(syllable)) {
                continue;
            }
            const QChar shown = c == u'^' && m_readMarks ? QChar(u' ') : c;
            syllable.text += shown;
            m_line.text += shown;
        }
        // An empty event still times the line it opens; elsewhere it sings nothing.
        if (syllable.text.isEmpty() && syllable.reading.isEmpty() && !m_line.syllables.empty())
            return;
        m_line.syllables.push_back(std::move(syllable));
    }

    // "[" after a base: the kanji run before it, or this event's text when it has no kanji.
    // Without a base the "[" is shown as written.
    bool startReading(SungSyllable &syllable)
    {
        const qsizetype floor = m_line.ruby.empty()
                                    ? 0
                                    : m_line.ruby.back().column + m_line.ruby.back().base.size();
        qsizetype start = kanjiRunStart(m_line.text, std::max<qsizetype>(floor, 0));
        if (start == m_line.text.size())
            start = std::max<qsizetype>(syllable.column, floor);
        if (start >= m_line.text.size())
            return false;
        m_line.ruby.push_back(SungRuby{m_line.text.mid(start), QString(), static_cast<int>(start)});
        syllable.ruby = static_cast<int>(m_line.ruby.size()) - 1;
        m_inReading = true;
        return true;
    }

    void flush()
    {
        m_inReading = false;
        if (!m_open)
            return;
        m_open = false;
        m_anyLine = true;
        if (m_options.Contains(lloTrimAnySpace))
            trim(m_line);
        if (m_line.text.isEmpty() && m_options.Contains(lloNoEmptyLines))
            return;
        m_lines.push_back(std::move(m_line));
    }

    static void trim(SungLine &line)
    {
        const QString trimmed = TrimLyricLine(line.text);
        if (trimmed.size() == line.text.size())
            return;
        qsizetype lead = 0;
        while (lead < line.text.size() && isLyricSpace(line.text.at(lead).unicode()))
            ++lead;
        const qsizetype size = trimmed.size();
        for (SungSyllable &syllable : line.syllables) {
            const qsizetype from = std::clamp<qsizetype>(syllable.column - lead, 0, size);
            const qsizetype to = std::clamp<qsizetype>(syllable.column - lead + syllable.text.size(), 0, size);
            syllable.text = trimmed.mid(from, to - from);
            syllable.column = static_cast<int>(from);
        }
        for (SungRuby &ruby : line.ruby)
            ruby.column = static_cast<int>(std::clamp<qsizetype>(ruby.column - lead, 0, size));
        line.text = trimmed;
    }

    std::vector<SungLine> &m_lines;
    TLyricLoadOptions m_options;
    bool m_readMarks;
    SungLine m_line;
    bool m_open = false;
    bool m_anyLine = false;
    bool m_pendingParagraph = false;
    bool m_pendingPage = false;
    bool m_inReading = false;
    int m_page = 0;
};

// One source event: its text, tick and the part in force.
struct SourceEvent {
    QString text;
    qint32 tick;
};

// "漢字[かな]" inside a line of the lyric line rule: the base stays, the reading goes to ruby.
void extractRuby(SungLine &line)
{
    if (!line.text.contains(u'['))
        return;
    std::vector<SungLine> one;
    LineBuilder builder(one, {}, false);
    builder.event(line.text, line.tick, QString());
    builder.finish();
    if (one.empty() || one.front().ruby.empty())
        return;
    line.text = one.front().text;
    line.ruby = one.front().ruby;
    for (SungSyllable &syllable : line.syllables) {
        syllable.text = line.text;
        syllable.column = 0;
    }
}

// The lyric line rule, one event after another; each line one syllable.
void perEventLines(const std::vector<SourceEvent> &events, const PartCues &parts, TLyricLoadOptions options,
                   bool furigana, std::vector<SungLine> &lines)
{
    for (const SourceEvent &event : events) {
        TSmfMetaEventString rows;
        AddLyricLines(rows, event.text, event.tick, options);
        for (int i = 0; i < rows.Count(); ++i) {
            SungLine line;
            line.tick = event.tick;
            line.text = rows.Strings(i);
            line.hideTime = rows.Objects(i)->HideLyricTime;
            if (!line.text.isEmpty()) {
                SungSyllable syllable;
                syllable.tick = event.tick;
                syllable.text = line.text;
                syllable.part = parts.at(event.tick);
                line.syllables.push_back(std::move(syllable));
            }
            if (furigana)
                extractRuby(line);
            lines.push_back(std::move(line));
        }
    }
}

// Unmarked syllables joined into phrases: a line ends before a silence longer than twice
// the usual step between syllables (and at least an eighth note), and before a syllable
// that would make it wider than the list shows; a phrase event keeps a line of its own.
constexpr int kJoinedLineWidth = 36;

void joinedLines(const std::vector<SourceEvent> &events, const PartCues &parts, TLyricLoadOptions options,
                 quint16 timeBase, std::vector<SungLine> &lines)
{
    std::vector<qint64> steps;
    for (size_t i = 1; i < events.size(); ++i) {
        const qint64 step = qint64(events[i].tick) - events[i - 1].tick;
        if (step > 0)
            steps.push_back(step);
    }
    qint64 usual = 0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + qsizetype(steps.size() / 2), steps.end());
        usual = steps[steps.size() / 2];
    }
    const qint64 silence = std::max<qint64>(2 * usual, timeBase / 2);

    LineBuilder builder(lines, options);
    int width = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const SourceEvent &event = events[i];
        const bool phrase = !isSyllableText(event.text);
        const int eventWidth = textWidth(event.text);
        const bool gap = i > 0 && qint64(event.tick) - events[i - 1].tick > silence;
        if (phrase || gap || width + eventWidth > kJoinedLineWidth) {
            builder.breakLine();
            width = 0;
        }
        builder.event(event.text, event.tick, parts.at(event.tick));
        width += eventWidth;
        if (phrase || event.text.contains(u'\r') || event.text.contains(u'\n')) {
            builder.breakLine();
            width = 0;
        }
    }
    builder.finish();
}

QString afterPrefix(const QString &text, QLatin1StringView prefix)
{
    return text.mid(prefix.size());
}

} // namespace

int SungLines::lineAt(qint32 tick) const
{
    const auto after = std::upper_bound(lines.begin(), lines.end(), tick,
                                        [](qint32 t, const SungLine &line) { return t < line.tick; });
    return after == lines.begin() ? 0 : static_cast<int>(std::prev(after) - lines.begin());
}

bool hasKaraokeMark(QStringView text)
{
    if (text.isEmpty())
        return false;
    const QChar first = text.front();
    const QChar last = text.back();
    // A CR LF at the end is how phrase-per-event songs written on Windows end their lines.
    const bool crlf = text.endsWith(QLatin1String("\r\n"));
    return isLineMark(first) || isLineMark(last) || last == u'\r' || (last == u'\n' && !crlf) ||
           text.contains(u'^');
}

bool isSyllableText(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (isLineMark(text.at(begin)) || isLyricSpace(text.at(begin).unicode())))
        ++begin;
    while (end > begin && (isLineMark(text.at(end - 1)) || isLyricSpace(text.at(end - 1).unicode())))
        --end;
    // Readings are not shown, so they do not count.
    QString shown;
    bool reading = false;
    for (QChar c : text.sliced(begin, end - begin)) {
        if (c == u'[')
            reading = true;
        else if (c == u']')
            reading = false;
        else if (!reading)
            shown += c;
    }
    return textWidth(shown) <= 8;
}

bool looksLikeKaraokeWords(const QStringList &texts)
{
    const qsizetype n = texts.size();
    if (n < 8)
        return false;
    qsizetype syllables = 0;
    qsizetype marked = 0;
    for (const QString &text : texts) {
        if (isSyllableText(text))
            ++syllables;
        if (text.startsWith(u'/') || text.startsWith(u'\\'))
            ++marked;
    }
    return 2 * syllables >= n && marked >= 2 && 20 * marked >= n;
}

bool parseXfLyricsCue(QStringView text, XfLyricsCue &cue)
{
    if (!text.startsWith(QLatin1String("$Lyrc:")))
        return false;
    const QList<QStringView> fields = text.split(u':');
    cue = XfLyricsCue();
    if (fields.size() > 1) {
        qsizetype i = 0;
        const QStringView channels = fields.at(1);
        while (i < channels.size()) {
            if (!channels.at(i).isDigit()) {
                ++i;
                continue;
            }
            int value = 0;
            while (i < channels.size() && channels.at(i).isDigit() && value <= 16)
                value = value * 10 + channels.at(i++).digitValue();
            while (i < channels.size() && channels.at(i).isDigit())
                ++i;
            if (value >= 1 && value <= 16 &&
                std::find(cue.channels.begin(), cue.channels.end(), value) == cue.channels.end())
                cue.channels.push_back(value);
        }
    }
    if (fields.size() > 2) {
        bool ok = false;
        const qint32 offset = fields.at(2).trimmed().toInt(&ok);
        cue.offsetTicks = ok ? offset : 0;
    }
    if (fields.size() > 3)
        cue.language = fields.at(3).trimmed().toString();
    return true;
}

XfSongInfo readXfSongInfo(const std::vector<SongTextEvent> &events)
{
    XfSongInfo info;
    bool header = false;
    bool names = false;
    for (const SongTextEvent &event : events) {
        if (event.origin != SongTextOrigin::XfInfo)
            continue;
        if (!header && event.text.startsWith(QLatin1String("XFhd:"))) {
            info.header = afterPrefix(event.text, QLatin1String("XFhd:"));
            header = true;
        } else if (!names && event.text.startsWith(QLatin1String("XFln:"))) {
            const QStringList fields = afterPrefix(event.text, QLatin1String("XFln:")).split(u':');
            const auto field = [&](int i) { return fields.size() > i ? fields.at(i).trimmed() : QString(); };
            info.language = field(0);
            info.title = field(1);
            info.composer = field(2);
            info.lyricist = field(3);
            info.arranger = field(4);
            info.performer = field(5);
            info.programmer = field(6);
            names = true;
        }
    }
    return info;
}

QString xfAuthorText(const XfSongInfo &info)
{
    for (const QString *name : {&info.performer, &info.lyricist, &info.composer, &info.arranger})
        if (!name->isEmpty())
            return *name;
    return {};
}

QString sungSourceName(SungSource source)
{
    switch (source) {
    case SungSource::Lyric:
        return QStringLiteral("lyric");
    case SungSource::Text:
        return QStringLiteral("text");
    case SungSource::Xf:
        return QStringLiteral("xf");
    case SungSource::None:
        break;
    }
    return QStringLiteral("none");
}

SungInput sungInputOf(const TSmfParser &parser, const TSmfEventTempoList *tempo)
{
    SungInput input;
    input.events = &parser.TextEvents();
    input.tempo = tempo;
    input.karaokeWordsTrack = parser.IsKaraoke() ? parser.KaraokeWordsTrack() : -1;
    input.xfMark = parser.XfMarked();
    input.xfKaraokeChunk = parser.HasXfKaraokeChunk();
    return input;
}

SungLines buildSungLines(const SungInput &input, SungLineMode mode, TLyricLoadOptions options)
{
    SungLines result;
    static const std::vector<SongTextEvent> kNoEvents;
    const std::vector<SongTextEvent> &events = input.events ? *input.events : kNoEvents;

    result.xf = input.xfMark || input.xfKaraokeChunk;
    result.xfInfo = readXfSongInfo(events);
    result.language = result.xfInfo.language;

    const auto any = [&](auto predicate) { return std::any_of(events.begin(), events.end(), predicate); };
    const bool xfLyrics = any([](const SongTextEvent &e) {
        return e.origin == SongTextOrigin::XfKaraoke && e.type == 0x05 && !e.text.isEmpty();
    });
    const bool trackLyrics = any([](const SongTextEvent &e) {
        return e.origin == SongTextOrigin::Track && e.type == 0x05 && !e.text.isEmpty();
    });
    if (xfLyrics)
        result.source = SungSource::Xf;
    else if (trackLyrics)
        result.source = SungSource::Lyric;
    else if (input.karaokeWordsTrack >= 0)
        result.source = SungSource::Text;

    const SongTextOrigin origin = result.source == SungSource::Xf ? SongTextOrigin::XfKaraoke : SongTextOrigin::Track;
    std::vector<SourceEvent> source;
    PartCues parts;
    bool cueSeen = false;
    for (const SongTextEvent &event : events) {
        if (event.origin != origin)
            continue;
        if (event.type == 0x07) {
            XfLyricsCue cue;
            if (!cueSeen && parseXfLyricsCue(event.text, cue)) {
                cueSeen = true;
                result.melodyChannels = cue.channels;
                result.offsetTicks = cue.offsetTicks;
                if (!cue.language.isEmpty())
                    result.language = cue.language;
            } else if (event.text.startsWith(u'&')) {
                parts.add(event.tick, event.text.mid(1).trimmed());
            }
            continue;
        }
        const bool taken = result.source == SungSource::Text
                               ? event.type == 0x01 && event.track == input.karaokeWordsTrack &&
                                     !trimControlAndSpace(event.text).startsWith(u'@')
                               : event.type == 0x05 && result.source != SungSource::None;
        if (taken)
            source.push_back(SourceEvent{event.text, event.tick});
    }
    parts.finish();

    // Lyric events are sung when they carry marks and are mostly syllables: a phrase per event
    // that happens to end in a line break keeps the lyric line rule.
    bool marked = false;
    qsizetype syllables = 0;
    qsizetype nonEmpty = 0;
    bool furigana = false;
    for (const SourceEvent &event : source) {
        marked = marked || hasKaraokeMark(event.text);
        if (!event.text.isEmpty()) {
            ++nonEmpty;
            if (isSyllableText(event.text))
                ++syllables;
        }
        const qsizetype bracket = event.text.indexOf(u'[');
        furigana = furigana || (bracket > 0 && isKanji(event.text.at(bracket - 1).unicode()));
    }
    const bool marksRead = marked && 2 * syllables >= nonEmpty;
    result.sung = result.source != SungSource::None &&
                  (result.xf || result.source == SungSource::Text || marksRead);

    if (mode == SungLineMode::PerEvent) {
        perEventLines(source, parts, options, false, result.lines);
    } else if (result.sung) {
        LineBuilder builder(result.lines, options);
        for (const SourceEvent &event : source)
            builder.event(event.text, event.tick, parts.at(event.tick));
        builder.finish();
    } else if (mode == SungLineMode::AlwaysJoin && result.source != SungSource::None) {
        joinedLines(source, parts, options, input.tempo ? input.tempo->TimeBase() : 480, result.lines);
    } else {
        perEventLines(source, parts, options, furigana, result.lines);
    }

    if (input.tempo && !input.tempo->isEmpty()) {
        for (SungLine &line : result.lines) {
            line.ms = input.tempo->TickToSecond(line.tick, tuMilliseconds);
            for (SungSyllable &syllable : line.syllables)
                syllable.ms = input.tempo->TickToSecond(syllable.tick, tuMilliseconds);
        }
    }
    return result;
}

TSmfMetaEventString sungLyricRows(const SungLines &lines)
{
    TSmfMetaEventString rows;
    for (const SungLine &line : lines.lines) {
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Tick = line.tick;
        info->Millisecond = line.ms;
        info->Second = static_cast<qint32>(line.ms / 1000);
        info->HideLyricTime = line.hideTime;
        rows.AddObject(line.text, std::move(info));
    }
    return rows;
}

} // namespace tonelark
