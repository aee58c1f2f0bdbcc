#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace tonelark {

// How a song's 8-bit texts are read. Auto asks the song (chooseTextEncoding); the others are
// the user's choice and apply to every text of the song, XF chunks included.
enum class TextEncoding { Auto, Cp932, Utf8, Cp1252 };

// "auto", "cp932", "utf8", "cp1252": the names of the command line and the state file.
QString textEncodingName(TextEncoding encoding);
std::optional<TextEncoding> textEncodingFromName(QStringView name);

// The bytes read in encoding (Auto reads CP932). Never fails: what cannot be decoded becomes
// U+FFFD.
QString decodeText(QByteArrayView bytes, TextEncoding encoding);

// Windows-1252: Latin-1 with the printable characters Windows puts at 0x80..0x9F; the five
// bytes it leaves unassigned (81, 8D, 8F, 90, 9D) read as the C1 controls, as Windows does.
QString cp1252ToUnicode(QByteArrayView bytes);

// What the song says about its language: the karaoke "@L" tag ("@LENGL", "@LJAPA"), else the
// XF language ($Lyrc's, else XFln's: "JP", "L1", …).
enum class LanguageTag { None, Japanese, Other };
LanguageTag karaokeLanguageTag(QByteArrayView tagText); // the bytes after "@L"
LanguageTag xfLanguageTag(QByteArrayView language);

// The signals of a song's texts, gathered text by text (see docs/ENCODINGS.md).
struct EncodingSignals {
    LanguageTag tag = LanguageTag::None;
    bool nonAscii = false;    // some byte is 0x80 or above
    bool utf8Valid = true;    // every text is well-formed UTF-8
    bool cp932Valid = true;   // every text decodes as CP932
    bool cp932Hiragana = false; // the CP932 reading holds hiragana

    void addText(QByteArrayView bytes);
};

// The decision table of docs/ENCODINGS.md; never Auto.
TextEncoding chooseTextEncoding(const EncodingSignals &song);

} // namespace tonelark
