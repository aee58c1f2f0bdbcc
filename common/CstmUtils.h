#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Text helpers shared by the whole program: the 8-bit code page of song texts, saved
// lyrics and the settings file (CP932 on this platform), and the number formats of the
// time panel, the song information and the seek dialog.
namespace tonelark {

// Decodes CP932 bytes. Never fails: each byte that cannot be decoded becomes U+FFFD and
// decoding resumes at the next byte.
QString ansiToUnicode(QByteArrayView bytes);

// Encodes to CP932. Never fails: each character CP932 cannot hold becomes '?'.
QByteArray unicodeToAnsi(QStringView text);

// True when every byte decodes as CP932 (ansiToUnicode would put no U+FFFD in).
bool isValidAnsi(QByteArrayView bytes);

// The length of the well-formed UTF-8 sequence starting at bytes[at] (1 for ASCII), or 0
// when none starts there.
int utf8SequenceLength(QByteArrayView bytes, qsizetype at);

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no sequence cut short.
bool isValidUtf8(QByteArrayView bytes);

// The index of the first character of text that CP932 cannot hold (the first unit of a
// surrogate pair), or -1 when unicodeToAnsi would keep every character.
qsizetype firstNonAnsiCharacter(QStringView text);

// The text without the characters U+0000..U+0020 at both ends (blanks and control codes).
QString trimControlAndSpace(QStringView text);

// A value cut toward zero into int, saturating at the ends of the range.
int clampToInt(long double value);

// "%.2d:%.2d" of a millisecond count: minutes (not wrapped at 60) and seconds, both by
// truncating division.
QString formatMinutesSeconds(qint64 milliseconds);

// "%d / %d", the tick display of the time panel.
QString formatTickPair(qint64 tick, qint64 totalTick);

// "%8d": right-aligned in eight columns.
QString formatWidth8(qint64 value);

} // namespace tonelark
