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
    if (m_errors.size() < kMaxKept)
        m_errors.push_back({line, std::move(text)});
}

void MmlDiagnostics::note(uint32_t line, std::string text)
{
    if (m_notes.size() < kMaxKept)
        m_notes.push_back({line, std::move(text)});
}

std::string MmlDiagnostics::text() const
{
    std::vector<Entry> errors = m_errors;
    std::stable_sort(errors.begin(), errors.end(),
                     [](const Entry &a, const Entry &b) { return a.line < b.line; });
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
    return out;
}

} // namespace sakura
