#pragma once

#include "MmlProgram.h"

#include <string>
#include <string_view>
#include <vector>

namespace sakura {

class Cp932Codec;
class MmlDiagnostics;

// Reads the decoded source into an MmlProgram. Reports every syntax error with its line and
// goes on after it, so one compile shows as many mistakes as possible.
class MmlParser
{
public:
    MmlParser(std::u32string_view source, const Cp932Codec &codec, MmlDiagnostics &diagnostics);

    MmlProgram parse();

    // 1-based line of a position in the source.
    uint32_t lineAt(size_t pos) const;

private:
    struct Number
    {
        int64_t value = 0;
        bool overflow = false;
        std::u32string_view text;
    };
    struct LoopFrame
    {
        int64_t beginIndex; // -1 when the loop was refused (too deep)
        std::vector<size_t> breaks;
        uint32_t line;
    };
    enum class NameKind { Track, Channel, Program, Tempo, TimeBase, TimeSignature, Controller, PitchBend, Text };
    struct Name
    {
        std::u32string_view name;
        NameKind kind;
        int param; // controller number or meta type
        bool caseSensitive;
    };

    char32_t peek(size_t offset = 0) const;
    bool atEnd() const { return m_pos >= m_source.size(); }
    void skipBlank();
    void skipToLineEnd();

    void parseStatement();
    void parseAsciiLetter();
    void parseSingleLetter(char32_t c);
    bool parseNoteLetter(char32_t c, size_t start);
    void parseNote(int semitone, size_t start);
    void parseRest(size_t start);
    bool parseLength(uint32_t &begin, uint32_t &count);
    bool parseLengthPart(MmlLengthPart &part, bool allowDefault);
    void parseChord();
    void parseLoopBegin();
    void parseLoopBreak();
    void parseLoopEnd();
    void parseNamed(const Name &name, size_t start);
    void parseNamedText(const Name &name, size_t start, std::u32string_view display);
    bool parseString(std::u32string &out);
    void parseUnknownNonAscii();
    void skipArgument();

    bool readNumber(Number &number);
    bool readValue(std::u32string_view command, size_t start, int64_t min, int64_t max, int64_t &value);
    bool checkRange(std::u32string_view command, size_t start, const Number &number, int64_t min,
                    int64_t max, int64_t &value);

    const Name *findWord(std::u32string_view word) const;
    const Name *findJapanese(size_t pos, size_t &length) const;
    int katakanaNote(size_t pos, size_t &length) const;

    void emit(MmlOp op, size_t start, int64_t a = 0, int64_t b = 0);
    void error(size_t pos, const std::string &text);
    void unknownCommand(size_t pos, std::u32string_view text);

    std::u32string_view m_source;
    const Cp932Codec &m_codec;
    MmlDiagnostics &m_diagnostics;
    std::vector<size_t> m_lineStarts;
    mutable size_t m_lineCursor = 0; // index into m_lineStarts of the last lineAt answer
    size_t m_pos = 0;
    MmlProgram m_program;
    std::vector<LoopFrame> m_loops;
    // Cache for the letter run under the cursor, so long runs of notes are scanned once.
    size_t m_runBegin = 0;
    size_t m_runEnd = 0;
    size_t m_runNamedAt = std::u32string_view::npos;
    const Name *m_runName = nullptr;
};

} // namespace sakura
