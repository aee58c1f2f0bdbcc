#pragma once

#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

// The window's fonts on this desktop. Songs and settings files written for the original
// platform name Windows Japanese faces ("ＭＳ ゴシック" is the default FontName); fontconfig has
// none of them and would answer with a Latin face, so those names are mapped to installed
// Japanese faces before any window is built.
namespace tonelark {

// InfoFontPitch values: which layout the song information block takes.
enum InfoFontPitch : int {
    kPitchUnknownFace = 0, // the face does not exist: the block stays empty
    kPitchFixed = 1,
    kPitchVariable = 2,
};

// One Windows face name and the installed faces standing in for it, best first.
struct FaceSubstitution {
    QString face;
    QStringList substitutes;
};

class FontSetup {
public:
    // The face names this program maps and what it maps them to.
    static const QList<FaceSubstitution> &japaneseFaceSubstitutions();

    // Registers japaneseFaceSubstitutions() with QFont, each name only with the substitutes
    // that are installed. A name whose own face is installed keeps it (Qt tries the real
    // family before its substitutes). Safe to call more than once.
    static void installJapaneseSubstitutions();

    // The desktop's font of one kind: 0 message boxes, 1 window captions, 2 status bars,
    // 3 menus; any other value the message font. Needs a QApplication.
    static QFont systemUIFont(int uiFontType);

    // The window font the settings ask for: with the low byte of uiFontType below 4 the face
    // and size of systemUIFont(uiFontType), otherwise fontName at fontSize points. Only face
    // and size of `base` change.
    static QFont windowFont(const QFont &base, int uiFontType, const QString &fontName,
                            int fontSize);

    // The installed face that answers for `face` (itself or its first installed substitute),
    // or an empty string when only a generic fallback would.
    static QString resolvedFace(const QString &face);

    // InfoFontPitch of a face name: the name is cut to 31 characters (the length the
    // original enumeration accepted), then kPitchUnknownFace when no installed face answers
    // for it, kPitchFixed when the Latin letters and digits all advance equally, else
    // kPitchVariable. Measured rather than asked: fontconfig reports CJK faces with
    // half-width Latin letters (IPAGothic) as proportional.
    static int probeInfoFontPitch(const QString &face);

    // Whether the glyphs of letters and digits of `face` all have the same advance.
    static bool hasUniformLatinAdvance(const QString &face);
};

} // namespace tonelark
