#pragma once

#include "MmlProgram.h"

#include <string>
#include <string_view>
#include <vector>

namespace sakura {

class Cp932Codec;
class MmlDiagnostics;

// Makes a decoded source ready for the parser in one pass: CR LF and a lone CR become LF, a
// trailing end-of-file mark (0x1A) is dropped, and full-width ASCII forms typed by a Japanese
// input method (ｏ５, （１２０）, ／／) become their ASCII characters outside strings.
// Works in place (the text only shrinks), so a large source is not held twice.
void prepareSource(std::u32string &text);

// Reads a prepared source into an MmlProgram. Every scan moves forward (no rescans), so the
// time is linear in the input whatever its shape. Reports each syntax error once with its
// line and goes on at the next statement, so one compile shows as many mistakes as possible.
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
    size_t findOnLine(char32_t c);
    void skipAfterError();

    void parseStatement();
    void parseAsciiLetter();
    void scanWord(size_t start);
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
    bool parseString(std::u32string &out, bool report = true);
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
    // The letter word under the cursor, scanned once however long it is: where a command name
    // begins in it (npos for none) and whether that name takes "=", "(" or "{".
    size_t m_wordBegin = 0;
    size_t m_wordEnd = 0;
    size_t m_wordNameAt = std::u32string_view::npos;
    const Name *m_wordName = nullptr;
    bool m_wordNamed = false;
    size_t m_reportedComment = std::u32string_view::npos; // an unclosed "/*" already reported
    // The last answer of findOnLine for each closing mark: searched from `from`, found at
    // `found` (or the line end at `found` when `hit` is false). A later search that starts
    // inside that stretch has the same answer, so "Foo{Foo{…" on one line is not quadratic.
    struct FoundMark
    {
        char32_t mark = 0;
        size_t from = 0;
        size_t found = 0;
        bool hit = false;
    };
    FoundMark m_found[3];
};

} // namespace sakura
