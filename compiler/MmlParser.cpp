#include "MmlParser.h"

#include "Cp932Codec.h"
#include "MmlDiagnostics.h"
#include "MmlLimits.h"

#include <algorithm>
#include <array>

namespace sakura {

namespace {

constexpr char32_t kFullWidthSpace = U'\u3000';

bool isBlank(char32_t c)
{
    return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n' || c == U'\f' || c == U'\v'
        || c == kFullWidthSpace;
}

bool isDigit(char32_t c)
{
    return c >= U'0' && c <= U'9';
}

bool isAsciiLetter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

bool isUpper(char32_t c)
{
    return c >= U'A' && c <= U'Z';
}

bool isLower(char32_t c)
{
    return c >= U'a' && c <= U'z';
}

char32_t toLower(char32_t c)
{
    return isUpper(c) ? c - U'A' + U'a' : c;
}

bool equalsIgnoreCase(std::u32string_view a, std::u32string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (toLower(a[i]) != toLower(b[i]))
            return false;
    }
    return true;
}

bool isNoteOrRestLetter(char32_t c)
{
    switch (toLower(c)) {
    case U'c': case U'd': case U'e': case U'f': case U'g': case U'a': case U'b': case U'r':
        return true;
    default:
        return false;
    }
}

// Letters that are commands on their own (notes, r, l o v q t y p m in either case).
bool isCommandLetter(char32_t c)
{
    switch (toLower(c)) {
    case U'l': case U'o': case U'v': case U'q': case U't': case U'y': case U'p': case U'm':
        return true;
    default:
        return isNoteOrRestLetter(c);
    }
}

// Semitone of a note letter above the octave's C, or -1.
int letterSemitone(char32_t c)
{
    switch (toLower(c)) {
    case U'c': return 0;
    case U'd': return 2;
    case U'e': return 4;
    case U'f': return 5;
    case U'g': return 7;
    case U'a': return 9;
    case U'b': return 11;
    default: return -1;
    }
}

std::string utf8(std::u32string_view text)
{
    return toUtf8(text);
}

// Quotes at most this many characters of an offending word, so one long word cannot push
// the other messages out of the caller's 1024-byte buffer.
constexpr size_t kMaxQuoted = 40;

std::string quoted(std::u32string_view text)
{
    if (text.size() > kMaxQuoted)
        return "「" + utf8(text.substr(0, kMaxQuoted)) + "…」";
    return "「" + utf8(text) + "」";
}

std::string displayChar(char32_t c)
{
    if (c < 0x20 || c == 0x7F) {
        static const char kHex[] = "0123456789ABCDEF";
        std::string out = "0x";
        out += kHex[(c >> 4) & 0xF];
        out += kHex[c & 0xF];
        return "「" + out + "」";
    }
    return quoted(std::u32string_view(&c, 1));
}

// The controller numbers of the named controller commands.
constexpr int kCcModulation = 1;
constexpr int kCcVolume = 7;
constexpr int kCcPan = 10;
constexpr int kCcExpression = 11;
constexpr int kCcReverb = 91;
constexpr int kCcChorus = 93;

// Meta event types of the text commands.
constexpr int kMetaText = 0x01;
constexpr int kMetaCopyright = 0x02;
constexpr int kMetaSequenceName = 0x03;
constexpr int kMetaLyric = 0x05;

} // namespace

void prepareSource(std::u32string &text)
{
    const std::u32string_view decoded = text;
    // An end-of-file mark left by an old editor, possibly followed by the line end the player
    // adds to every line, is not part of the song.
    size_t length = decoded.size();
    size_t last = length;
    while (last > 0 && (decoded[last - 1] == U'\r' || decoded[last - 1] == U'\n'))
        --last;
    if (last > 0 && decoded[last - 1] == U'\x1A')
        length = last - 1;

    // Full-width forms U+FF01..U+FF5E are the ASCII characters 0x21..0x7E; the full-width
    // quotation mark stays, so what is a string does not change.
    auto narrow = [](char32_t c) { return c >= U'\uFF01' && c <= U'\uFF5E' && c != U'\uFF02' ? c - 0xFF01 + 0x21 : c; };
    enum class State { Code, LineComment, BlockComment, String };
    State state = State::Code;
    // Writes never overtake reads (w <= i), so the look-ahead at decoded[i + 1] is unchanged.
    size_t w = 0;
    auto put = [&text, &w](char32_t c) { text[w++] = c; };
    for (size_t i = 0; i < length; ++i) {
        char32_t c = decoded[i];
        if (c == U'\r') {
            if (i + 1 < length && decoded[i + 1] == U'\n')
                continue;
            c = U'\n';
        }
        char32_t next = i + 1 < length ? decoded[i + 1] : U'\0';
        if (state != State::String) {
            c = narrow(c);
            next = narrow(next);
        }
        switch (state) {
        case State::Code:
            if (c == U'"')
                state = State::String;
            else if (c == U'/' && next == U'/')
                state = State::LineComment;
            else if (c == U'/' && next == U'*') {
                state = State::BlockComment;
                put(c);
                put(next);
                ++i;
                continue;
            }
            break;
        case State::String:
            if (c == U'"' || c == U'\n')
                state = State::Code;
            break;
        case State::LineComment:
            if (c == U'\n')
                state = State::Code;
            break;
        case State::BlockComment:
            if (c == U'*' && next == U'/') {
                state = State::Code;
                put(c);
                put(next);
                ++i;
                continue;
            }
            break;
        }
        put(c);
    }
    text.resize(w);
}

MmlParser::MmlParser(std::u32string_view source, const Cp932Codec &codec, MmlDiagnostics &diagnostics)
    : m_source(source)
    , m_codec(codec)
    , m_diagnostics(diagnostics)
{
    m_lineStarts.push_back(0);
    // Roughly one command per three characters in dense MML; saves regrowing the vectors.
    m_program.commands.reserve(m_source.size() / 3 + 16);
    m_program.lengths.reserve(m_source.size() / 3 + 16);
    for (size_t i = 0; i < m_source.size(); ++i) {
        if (m_source[i] == U'\n')
            m_lineStarts.push_back(i + 1);
    }
}

uint32_t MmlParser::lineAt(size_t pos) const
{
    // The parser asks mostly for positions just after the previous one: walk forward from
    // the last answer, and search only when asked about an earlier line.
    size_t line = m_lineCursor;
    if (pos < m_lineStarts[line]) {
        line = static_cast<size_t>(std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), pos) - m_lineStarts.begin()) - 1;
    } else {
        while (line + 1 < m_lineStarts.size() && m_lineStarts[line + 1] <= pos)
            ++line;
    }
    m_lineCursor = line;
    return static_cast<uint32_t>(line + 1);
}

char32_t MmlParser::peek(size_t offset) const
{
    const size_t at = m_pos + offset;
    return at < m_source.size() ? m_source[at] : U'\0';
}

void MmlParser::error(size_t pos, const std::string &text)
{
    m_diagnostics.error(lineAt(pos), text);
}

void MmlParser::unknownCommand(size_t pos, std::u32string_view text)
{
    error(pos, "未定義のコマンド" + quoted(text) + "があります。");
}

void MmlParser::emit(MmlOp op, size_t start, int64_t a, int64_t b)
{
    // Values are range-checked before they get here, so they fit the command's fields.
    MmlCommand command{op, lineAt(start)};
    command.a = static_cast<int32_t>(a);
    command.b = static_cast<int32_t>(b);
    m_program.commands.push_back(command);
}

void MmlParser::skipToLineEnd()
{
    while (!atEnd() && peek() != U'\n')
        ++m_pos;
}

// Position of c at or after the cursor on the cursor's line, or npos. Stops at the line end,
// so searching for a closing mark never runs through the rest of the file.
size_t MmlParser::findOnLine(char32_t c)
{
    FoundMark *cache = &m_found[0];
    for (FoundMark &entry : m_found) {
        if (entry.mark == c || entry.mark == 0) {
            cache = &entry;
            break;
        }
    }
    if (cache->mark == c && cache->from <= m_pos && m_pos <= cache->found)
        return cache->hit ? cache->found : std::u32string_view::npos;
    size_t at = m_pos;
    while (at < m_source.size() && m_source[at] != U'\n' && m_source[at] != c)
        ++at;
    const bool hit = at < m_source.size() && m_source[at] == c;
    *cache = {c, m_pos, at, hit};
    return hit ? at : std::u32string_view::npos;
}

// After a mistake: skips what cannot begin a statement (values, signs, brackets, a string)
// on the same line, so the rest of the broken statement gives no further messages.
void MmlParser::skipAfterError()
{
    while (!atEnd()) {
        const char32_t c = peek();
        if (c == U'"') {
            std::u32string ignored;
            parseString(ignored, false);
            continue;
        }
        if (c == U' ' || c == U'\t' || c == kFullWidthSpace || isDigit(c) || c == U',' || c == U'.' || c == U'+'
            || c == U'-' || c == U'#' || c == U'%' || c == U'^' || c == U'=' || c == U'(' || c == U')'
            || c == U'{' || c == U'}')
            ++m_pos;
        else
            return;
    }
}

void MmlParser::skipBlank()
{
    while (!atEnd()) {
        const char32_t c = peek();
        if (isBlank(c)) {
            ++m_pos;
        } else if (c == U'/' && peek(1) == U'/') {
            skipToLineEnd();
        } else if (c == U'/' && peek(1) == U'*') {
            const size_t start = m_pos;
            const size_t end = m_source.find(U"*/", m_pos + 2);
            if (end == std::u32string_view::npos) {
                // A look-ahead (for a tie after a note) may pass here before the statement
                // loop does: one comment, one message.
                if (m_reportedComment != start)
                    error(start, "コメントの「/*」が「*/」で閉じていません。");
                m_reportedComment = start;
                m_pos = m_source.size();
            } else {
                m_pos = end + 2;
            }
        } else {
            return;
        }
    }
}

MmlProgram MmlParser::parse()
{
    while (true) {
        skipBlank();
        if (atEnd())
            break;
        const size_t before = m_pos;
        const int errorsBefore = m_diagnostics.errorCount();
        parseStatement();
        if (m_pos == before)
            ++m_pos; // every statement consumes input; this keeps a slip from looping forever
        if (m_diagnostics.errorCount() != errorsBefore)
            skipAfterError();
    }
    // Loops left open: their repeats are dropped so the rest still compiles once.
    for (const LoopFrame &frame : m_loops) {
        if (frame.beginIndex < 0)
            continue;
        m_diagnostics.error(frame.line, "ループの「[」に対応する「]」がありません。");
        m_program.commands[static_cast<size_t>(frame.beginIndex)].op = MmlOp::Nop;
        for (size_t index : frame.breaks)
            m_program.commands[index].op = MmlOp::Nop;
    }
    m_loops.clear();
    return std::move(m_program);
}

void MmlParser::parseStatement()
{
    const size_t start = m_pos;
    const char32_t c = peek();
    if (isAsciiLetter(c)) {
        parseAsciiLetter();
        return;
    }
    switch (c) {
    case U'@': {
        ++m_pos;
        int64_t value = 0;
        if (readValue(U"@", start, 1, 128, value))
            emit(MmlOp::Program, start, value);
        return;
    }
    case U'>':
        ++m_pos;
        emit(MmlOp::OctaveUp, start);
        return;
    case U'<':
        ++m_pos;
        emit(MmlOp::OctaveDown, start);
        return;
    case U'[':
        parseLoopBegin();
        return;
    case U':':
        parseLoopBreak();
        return;
    case U']':
        parseLoopEnd();
        return;
    case U'\'':
        parseChord();
        return;
    case U'^':
        ++m_pos;
        error(start, "「^」の前に音符か休符がありません。");
        return;
    case U'"': {
        std::u32string ignored;
        if (parseString(ignored)) // an unclosed one is reported as that, once
            error(start, "文字列の前にコマンドがありません。");
        return;
    }
    case Cp932Codec::kInvalid:
        while (peek() == Cp932Codec::kInvalid)
            ++m_pos;
        error(start, "文字コードが正しくありません（CP932として読めないバイトがあります）。");
        return;
    default:
        break;
    }
    if (isDigit(c)) {
        while (isDigit(peek()))
            ++m_pos;
        error(start, "数値" + quoted(m_source.substr(start, m_pos - start)) + "の前にコマンドがありません。");
        return;
    }
    size_t length = 0;
    const int semitone = katakanaNote(m_pos, length);
    if (semitone >= 0) {
        m_pos += length;
        parseNote(semitone, start);
        return;
    }
    if (c == U'ッ') {
        ++m_pos;
        parseRest(start);
        return;
    }
    if (const Name *name = findJapanese(m_pos, length)) {
        m_pos += length;
        parseNamed(*name, start);
        return;
    }
    if (c >= 0x80) {
        parseUnknownNonAscii();
        return;
    }
    ++m_pos;
    error(start, "未定義のコマンド" + displayChar(c) + "があります。");
}

namespace {

constexpr size_t kLongestName = 13; // TimeSignature

} // namespace

// How a run of ASCII letters is read (docs/MML.md, "Reading letters"):
// - Followed by "=", "(" or "{" it ends in a command name (any case); otherwise it may end in
//   an upper-case short form with its value (EP100). All other letters are one-letter
//   commands and notes.
// - The whole run is the name when it is one ("Tempo=", "rev=", "CHO20"), unless it begins
//   with a small note letter and holds a capital ("eP(64)" is e and Pan).
// - Otherwise a name may follow note and rest letters ("cdeVolume=90"), but never begins with
//   a small note or rest letter: those are always notes.
// - A capital right after a small letter begins the name ("cdeRev=" is Reverb, "creV=" Volume).
// - Among capitals alone the shortest name is taken, so no note is lost ("CDEP64" is C D E
//   and P64, not C D and EP64), and a note in the message says so.
void MmlParser::scanWord(size_t start)
{
    m_wordBegin = start;
    m_wordEnd = start + 1;
    while (m_wordEnd < m_source.size() && isAsciiLetter(m_source[m_wordEnd]))
        ++m_wordEnd;
    m_wordNameAt = std::u32string_view::npos;
    m_wordName = nullptr;
    m_wordNamed = false;

    size_t after = m_wordEnd;
    while (after < m_source.size() && (m_source[after] == U' ' || m_source[after] == U'\t'))
        ++after;
    const char32_t next = after < m_source.size() ? m_source[after] : U'\0';
    m_wordNamed = next == U'=' || next == U'(' || next == U'{';
    const std::u32string_view word = m_source.substr(m_wordBegin, m_wordEnd - m_wordBegin);

    // Controller short forms that take their value directly (EP100); upper case only, as
    // written, so that small letters stay notes and one-letter commands.
    static const Name kShortNames[] = {
        {U"EP", NameKind::Controller, kCcExpression, true},
        {U"REV", NameKind::Controller, kCcReverb, true},
        {U"CHO", NameKind::Controller, kCcChorus, true},
        {U"V", NameKind::Controller, kCcVolume, true},
        {U"P", NameKind::Controller, kCcPan, true},
        {U"M", NameKind::Controller, kCcModulation, true},
    };
    auto lookUp = [&](std::u32string_view text) -> const Name * {
        if (m_wordNamed)
            return findWord(text);
        for (const Name &name : kShortNames) {
            if (text == name.name)
                return &name;
        }
        return nullptr;
    };

    // "eP(64)" is e and Pan: after a small note letter, a capital begins the name. Names with
    // a capital inside (TimeBase) begin with a capital themselves.
    const bool noteThenCapital = isLower(word[0]) && isNoteOrRestLetter(word[0])
        && std::any_of(word.begin(), word.end(), isUpper);
    if (const Name *name = noteThenCapital ? nullptr : lookUp(word)) {
        m_wordNameAt = m_wordBegin;
        m_wordName = name;
        return;
    }
    // "Tempo120", "CH10", "TR2": a name without "=" is one mistake with one message, not
    // letters read one by one. Small letters that read as commands stay so ("rev100").
    if (!m_wordNamed && findWord(word)
        && ((isUpper(word[0]) && word.size() >= 2) || !std::all_of(word.begin(), word.end(), isCommandLetter))) {
        error(m_wordBegin, quoted(word) + "の後に「=値」か「(値)」が必要です。");
        m_pos = m_wordEnd;
        return;
    }
    // Names that end the word after a prefix of note and rest letters; the shortest wins.
    size_t notesUpTo = m_wordBegin; // the prefix [m_wordBegin, notesUpTo) is all note letters
    while (notesUpTo < m_wordEnd && isNoteOrRestLetter(m_source[notesUpTo]))
        ++notesUpTo;
    const size_t first = std::max(m_wordBegin + 1, m_wordEnd > kLongestName ? m_wordEnd - kLongestName : 0);
    size_t chosen = std::u32string_view::npos;
    const Name *chosenName = nullptr;
    std::u32string_view longer;
    int readings = 0;
    bool atCapital = false;
    for (size_t k = first; k < m_wordEnd && k <= notesUpTo; ++k) {
        const char32_t c = m_source[k];
        if (isLower(c) && isNoteOrRestLetter(c))
            continue;
        const std::u32string_view tail = m_source.substr(k, m_wordEnd - k);
        if (const Name *name = lookUp(tail)) {
            ++readings;
            if (atCapital)
                continue;
            if (chosen != std::u32string_view::npos)
                longer = m_source.substr(chosen, m_wordEnd - chosen);
            chosen = k;
            chosenName = name;
            atCapital = isUpper(c) && isLower(m_source[k - 1]);
        }
    }
    if (atCapital)
        readings = 1;
    // A word with a letter that is no command on its own ("hello", "Foo=1") is one mistake:
    // one message for the whole word rather than one for each of its letters.
    const size_t lettersEnd = chosen == std::u32string_view::npos ? m_wordEnd : chosen;
    bool readable = !(m_wordNamed && chosen == std::u32string_view::npos);
    for (size_t k = m_wordBegin; k < lettersEnd && readable; ++k)
        readable = isCommandLetter(m_source[k]);
    if (!readable) {
        unknownCommand(m_wordBegin, word);
        m_pos = m_wordEnd;
        skipArgument();
        return;
    }
    if (chosen == std::u32string_view::npos)
        return;
    if (readings > 1) {
        m_diagnostics.note(lineAt(m_wordBegin),
                           quoted(word) + "は" + quoted(m_source.substr(m_wordBegin, chosen - m_wordBegin)) + "と"
                               + quoted(m_source.substr(chosen, m_wordEnd - chosen)) + "に分けて読みました。" + quoted(longer)
                               + "のつもりなら、その前に空白を入れてください。");
    }
    m_wordNameAt = chosen;
    m_wordName = chosenName;
}

void MmlParser::parseAsciiLetter()
{
    const size_t start = m_pos;
    if (start < m_wordBegin || start >= m_wordEnd) {
        scanWord(start);
        if (m_pos != start)
            return; // an unknown name, reported and skipped with its argument
    }
    if (start == m_wordNameAt) {
        const std::u32string_view display = m_source.substr(start, m_wordEnd - start);
        m_pos = m_wordEnd;
        if (!m_wordNamed) {
            int64_t value = 0;
            if (readValue(display, start, 0, 127, value))
                emit(MmlOp::Control, start, m_wordName->param, value);
        } else if (m_wordName->kind == NameKind::Text) {
            parseNamedText(*m_wordName, start, display);
        } else {
            parseNamed(*m_wordName, start);
        }
        return;
    }
    ++m_pos;
    parseSingleLetter(m_source[start]);
}

void MmlParser::parseSingleLetter(char32_t c)
{
    const size_t start = m_pos - 1;
    const std::u32string_view command = m_source.substr(start, 1);
    int64_t value = 0;
    // Case matters only here: v is the note velocity, V the channel volume (controller 7).
    if (c == U'V') {
        if (readValue(command, start, 0, 127, value))
            emit(MmlOp::Control, start, kCcVolume, value);
        return;
    }
    const int semitone = letterSemitone(c);
    if (semitone >= 0) {
        parseNote(semitone, start);
        return;
    }
    switch (toLower(c)) {
    case U'r':
        parseRest(start);
        return;
    case U'l': {
        skipBlank();
        MmlLengthPart part;
        if (!parseLengthPart(part, false)) {
            return;
        }
        if (part.kind == MmlLengthPart::Default) {
            error(start, "「l」の値がありません。");
            return;
        }
        MmlCommand cmd{MmlOp::DefaultLength, lineAt(start)};
        cmd.lengthBegin = static_cast<uint32_t>(m_program.lengths.size());
        cmd.lengthCount = 1;
        m_program.lengths.push_back(part);
        m_program.commands.push_back(cmd);
        return;
    }
    case U'o':
        if (readValue(command, start, 0, kMaxOctave, value))
            emit(MmlOp::Octave, start, value);
        return;
    case U'v':
        if (readValue(command, start, 0, 127, value))
            emit(MmlOp::Velocity, start, value);
        return;
    case U'q':
        if (readValue(command, start, 1, 100, value))
            emit(MmlOp::Gate, start, value);
        return;
    case U't':
        if (readValue(command, start, kMinTempo, kMaxTempo, value))
            emit(MmlOp::Tempo, start, value);
        return;
    case U'p':
        if (readValue(command, start, 0, 127, value))
            emit(MmlOp::Control, start, kCcPan, value);
        return;
    case U'm':
        if (readValue(command, start, 0, 127, value))
            emit(MmlOp::Control, start, kCcModulation, value);
        return;
    case U'y': {
        int64_t controller = 0;
        if (!readValue(command, start, 0, 127, controller))
            return;
        skipBlank();
        if (peek() != U',') {
            error(start, "「y」には「,」で区切った二つの値（コントロール番号,値）が必要です。");
            return;
        }
        ++m_pos;
        if (readValue(command, start, 0, 127, value))
            emit(MmlOp::Control, start, controller, value);
        return;
    }
    default:
        unknownCommand(start, command);
        return;
    }
}

int MmlParser::katakanaNote(size_t pos, size_t &length) const
{
    length = 1;
    const char32_t c = pos < m_source.size() ? m_source[pos] : U'\0';
    switch (c) {
    case U'ド': return 0;
    case U'レ': return 2;
    case U'ミ': return 4;
    case U'フ':
        // ファ and the short フ are both F.
        if (pos + 1 < m_source.size() && m_source[pos + 1] == U'ァ')
            length = 2;
        return 5;
    case U'ソ': return 7;
    case U'ラ': return 9;
    case U'シ': return 11;
    default: return -1;
    }
}

void MmlParser::parseNote(int semitone, size_t start)
{
    while (true) {
        const char32_t c = peek();
        if (c == U'+' || c == U'#')
            ++semitone;
        else if (c == U'-')
            --semitone;
        else
            break;
        ++m_pos;
        if (semitone > 127 || semitone < -128)
            break; // the key check reports it; do not let a long run grow without bound
    }
    uint32_t begin = 0;
    uint32_t count = 0;
    if (!parseLength(begin, count))
        return;
    MmlCommand command{MmlOp::Note, lineAt(start)};
    command.a = semitone;
    command.lengthBegin = begin;
    command.lengthCount = count;
    m_program.commands.push_back(command);
}

void MmlParser::parseRest(size_t start)
{
    uint32_t begin = 0;
    uint32_t count = 0;
    if (!parseLength(begin, count))
        return;
    MmlCommand command{MmlOp::Rest, lineAt(start)};
    command.lengthBegin = begin;
    command.lengthCount = count;
    m_program.commands.push_back(command);
}

// A length: [n | %n] dots, then any number of ^[n | %n] dots for ties.
bool MmlParser::parseLength(uint32_t &begin, uint32_t &count)
{
    begin = static_cast<uint32_t>(m_program.lengths.size());
    MmlLengthPart part;
    if (!parseLengthPart(part, true)) {
        m_program.lengths.resize(begin);
        return false;
    }
    m_program.lengths.push_back(part);
    while (true) {
        const size_t save = m_pos;
        skipBlank();
        if (peek() != U'^') {
            m_pos = save;
            break;
        }
        ++m_pos;
        skipBlank();
        if (!parseLengthPart(part, true)) {
            m_program.lengths.resize(begin);
            return false;
        }
        m_program.lengths.push_back(part);
    }
    count = static_cast<uint32_t>(m_program.lengths.size() - begin);
    // The plain `l` length, by far the most common, is stored as no parts at all.
    if (count == 1 && m_program.lengths[begin].kind == MmlLengthPart::Default && m_program.lengths[begin].dots == 0) {
        m_program.lengths.resize(begin);
        count = 0;
    }
    return true;
}

bool MmlParser::parseLengthPart(MmlLengthPart &part, bool allowDefault)
{
    part = MmlLengthPart{};
    const size_t start = m_pos;
    if (peek() == U'%') {
        ++m_pos;
        Number number;
        if (!readNumber(number) || number.text.front() == U'-' || number.text.front() == U'+') {
            error(start, "「%」の後にティック数がありません。");
            return false;
        }
        if (number.overflow || number.value > kMaxTick) {
            error(start, "ティック数" + quoted(number.text) + "が大きすぎます（最大" + std::to_string(kMaxTick) + "）。");
            return false;
        }
        part.kind = MmlLengthPart::Ticks;
        part.value = static_cast<int32_t>(number.value);
    } else if (isDigit(peek())) {
        Number number;
        readNumber(number);
        if (number.overflow || number.value == 0 || number.value > kMaxTimeBase * 4) {
            error(start, "音長" + quoted(number.text) + "は使えません。");
            return false;
        }
        part.kind = MmlLengthPart::Divisor;
        part.value = static_cast<int32_t>(number.value);
    } else if (!allowDefault) {
        return true;
    }
    int dots = 0;
    while (peek() == U'.') {
        ++m_pos;
        ++dots;
    }
    if (dots > kMaxDots) {
        error(start, "付点が多すぎます。");
        return false;
    }
    part.dots = static_cast<uint8_t>(dots);
    return true;
}

void MmlParser::parseChord()
{
    const size_t start = m_pos;
    ++m_pos;
    const uint32_t itemBegin = static_cast<uint32_t>(m_program.chordItems.size());
    int notes = 0;
    bool bad = false;
    while (true) {
        const char32_t c = peek();
        if (atEnd() || c == U'\n') {
            error(start, "和音の「'」が閉じていません。");
            m_program.chordItems.resize(itemBegin);
            return;
        }
        if (c == U'\'') {
            ++m_pos;
            break;
        }
        if (isBlank(c)) {
            ++m_pos;
            continue;
        }
        // Comments may sit inside a chord, but the chord still ends on its own line.
        if (c == U'/' && peek(1) == U'/') {
            skipToLineEnd();
            continue;
        }
        if (c == U'/' && peek(1) == U'*') {
            m_pos += 2;
            while (!atEnd() && peek() != U'\n' && !(peek() == U'*' && peek(1) == U'/'))
                ++m_pos;
            if (peek() == U'*')
                m_pos += 2;
            continue;
        }
        const size_t at = m_pos;
        size_t length = 0;
        int semitone = letterSemitone(c);
        if (semitone >= 0) {
            length = 1;
        } else {
            semitone = katakanaNote(m_pos, length);
        }
        if (semitone >= 0) {
            m_pos += length;
            while (peek() == U'+' || peek() == U'#' || peek() == U'-') {
                semitone += peek() == U'-' ? -1 : 1;
                ++m_pos;
            }
            m_program.chordItems.push_back({MmlChordItem::Note, semitone});
            ++notes;
        } else if (c == U'>') {
            ++m_pos;
            m_program.chordItems.push_back({MmlChordItem::OctaveUp, 0});
        } else if (c == U'<') {
            ++m_pos;
            m_program.chordItems.push_back({MmlChordItem::OctaveDown, 0});
        } else if (toLower(c) == U'o') {
            ++m_pos;
            int64_t value = 0;
            if (readValue(U"o", at, 0, kMaxOctave, value))
                m_program.chordItems.push_back({MmlChordItem::OctaveSet, static_cast<int32_t>(value)});
            else
                bad = true;
        } else {
            ++m_pos;
            error(at, "和音の中に使えないコマンド" + displayChar(c) + "があります。");
            bad = true;
        }
    }
    uint32_t begin = 0;
    uint32_t count = 0;
    if (!parseLength(begin, count) || bad) {
        m_program.chordItems.resize(itemBegin);
        return;
    }
    if (notes == 0) {
        error(start, "和音に音符がありません。");
        m_program.chordItems.resize(itemBegin);
        return;
    }
    MmlCommand command{MmlOp::Chord, lineAt(start)};
    command.a = static_cast<int32_t>(itemBegin);
    command.b = static_cast<int32_t>(m_program.chordItems.size() - itemBegin);
    command.lengthBegin = begin;
    command.lengthCount = count;
    m_program.commands.push_back(command);
}

void MmlParser::parseLoopBegin()
{
    const size_t start = m_pos;
    ++m_pos;
    int64_t count = kDefaultLoopCount;
    const size_t save = m_pos;
    skipBlank();
    if (isDigit(peek())) {
        if (!readValue(U"[", start, kMinLoopCount, kMaxLoopCount, count))
            count = 1;
    } else {
        m_pos = save;
    }
    if (m_loops.size() >= static_cast<size_t>(kMaxLoopDepth)) {
        if (m_loops.back().beginIndex >= 0 || m_loops.size() == static_cast<size_t>(kMaxLoopDepth))
            error(start, "ループの入れ子が深すぎます（最大" + std::to_string(kMaxLoopDepth) + "段）。");
        m_loops.push_back({-1, {}, lineAt(start)});
        return;
    }
    m_loops.push_back({static_cast<int64_t>(m_program.commands.size()), {}, lineAt(start)});
    emit(MmlOp::LoopBegin, start, count);
}

void MmlParser::parseLoopBreak()
{
    const size_t start = m_pos;
    ++m_pos;
    if (m_loops.empty()) {
        error(start, "「:」はループ「[ ]」の中でしか使えません。");
        return;
    }
    LoopFrame &frame = m_loops.back();
    if (frame.beginIndex < 0)
        return;
    if (!frame.breaks.empty()) {
        error(start, "一つのループに「:」が二つ以上あります。");
        return;
    }
    frame.breaks.push_back(m_program.commands.size());
    emit(MmlOp::LoopBreak, start, 0, frame.beginIndex);
}

void MmlParser::parseLoopEnd()
{
    const size_t start = m_pos;
    ++m_pos;
    if (m_loops.empty()) {
        error(start, "「]」に対応する「[」がありません。");
        return;
    }
    const LoopFrame frame = m_loops.back();
    m_loops.pop_back();
    if (frame.beginIndex < 0)
        return;
    const auto endIndex = static_cast<int64_t>(m_program.commands.size());
    m_program.commands[static_cast<size_t>(frame.beginIndex)].b = static_cast<int32_t>(endIndex);
    emit(MmlOp::LoopEnd, start, 0, frame.beginIndex);
}

const MmlParser::Name *MmlParser::findWord(std::u32string_view word) const
{
    static const Name kNames[] = {
        {U"Track", NameKind::Track, 0, false},
        {U"TR", NameKind::Track, 0, false},
        {U"Channel", NameKind::Channel, 0, false},
        {U"CH", NameKind::Channel, 0, false},
        {U"Program", NameKind::Program, 0, false},
        {U"Tempo", NameKind::Tempo, 0, false},
        {U"TimeBase", NameKind::TimeBase, 0, false},
        {U"TimeSignature", NameKind::TimeSignature, 0, false},
        {U"Volume", NameKind::Controller, kCcVolume, false},
        {U"V", NameKind::Controller, kCcVolume, true},
        {U"Expression", NameKind::Controller, kCcExpression, false},
        {U"EP", NameKind::Controller, kCcExpression, false},
        {U"Pan", NameKind::Controller, kCcPan, false},
        {U"P", NameKind::Controller, kCcPan, false},
        {U"Reverb", NameKind::Controller, kCcReverb, false},
        {U"REV", NameKind::Controller, kCcReverb, false},
        {U"Chorus", NameKind::Controller, kCcChorus, false},
        {U"CHO", NameKind::Controller, kCcChorus, false},
        {U"Modulation", NameKind::Controller, kCcModulation, false},
        {U"M", NameKind::Controller, kCcModulation, false},
        {U"PitchBend", NameKind::PitchBend, 0, false},
        {U"Lyric", NameKind::Text, kMetaLyric, false},
        {U"Title", NameKind::Text, kMetaSequenceName, false},
        {U"Copyright", NameKind::Text, kMetaCopyright, false},
        {U"Comment", NameKind::Text, kMetaText, false},
    };
    for (const Name &name : kNames) {
        if (name.caseSensitive ? word == name.name : equalsIgnoreCase(word, name.name))
            return &name;
    }
    return nullptr;
}

const MmlParser::Name *MmlParser::findJapanese(size_t pos, size_t &length) const
{
    static const Name kNames[] = {
        {U"トラック", NameKind::Track, 0, true},
        {U"チャンネル", NameKind::Channel, 0, true},
        {U"音色", NameKind::Program, 0, true},
        {U"テンポ", NameKind::Tempo, 0, true},
        {U"曲名", NameKind::Text, kMetaSequenceName, true},
        {U"作者", NameKind::Text, kMetaCopyright, true},
        {U"コメント", NameKind::Text, kMetaText, true},
        {U"歌詞", NameKind::Text, kMetaLyric, true},
    };
    for (const Name &name : kNames) {
        if (m_source.substr(pos, name.name.size()) == name.name) {
            length = name.name.size();
            return &name;
        }
    }
    return nullptr;
}

void MmlParser::parseUnknownNonAscii()
{
    const size_t start = m_pos;
    size_t length = 0;
    while (!atEnd() && m_pos - start < 8) {
        const char32_t c = peek();
        if (c < 0x80 || isBlank(c) || c == Cp932Codec::kInvalid || katakanaNote(m_pos, length) >= 0
            || c == U'ッ' || findJapanese(m_pos, length))
            break;
        ++m_pos;
    }
    if (m_pos == start)
        ++m_pos;
    unknownCommand(start, m_source.substr(start, m_pos - start));
    skipArgument();
}

// After an unknown named command: skips its "=1,2", "(…)" or "{…}" on the same line so one
// mistake gives one message.
void MmlParser::skipArgument()
{
    while (peek() == U' ' || peek() == U'\t')
        ++m_pos;
    const char32_t c = peek();
    if (c == U'=') {
        ++m_pos;
        while (isDigit(peek()) || peek() == U',' || peek() == U'-' || peek() == U'+' || peek() == U' ')
            ++m_pos;
        if (peek() == U'"') {
            std::u32string ignored;
            parseString(ignored, false);
        }
    } else if (c == U'(' || c == U'{') {
        const size_t end = findOnLine(c == U'(' ? U')' : U'}');
        if (end != std::u32string_view::npos)
            m_pos = end + 1;
    }
}

void MmlParser::parseNamed(const Name &name, size_t start)
{
    const std::u32string_view display = m_source.substr(start, m_pos - start);
    if (name.kind == NameKind::Text) {
        parseNamedText(name, start, display);
        return;
    }
    while (peek() == U' ' || peek() == U'\t')
        ++m_pos;
    char32_t close = U'\0';
    if (peek() == U'=') {
        ++m_pos;
    } else if (peek() == U'(') {
        ++m_pos;
        close = U')';
    } else if (!isDigit(peek()) && peek() != U'-' && peek() != U'+') {
        error(start, quoted(display) + "の後に「=値」か「(値)」が必要です。");
        skipArgument();
        return;
    }
    const size_t wanted = name.kind == NameKind::TimeSignature ? 2 : 1;
    std::vector<int64_t> values;
    bool ok = true;
    while (true) {
        int64_t value = 0;
        int64_t min = 0;
        int64_t max = 127;
        switch (name.kind) {
        case NameKind::Track: min = kMinTrack; max = kMaxTrack; break;
        case NameKind::Channel: min = 1; max = 16; break;
        case NameKind::Program: min = 1; max = 128; break;
        case NameKind::Tempo: min = kMinTempo; max = kMaxTempo; break;
        case NameKind::TimeBase: min = kMinTimeBase; max = kMaxTimeBase; break;
        case NameKind::TimeSignature:
            if (values.empty()) {
                min = 1;
                max = 99;
            } else {
                min = 1;
                max = 64;
            }
            break;
        case NameKind::PitchBend: min = -8192; max = 8191; break;
        case NameKind::Controller:
        case NameKind::Text: break;
        }
        if (!readValue(display, start, min, max, value)) {
            ok = false;
            break;
        }
        values.push_back(value);
        skipBlank();
        if (values.size() < wanted) {
            if (peek() != U',') {
                error(start, quoted(display) + "には「,」で区切った" + std::to_string(wanted) + "つの値が必要です。");
                ok = false;
                break;
            }
            ++m_pos;
            continue;
        }
        break;
    }
    if (close != U'\0') {
        skipBlank();
        if (peek() == close) {
            ++m_pos;
        } else if (ok) {
            error(start, quoted(display) + "の「(」が「)」で閉じていません。");
            ok = false;
        }
    }
    if (!ok)
        return;
    switch (name.kind) {
    case NameKind::Track: emit(MmlOp::Track, start, values[0]); break;
    case NameKind::Channel: emit(MmlOp::Channel, start, values[0]); break;
    case NameKind::Program: emit(MmlOp::Program, start, values[0]); break;
    case NameKind::Tempo: emit(MmlOp::Tempo, start, values[0]); break;
    case NameKind::TimeBase: emit(MmlOp::TimeBase, start, values[0]); break;
    case NameKind::TimeSignature: {
        const int64_t denominator = values[1];
        if ((denominator & (denominator - 1)) != 0) {
            error(start, "拍子の分母" + std::to_string(denominator) + "は1, 2, 4, 8, 16, 32, 64のどれかにしてください。");
            return;
        }
        emit(MmlOp::TimeSignature, start, values[0], denominator);
        break;
    }
    case NameKind::Controller: emit(MmlOp::Control, start, name.param, values[0]); break;
    case NameKind::PitchBend: emit(MmlOp::PitchBend, start, values[0]); break;
    case NameKind::Text: break;
    }
}

// 曲名{"…"}; also accepted: 曲名("…") and 曲名="…".
void MmlParser::parseNamedText(const Name &name, size_t start, std::u32string_view display)
{
    while (peek() == U' ' || peek() == U'\t')
        ++m_pos;
    char32_t close = U'\0';
    if (peek() == U'{')
        close = U'}';
    else if (peek() == U'(')
        close = U')';
    else if (peek() != U'=') {
        error(start, quoted(display) + "の後に「{\"文字列\"}」が必要です。");
        skipArgument();
        return;
    }
    ++m_pos;
    skipBlank();
    std::u32string text;
    if (peek() != U'"') {
        error(start, quoted(display) + "の後に「{\"文字列\"}」が必要です。");
        if (close != U'\0') {
            const size_t end = findOnLine(close);
            if (end != std::u32string_view::npos)
                m_pos = end + 1;
        }
        return;
    }
    if (!parseString(text))
        return;
    if (close != U'\0') {
        skipBlank();
        if (peek() != close) {
            error(start, quoted(display) + "の「" + (close == U'}' ? std::string("{") : std::string("(")) + "」が閉じていません。");
            return;
        }
        ++m_pos;
    }
    if (text.find(Cp932Codec::kInvalid) != std::u32string::npos) {
        error(start, "文字コードが正しくありません（CP932として読めないバイトがあります）。");
        return;
    }
    const auto index = static_cast<int64_t>(m_program.texts.size());
    m_program.texts.push_back(m_codec.encode(text));
    emit(MmlOp::Text, start, name.param, index);
}

// A "…" string on one line; no escapes, so Shift_JIS text with 0x5C trail bytes stays intact.
bool MmlParser::parseString(std::u32string &out, bool report)
{
    const size_t start = m_pos;
    ++m_pos;
    const size_t end = findOnLine(U'"');
    if (end == std::u32string_view::npos) {
        if (report)
            error(start, "文字列の「\"」が閉じていません。");
        skipToLineEnd();
        return false;
    }
    out.assign(m_source.substr(m_pos, end - m_pos));
    m_pos = end + 1;
    return true;
}

bool MmlParser::readNumber(Number &number)
{
    const size_t start = m_pos;
    bool negative = false;
    if (peek() == U'-' || peek() == U'+') {
        negative = peek() == U'-';
        ++m_pos;
    }
    if (!isDigit(peek())) {
        m_pos = start;
        return false;
    }
    int64_t value = 0;
    bool overflow = false;
    while (isDigit(peek())) {
        if (value > kNumberCeiling / 10)
            overflow = true;
        else
            value = value * 10 + (peek() - U'0');
        ++m_pos;
    }
    number.value = negative ? -value : value;
    number.overflow = overflow;
    number.text = m_source.substr(start, std::min<size_t>(m_pos - start, 24));
    return true;
}

bool MmlParser::readValue(std::u32string_view command, size_t start, int64_t min, int64_t max, int64_t &value)
{
    skipBlank();
    Number number;
    if (!readNumber(number)) {
        error(start, quoted(command) + "の値がありません。");
        return false;
    }
    // Other dialects read v+10 as "ten louder"; this one has no relative values, and taking
    // the number without its sign would silently play something else.
    if (min >= 0 && (number.text.front() == U'+' || number.text.front() == U'-')) {
        error(start, quoted(command) + "の値に符号「" + utf8(number.text.substr(0, 1))
                         + "」は付けられません（相対的な指定はできません）。");
        return false;
    }
    return checkRange(command, start, number, min, max, value);
}

bool MmlParser::checkRange(std::u32string_view command, size_t start, const Number &number, int64_t min,
                           int64_t max, int64_t &value)
{
    if (number.overflow || number.value < min || number.value > max) {
        error(start, quoted(command) + "の値" + utf8(number.text) + "が範囲外です（" + std::to_string(min) + "～"
                         + std::to_string(max) + "）。");
        return false;
    }
    value = number.value;
    return true;
}

} // namespace sakura
