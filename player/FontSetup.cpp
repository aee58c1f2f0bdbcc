#include "FontSetup.h"

#include "WindowPlacement.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHash>

namespace tonelark {

namespace {

const QString kIpaGothic = QStringLiteral("IPAGothic");
const QString kIpaPGothic = QStringLiteral("IPAPGothic");
const QString kIpaMincho = QStringLiteral("IPAMincho");
const QString kIpaPMincho = QStringLiteral("IPAPMincho");
const QString kNotoSans = QStringLiteral("Noto Sans CJK JP");
const QString kNotoSansMono = QStringLiteral("Noto Sans Mono CJK JP");
const QString kNotoSerif = QStringLiteral("Noto Serif CJK JP");

// Face names as the original platform's settings files and dialogs write them.
QList<FaceSubstitution> buildSubstitutions()
{
    const QStringList gothic{kIpaGothic, kNotoSansMono};
    const QStringList pgothic{kIpaPGothic, kNotoSans};
    const QStringList mincho{kIpaMincho, kNotoSerif};
    const QStringList pmincho{kIpaPMincho, kNotoSerif};
    const QStringList modern{kNotoSans, kIpaPGothic};
    const QStringList modernSerif{kNotoSerif, kIpaPMincho};
    return {
        {QStringLiteral("ＭＳ ゴシック"), gothic},
        {QStringLiteral("MS Gothic"), gothic},
        {QStringLiteral("ＭＳ Ｐゴシック"), pgothic},
        {QStringLiteral("MS PGothic"), pgothic},
        {QStringLiteral("MS UI Gothic"), pgothic},
        {QStringLiteral("ＭＳ 明朝"), mincho},
        {QStringLiteral("MS Mincho"), mincho},
        {QStringLiteral("ＭＳ Ｐ明朝"), pmincho},
        {QStringLiteral("MS PMincho"), pmincho},
        {QStringLiteral("メイリオ"), modern},
        {QStringLiteral("Meiryo"), modern},
        {QStringLiteral("Meiryo UI"), modern},
        {QStringLiteral("游ゴシック"), modern},
        {QStringLiteral("Yu Gothic"), modern},
        {QStringLiteral("Yu Gothic UI"), modern},
        {QStringLiteral("游明朝"), modernSerif},
        {QStringLiteral("Yu Mincho"), modernSerif},
    };
}

// The maximum face name length of the original font enumeration (LF_FACESIZE - 1).
constexpr int kProbeFaceLength = 31;

// The installed families, in lower case and without a foundry, for a cheap first answer:
// QFontDatabase::hasFamily() runs fontconfig's substitution rules for every name it is asked
// (over a million instructions each), and the window's start asked over thirty names.
class InstalledFamilies {
public:
    InstalledFamilies()
    {
        for (const QString &family : QFontDatabase::families()) {
            const qsizetype foundry = family.indexOf(QLatin1String(" ["));
            const QString name = foundry < 0 ? family : family.left(foundry);
            m_spellings.insert(name.toLower(), name);
        }
    }

    // Whether `family` (a real family's name, not a generic one) answers as itself: a name not
    // installed under its own spelling may still be an alias that fontconfig resolves, so only
    // that case takes the full query.
    bool has(const QString &family) const
    {
        return m_spellings.contains(family.toLower()) || QFontDatabase::hasFamily(family);
    }

    // The family's own spelling, or an empty string when it is not installed under that name.
    QString spelling(const QString &family) const { return m_spellings.value(family.toLower()); }

private:
    QHash<QString, QString> m_spellings;
};

} // namespace

const QList<FaceSubstitution> &FontSetup::japaneseFaceSubstitutions()
{
    static const QList<FaceSubstitution> table = buildSubstitutions();
    return table;
}

void FontSetup::installJapaneseSubstitutions()
{
    const InstalledFamilies families;
    for (const FaceSubstitution &entry : japaneseFaceSubstitutions()) {
        QStringList installed;
        for (const QString &substitute : entry.substitutes) {
            if (families.has(substitute))
                installed << substitute;
        }
        // Replace rather than append, so a second call does not double the list.
        QFont::removeSubstitutions(entry.face);
        if (!installed.isEmpty())
            QFont::insertSubstitutions(entry.face, installed);
    }
}

QFont FontSetup::systemUIFont(int uiFontType)
{
    switch (uiFontType) {
    case 1:
        return QFontDatabase::systemFont(QFontDatabase::TitleFont);
    case 2:
        return QApplication::font("QStatusBar");
    case 3:
        return QApplication::font("QMenu");
    default:
        return QApplication::font("QMessageBox");
    }
}

QFont FontSetup::windowFont(const QFont &base, int uiFontType, const QString &fontName,
                            int fontSize)
{
    QFont font = base;
    if ((uiFontType & 0xFF) < 4) {
        const QFont system = systemUIFont(uiFontType);
        font.setFamilies({system.family()});
        if (system.pixelSize() > 0)
            font.setPixelSize(system.pixelSize());
        else
            font.setPointSizeF(system.pointSizeF());
    } else {
        font.setFamilies({fontName});
        // A size of 0 or less has no meaning as points; the font keeps its size then. Other
        // sizes are kept within what leaves the fixed-size window usable.
        if (fontSize > 0)
            font.setPointSize(usableFontSize(fontSize));
    }
    return font;
}

QString FontSetup::resolvedFace(const QString &face)
{
    if (face.isEmpty())
        return {};
    // The name itself takes the full query: Qt lists its generic names ("Monospace") among the
    // families, yet they only ever answer through a fallback.
    if (QFontDatabase::hasFamily(face))
        return face;
    const InstalledFamilies families;
    for (const QString &substitute : QFont::substitutes(face)) {
        // Qt keeps substitutes in lower case; the font itself knows its family's spelling.
        if (const QString spelling = families.spelling(substitute); !spelling.isEmpty())
            return spelling;
        if (families.has(substitute))
            return QFontInfo(QFont(substitute)).family();
    }
    return {};
}

bool FontSetup::hasUniformLatinAdvance(const QString &face)
{
    QFont font(face);
    // A large size keeps hinting from making unequal widths round to the same pixel.
    font.setPixelSize(48);
    font.setHintingPreference(QFont::PreferNoHinting);
    const QFontMetricsF metrics(font);
    static const QString kSample = QStringLiteral(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    const qreal first = metrics.horizontalAdvance(kSample.at(0));
    for (QChar ch : kSample) {
        if (qAbs(metrics.horizontalAdvance(ch) - first) > 0.01)
            return false;
    }
    return first > 0;
}

int FontSetup::probeInfoFontPitch(const QString &face)
{
    const QString actual = resolvedFace(face.left(kProbeFaceLength));
    if (actual.isEmpty())
        return kPitchUnknownFace;
    return hasUniformLatinAdvance(actual) ? kPitchFixed : kPitchVariable;
}

} // namespace tonelark
