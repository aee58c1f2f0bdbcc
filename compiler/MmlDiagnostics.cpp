#include "MmlDiagnostics.h"

#include <algorithm>

namespace sakura {

namespace {

std::string formatEntry(uint32_t line, const std::string &text)
{
    if (line == 0)
        return text;
    return std::to_string(line) + "行目: " + text;
}

} // namespace

void MmlDiagnostics::error(uint32_t line, std::string text)
{
    ++m_errorCount;
    if (m_errors.size() == kMaxShownErrors && line >= m_errors.back().line)
        return;
    const auto at = std::upper_bound(m_errors.begin(), m_errors.end(), line,
                                     [](uint32_t l, const Entry &entry) { return l < entry.line; });
    m_errors.insert(at, {line, std::move(text)});
    if (m_errors.size() > kMaxShownErrors)
        m_errors.pop_back();
}

void MmlDiagnostics::note(uint32_t line, std::string text)
{
    ++m_noteCount;
    if (m_notes.size() < kMaxShownNotes)
        m_notes.push_back({line, std::move(text)});
}

std::string MmlDiagnostics::text() const
{
    const std::vector<Entry> &errors = m_errors;
    std::string out;
    auto append = [&out](const std::string &line) {
        if (!out.empty())
            out += '\n';
        out += line;
    };
    const size_t shown = std::min<size_t>(errors.size(), kMaxShownErrors);
    for (size_t i = 0; i < shown; ++i)
        append(formatEntry(errors[i].line, errors[i].text));
    if (m_errorCount > kMaxShownErrors)
        append("（ほかに" + std::to_string(m_errorCount - kMaxShownErrors) + "件のエラーがあります。）");
    for (const Entry &entry : m_notes)
        append(formatEntry(entry.line, "注意: " + entry.text));
    if (m_noteCount > kMaxShownNotes)
        append("（ほかに" + std::to_string(m_noteCount - kMaxShownNotes) + "件の注意があります。）");
    return out;
}

} // namespace sakura
