#include "Cp932Codec.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace sakura {

namespace {

const char *utf32Name()
{
    return std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Runs one conversion over the whole input. onInvalid is called with the number of input
// bytes to skip whenever the converter stops on a sequence it cannot convert; it returns
// false to give up.
template<typename OnInvalid>
bool convert(iconv_t cd, const char *in, size_t inLength, std::string &out, OnInvalid onInvalid)
{
    if (cd == kNoConverter)
        return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *inPtr = const_cast<char *>(in);
    size_t inLeft = inLength;
    char buffer[4096];
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (a sequence cut off by the end of the input).
        const size_t skip = onInvalid(inPtr, inLeft, out);
        if (skip == 0)
            return false;
        inPtr += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char *outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    return true;
}

void appendUtf32(std::string &out, char32_t c)
{
    char bytes[sizeof c];
    std::memcpy(bytes, &c, sizeof c);
    out.append(bytes, sizeof c);
}

} // namespace

Cp932Codec::Cp932Codec()
    : m_toUtf32(iconv_open(utf32Name(), "CP932"))
    , m_fromUtf32(iconv_open("CP932", utf32Name()))
    , m_fromUtf8(iconv_open("CP932", "UTF-8"))
{
}

Cp932Codec::~Cp932Codec()
{
    for (iconv_t cd : {m_toUtf32, m_fromUtf32, m_fromUtf8}) {
        if (cd != kNoConverter)
            iconv_close(cd);
    }
}

bool Cp932Codec::isValid() const
{
    return m_toUtf32 != kNoConverter && m_fromUtf32 != kNoConverter && m_fromUtf8 != kNoConverter;
}

std::u32string Cp932Codec::decode(std::string_view cp932) const
{
    // MML is mostly ASCII: copy that straight through and hand only the runs of multibyte
    // text to iconv, each cut at a character boundary.
    std::u32string text;
    text.reserve(cp932.size());
    std::string raw;
    size_t pos = 0;
    while (pos < cp932.size()) {
        const auto byte = static_cast<unsigned char>(cp932[pos]);
        if (byte < 0x80) {
            text.push_back(byte);
            ++pos;
            continue;
        }
        const size_t begin = pos;
        while (pos < cp932.size() && static_cast<unsigned char>(cp932[pos]) >= 0x80)
            pos += static_cast<size_t>(cp932CharLength(static_cast<unsigned char>(cp932[pos])));
        pos = std::min(pos, cp932.size());
        raw.clear();
        const bool converted = convert(m_toUtf32, cp932.data() + begin, pos - begin, raw,
                                       [](const char *, size_t, std::string &out) -> size_t {
                                           appendUtf32(out, kInvalid);
                                           return 1;
                                       });
        if (!converted) {
            // No converter: everything beyond ASCII is reported as unreadable.
            text.append(pos - begin, kInvalid);
            continue;
        }
        const size_t count = raw.size() / sizeof(char32_t);
        const size_t at = text.size();
        text.resize(at + count);
        std::memcpy(text.data() + at, raw.data(), count * sizeof(char32_t));
    }
    return text;
}

std::string Cp932Codec::encode(std::u32string_view text) const
{
    std::string out;
    out.reserve(text.size() * 2);
    const bool converted = convert(m_fromUtf32, reinterpret_cast<const char *>(text.data()),
                                   text.size() * sizeof(char32_t), out,
                                   [](const char *, size_t left, std::string &o) -> size_t {
                                       o.push_back('?');
                                       return left < sizeof(char32_t) ? left : sizeof(char32_t);
                                   });
    if (!converted) {
        out.clear();
        for (char32_t c : text)
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::string Cp932Codec::utf8ToCp932(std::string_view utf8) const
{
    std::string out;
    const bool converted = convert(m_fromUtf8, utf8.data(), utf8.size(), out,
                                   [](const char *in, size_t left, std::string &o) -> size_t {
                                       o.push_back('?');
                                       // Skip the whole UTF-8 sequence, not just its first byte.
                                       size_t skip = 1;
                                       while (skip < left && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80)
                                           ++skip;
                                       return skip;
                                   });
    if (!converted) {
        out.clear();
        for (char c : utf8)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
    }
    return out;
}

std::string toUtf8(std::u32string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = U'\uFFFD';
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace sakura
