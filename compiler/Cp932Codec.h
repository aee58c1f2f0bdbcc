#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace sakura {

// Converts between the 8-bit CP932 text that crosses the library boundary and the UTF-32
// the compiler reads. Holds its iconv descriptors for one compile, so a source with
// thousands of lyric lines opens them once.
class Cp932Codec
{
public:
    // Stands in for each byte that is not valid CP932; CP932 itself never decodes to it.
    static constexpr char32_t kInvalid = U'\uFFFD';

    Cp932Codec();
    ~Cp932Codec();
    Cp932Codec(const Cp932Codec &) = delete;
    Cp932Codec &operator=(const Cp932Codec &) = delete;

    // False when the C library lacks a CP932 converter; every conversion then fails soft.
    bool isValid() const;

    // Never fails: each undecodable byte becomes kInvalid and decoding goes on after it.
    std::u32string decode(std::string_view cp932) const;
    // Characters without a CP932 form become '?'.
    std::string encode(std::u32string_view text) const;
    // For the compiler's own UTF-8 message texts.
    std::string utf8ToCp932(std::string_view utf8) const;

private:
    iconv_t m_toUtf32;
    iconv_t m_fromUtf32;
    iconv_t m_fromUtf8;
};

// UTF-32 to UTF-8 for message texts; needs no converter.
std::string toUtf8(std::u32string_view text);

// Length in bytes of the CP932 character that starts with this byte (1 or 2).
inline int cp932CharLength(unsigned char lead)
{
    return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
}

} // namespace sakura
