#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sakura {

// Collects the compile's errors and notes as UTF-8 texts with their source lines. The user
// sees the first kMaxShownErrors errors in line order, then the notes.
class MmlDiagnostics
{
public:
    static constexpr int kMaxShownErrors = 10;

    // line is 1-based; 0 means the message belongs to no particular line.
    void error(uint32_t line, std::string text);
    void note(uint32_t line, std::string text);

    bool hasErrors() const { return m_errorCount > 0; }
    int errorCount() const { return m_errorCount; }

    // "3行目: …" lines joined by '\n'; errors first (at most kMaxShownErrors), then notes.
    std::string text() const;

private:
    struct Entry
    {
        uint32_t line;
        std::string text;
    };
    // Kept beyond the shown ten so that sorting by line still shows the first ten lines;
    // past this many nobody reads them, and a hostile source cannot grow the list.
    static constexpr size_t kMaxKept = 1000;

    std::vector<Entry> m_errors;
    std::vector<Entry> m_notes;
    int m_errorCount = 0;
};

} // namespace sakura
