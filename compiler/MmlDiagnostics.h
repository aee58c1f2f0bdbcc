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
    static constexpr int kMaxShownNotes = 10;

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
    // Only the errors that will be shown are kept, sorted by line (equal lines in the order
    // reported), however many a hostile source produces and in whatever order they come.
    std::vector<Entry> m_errors;
    std::vector<Entry> m_notes;
    int m_errorCount = 0;
    int m_noteCount = 0;
};

} // namespace sakura
