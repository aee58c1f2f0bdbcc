#include "CstmUtils.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <limits>

namespace tonelark {
namespace {

// CP932 (WINDOWS-31J), not SHIFT_JIS: the two differ on the NEC/IBM extensions (①, Ⅰ, ㈱)
// and on 0x8160, which CP932 maps to U+FF5E (～) and SHIFT_JIS to U+301C (〜).
constexpr const char kAnsiCharset[] = "CP932";
constexpr const char kUtf16Charset[] = "UTF-16LE";
constexpr char16_t kReplacement = u'\uFFFD';

// One converter per direction and thread: iconv_open costs far more than a short text.
class Converter {
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible; returns false with errno set when it stopped early.
    bool convert(char **in, size_t *inLeft, char **out, size_t *outLeft)
    {
        return iconv(m_cd, in, inLeft, out, outLeft) != static_cast<size_t>(-1);
    }
    void reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t m_cd;
};

Converter &decoder()
{
    thread_local Converter converter(kUtf16Charset, kAnsiCharset);
    return converter;
}

Converter &encoder()
{
    thread_local Converter converter(kAnsiCharset, kUtf16Charset);
    return converter;
}

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

QString ansiToUnicode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    // CP932 keeps 0x00-0x7F as ASCII, and song texts mostly are.
    if (isAscii(bytes))
        return QString::fromLatin1(bytes.data(), bytes.size());

    Converter &cd = decoder();
    QString result;
    if (!cd.valid()) {
        // No CP932 converter on this system: keep ASCII, mark the rest.
        result.reserve(bytes.size());
        for (char c : bytes)
            result.append(static_cast<unsigned char>(c) < 0x80 ? QChar(c) : QChar(kReplacement));
        return result;
    }
    cd.reset();
    // Every input byte yields at most one UTF-16 unit.
    result.resize(bytes.size());
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char *outStart = reinterpret_cast<char *>(result.data());
    char *out = outStart;
    size_t outLeft = static_cast<size_t>(result.size()) * sizeof(char16_t);
    while (inLeft > 0) {
        if (cd.convert(&in, &inLeft, &out, &outLeft))
            break;
        if (errno == E2BIG)
            break; // cannot happen with one unit per byte; stop rather than loop
        // EILSEQ (invalid byte) or EINVAL (truncated character at the end): glibc leaves
        // the skipping to us, one byte at a time.
        const char16_t replacement = kReplacement;
        std::memcpy(out, &replacement, sizeof replacement);
        out += sizeof replacement;
        outLeft -= sizeof replacement;
        ++in;
        --inLeft;
        cd.reset();
    }
    result.resize((out - outStart) / static_cast<qsizetype>(sizeof(char16_t)));
    return result;
}

QByteArray unicodeToAnsi(QStringView text)
{
    if (text.isEmpty())
        return {};
    if (isAscii(text))
        return text.toLatin1();

    Converter &cd = encoder();
    QByteArray result;
    if (!cd.valid()) {
        for (QChar c : text)
            result.append(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
        return result;
    }
    cd.reset();
    // At most two bytes per UTF-16 unit.
    result.resize(text.size() * 2);
    char *in = reinterpret_cast<char *>(const_cast<QChar *>(text.data()));
    size_t inLeft = static_cast<size_t>(text.size()) * sizeof(char16_t);
    char *outStart = result.data();
    char *out = outStart;
    size_t outLeft = static_cast<size_t>(result.size());
    while (inLeft > 0) {
        if (cd.convert(&in, &inLeft, &out, &outLeft))
            break;
        if (errno == E2BIG)
            break;
        // A character CP932 cannot hold becomes the default character; a surrogate pair
        // (or a lone surrogate) is one character.
        char16_t unit;
        std::memcpy(&unit, in, sizeof unit);
        size_t skip = sizeof(char16_t);
        if (unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 2 * sizeof(char16_t)) {
            char16_t next;
            std::memcpy(&next, in + sizeof unit, sizeof next);
            if (next >= 0xDC00 && next <= 0xDFFF)
                skip *= 2;
        }
        *out++ = '?';
        --outLeft;
        in += skip;
        inLeft = inLeft > skip ? inLeft - skip : 0;
        cd.reset();
    }
    result.resize(out - outStart);
    return result;
}

bool isValidAnsi(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return true;
    Converter &cd = decoder();
    if (!cd.valid())
        return false;
    cd.reset();
    QByteArray out(bytes.size() * 2, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char *outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    const bool ok = cd.convert(&in, &inLeft, &outPtr, &outLeft) && inLeft == 0;
    cd.reset();
    return ok;
}

int utf8SequenceLength(QByteArrayView bytes, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data()) + at;
    const qsizetype left = bytes.size() - at;
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    int trail;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the first trail byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        else if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3;
        if (lead == 0xF0)
            low = 0x90; // overlong
        else if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (left <= trail || p[1] < low || p[1] > high)
        return 0;
    for (int k = 2; k <= trail; ++k)
        if ((p[k] & 0xC0) != 0x80)
            return 0;
    return trail + 1;
}

bool isValidUtf8(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = utf8SequenceLength(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

qsizetype firstNonAnsiCharacter(QStringView text)
{
    if (isAscii(text))
        return -1;
    Converter &cd = encoder();
    if (!cd.valid()) {
        for (qsizetype i = 0; i < text.size(); ++i)
            if (text.at(i).unicode() >= 0x80)
                return i;
        return -1;
    }
    cd.reset();
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char *inStart = reinterpret_cast<char *>(const_cast<QChar *>(text.data()));
    char *in = inStart;
    size_t inLeft = static_cast<size_t>(text.size()) * sizeof(char16_t);
    char *outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    const bool ok = cd.convert(&in, &inLeft, &outPtr, &outLeft) && inLeft == 0;
    cd.reset();
    return ok ? -1 : (in - inStart) / static_cast<qsizetype>(sizeof(char16_t));
}

QString trimControlAndSpace(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin).toString();
}

int clampToInt(long double value)
{
    if (value >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

QString formatMinutesSeconds(qint64 milliseconds)
{
    return QString::asprintf("%.2lld:%.2lld", static_cast<long long>(milliseconds / 60000),
                             static_cast<long long>((milliseconds / 1000) % 60));
}

QString formatTickPair(qint64 tick, qint64 totalTick)
{
    return QString::asprintf("%lld / %lld", static_cast<long long>(tick),
                             static_cast<long long>(totalTick));
}

QString formatWidth8(qint64 value)
{
    return QString::asprintf("%8lld", static_cast<long long>(value));
}

} // namespace tonelark
