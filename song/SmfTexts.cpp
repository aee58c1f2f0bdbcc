#include "SmfTexts.h"

namespace tonelark {
namespace {

constexpr bool isLyricSpace(char16_t c)
{
    return c <= 0x20 || c == 0x3000;
}

} // namespace

void TSmfMetaEventString::Add(const QString &line)
{
    m_lines.push_back(Line{line, nullptr});
}

void TSmfMetaEventString::AddObject(const QString &line, std::unique_ptr<TSmfLyricInfo> info)
{
    m_lines.push_back(Line{line, std::move(info)});
}

QString TSmfMetaEventString::Text() const
{
    QString text;
    for (const Line &line : m_lines) {
        text += line.text;
        text += QLatin1String("\r\n");
    }
    return text;
}

void TSmfMetaEventString::Assign(TSmfMetaEventString &&source)
{
    if (&source == this)
        return;
    Clear();
    m_lines = std::move(source.m_lines);
    source.m_lines.clear();
}

void TSmfMetaEventString::AddStrings(TSmfMetaEventString &&source)
{
    if (&source == this)
        return;
    m_lines.reserve(m_lines.size() + source.m_lines.size());
    for (Line &line : source.m_lines)
        m_lines.push_back(std::move(line));
    source.m_lines.clear();
}

void TSmfMetaEventString::Clear()
{
    m_lines.clear();
}

QString TrimLyricLine(const QString &S)
{
    qsizetype begin = 0;
    qsizetype end = S.size();
    while (begin < end && isLyricSpace(S.at(begin).unicode()))
        ++begin;
    while (end > begin && isLyricSpace(S.at(end - 1).unicode()))
        --end;
    if (begin == 0 && end == S.size())
        return S;
    return S.mid(begin, end - begin);
}

void AddLyricLines(TSmfMetaEventString &lyric, const QString &text, qint32 tick,
                   TLyricLoadOptions options)
{
    if (text.isEmpty())
        return;
    QString expanded = text;
    expanded.replace(QChar(u'\t'), QLatin1String("  "));

    const bool trim = options.Contains(lloTrimAnySpace);
    const bool noEmpty = options.Contains(lloNoEmptyLines);
    int added = 0;
    auto addPiece = [&](QStringView piece) {
        const QString line = trim ? TrimLyricLine(piece.toString()) : piece.toString();
        if (line.isEmpty() && noEmpty)
            return;
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Tick = tick;
        info->HideLyricTime = added > 0;
        lyric.AddObject(line, std::move(info));
        ++added;
    };

    // CR LF counts as one break; a lone CR or LF is a break of its own. The piece after the
    // last break is always taken, so a trailing break yields an empty last line.
    const QStringView view(expanded);
    qsizetype start = 0;
    for (qsizetype i = 0; i < view.size(); ++i) {
        const char16_t c = view.at(i).unicode();
        if (c != u'\r' && c != u'\n')
            continue;
        addPiece(view.sliced(start, i - start));
        if (c == u'\r' && i + 1 < view.size() && view.at(i + 1).unicode() == u'\n')
            ++i;
        start = i + 1;
    }
    addPiece(view.sliced(start));
}

void KaraokeLyricBuilder::Add(const QString &syllable, qint32 tick)
{
    if (syllable.startsWith(u'\\')) {
        flush();
        // Paragraphs are set apart by an empty row; the paragraph's first line shows the time.
        if (m_anyLine && !m_options.Contains(lloNoEmptyLines)) {
            auto info = std::make_unique<TSmfLyricInfo>();
            info->Tick = tick;
            info->HideLyricTime = true;
            m_lyric.AddObject(QString(), std::move(info));
        }
        open(syllable.mid(1), tick);
    } else if (syllable.startsWith(u'/')) {
        flush();
        open(syllable.mid(1), tick);
    } else if (m_open) {
        m_line += syllable;
    } else if (!syllable.isEmpty()) {
        open(syllable, tick);
    }
}

void KaraokeLyricBuilder::Finish()
{
    flush();
}

void KaraokeLyricBuilder::open(const QString &text, qint32 tick)
{
    m_line = text;
    m_tick = tick;
    m_open = true;
}

void KaraokeLyricBuilder::flush()
{
    if (!m_open)
        return;
    m_open = false;
    m_anyLine = true;
    if (!m_line.isEmpty()) {
        AddLyricLines(m_lyric, m_line, m_tick, m_options);
    } else if (!m_options.Contains(lloNoEmptyLines)) {
        // The rule adds nothing for an empty text, but a "/" of its own is a line.
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Tick = m_tick;
        m_lyric.AddObject(QString(), std::move(info));
    }
    m_line.clear();
}

} // namespace tonelark
