#include "TextEncoding.h"

#include "CstmUtils.h"

#include <algorithm>

namespace tonelark {

QString textEncodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Cp932:
        return QStringLiteral("cp932");
    case TextEncoding::Utf8:
        return QStringLiteral("utf8");
    case TextEncoding::Cp1252:
        return QStringLiteral("cp1252");
    case TextEncoding::Auto:
        break;
    }
    return QStringLiteral("auto");
}

std::optional<TextEncoding> textEncodingFromName(QStringView name)
{
    for (TextEncoding e : {TextEncoding::Auto, TextEncoding::Cp932, TextEncoding::Utf8, TextEncoding::Cp1252})
        if (name == textEncodingName(e))
            return e;
    return std::nullopt;
}

QString cp1252ToUnicode(QByteArrayView bytes)
{
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t(byte));
    }
    return text;
}

QString decodeText(QByteArrayView bytes, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return QString::fromUtf8(bytes);
    case TextEncoding::Cp1252:
        return cp1252ToUnicode(bytes);
    case TextEncoding::Auto:
    case TextEncoding::Cp932:
        break;
    }
    return ansiToUnicode(bytes);
}

LanguageTag karaokeLanguageTag(QByteArrayView tagText)
{
    const QByteArray tag = tagText.trimmed().toByteArray().toUpper();
    if (tag.isEmpty())
        return LanguageTag::None;
    return tag.startsWith("JA") || tag.startsWith("JP") ? LanguageTag::Japanese : LanguageTag::Other;
}

LanguageTag xfLanguageTag(QByteArrayView language)
{
    const QByteArray tag = language.trimmed().toByteArray().toUpper();
    if (tag.isEmpty())
        return LanguageTag::None;
    return tag == "JP" ? LanguageTag::Japanese : LanguageTag::Other;
}

void EncodingSignals::addText(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return;
    nonAscii = true;
    utf8Valid = utf8Valid && isValidUtf8(bytes);
    cp932Valid = cp932Valid && isValidAnsi(bytes);
    if (!cp932Hiragana) {
        const QString reading = ansiToUnicode(bytes);
        cp932Hiragana = std::any_of(reading.begin(), reading.end(),
                                    [](QChar c) { return c.unicode() >= 0x3041 && c.unicode() <= 0x3096; });
    }
}

TextEncoding chooseTextEncoding(const EncodingSignals &s)
{
    // Every reading of ASCII is the same.
    if (!s.nonAscii)
        return TextEncoding::Cp932;
    // Any non-ASCII UTF-8 that is well-formed holds a multi-byte sequence.
    const bool utf8 = s.utf8Valid;
    switch (s.tag) {
    case LanguageTag::Japanese:
        if (s.cp932Valid)
            return TextEncoding::Cp932;
        return utf8 ? TextEncoding::Utf8 : TextEncoding::Cp932;
    case LanguageTag::Other:
        if (utf8)
            return TextEncoding::Utf8;
        // Japanese words under an authoring tool's default tag.
        return s.cp932Hiragana ? TextEncoding::Cp932 : TextEncoding::Cp1252;
    case LanguageTag::None:
        break;
    }
    if (utf8)
        return s.cp932Valid && s.cp932Hiragana ? TextEncoding::Cp932 : TextEncoding::Utf8;
    if (s.cp932Valid || s.cp932Hiragana)
        return TextEncoding::Cp932;
    return TextEncoding::Cp1252;
}

} // namespace tonelark
