#include "FontSetup.h"
#include "WindowPlacement.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

#include <gtest/gtest.h>

using namespace tonelark;

namespace {

// Font lookups need a GUI application; the suite runs on the offscreen platform.
class FontSetupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "font-test";
            static char *argv[] = {name, nullptr};
            static QApplication app(argc, argv);
        }
        FontSetup::installJapaneseSubstitutions();
    }

    static bool japaneseFontsInstalled()
    {
        return QFontDatabase::hasFamily(QStringLiteral("IPAGothic")) &&
               QFontDatabase::hasFamily(QStringLiteral("IPAPGothic"));
    }
};

TEST_F(FontSetupTest, WindowsJapaneseFacesResolveToInstalledFaces)
{
    if (!japaneseFontsInstalled())
        GTEST_SKIP() << "fonts-ipafont-gothic is not installed";
    EXPECT_EQ(FontSetup::resolvedFace(QStringLiteral("ＭＳ ゴシック")), QStringLiteral("IPAGothic"));
    EXPECT_EQ(FontSetup::resolvedFace(QStringLiteral("MS Gothic")), QStringLiteral("IPAGothic"));
    EXPECT_EQ(FontSetup::resolvedFace(QStringLiteral("ＭＳ Ｐゴシック")), QStringLiteral("IPAPGothic"));
    EXPECT_EQ(FontSetup::resolvedFace(QStringLiteral("IPAGothic")), QStringLiteral("IPAGothic"));
    EXPECT_EQ(FontSetup::resolvedFace(QStringLiteral("No Such Face 123")), QString());
    // The font a widget really gets follows the substitution, not fontconfig's Latin default.
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("ＭＳ ゴシック"), 9)).family(), QStringLiteral("IPAGothic"));
    // Every mapped name answers with some installed Japanese face.
    for (const FaceSubstitution &entry : FontSetup::japaneseFaceSubstitutions())
        EXPECT_FALSE(FontSetup::resolvedFace(entry.face).isEmpty()) << entry.face.toStdString();
}

TEST_F(FontSetupTest, SubstitutionsAreNotDoubledByASecondCall)
{
    const QStringList before = QFont::substitutes(QStringLiteral("ＭＳ ゴシック"));
    FontSetup::installJapaneseSubstitutions();
    EXPECT_EQ(QFont::substitutes(QStringLiteral("ＭＳ ゴシック")), before);
}

TEST_F(FontSetupTest, PitchProbeMeasuresInsteadOfTrustingTheFontFlags)
{
    if (!japaneseFontsInstalled())
        GTEST_SKIP() << "fonts-ipafont-gothic is not installed";
    // fontconfig calls IPAGothic proportional; its Latin letters are all half-width.
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("IPAGothic")), kPitchFixed);
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("ＭＳ ゴシック")), kPitchFixed);
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("IPAPGothic")), kPitchVariable);
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("ＭＳ Ｐゴシック")), kPitchVariable);
}

TEST_F(FontSetupTest, UnknownGenericOrOverlongFacesGiveZero)
{
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("No Such Face 123")), kPitchUnknownFace);
    // Generic names only ever answer through a fallback.
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("Monospace")), kPitchUnknownFace);
    EXPECT_EQ(FontSetup::probeInfoFontPitch(QString()), kPitchUnknownFace);
    if (japaneseFontsInstalled()) {
        // Cut to 31 characters before the lookup: what is left is no face name.
        EXPECT_EQ(FontSetup::probeInfoFontPitch(QStringLiteral("IPAGothic").leftJustified(40, u'x')),
                  kPitchUnknownFace);
    }
}

TEST_F(FontSetupTest, WindowFontFollowsTheLowByteOfTheFontType)
{
    QFont base(QStringLiteral("DejaVu Sans"), 11);
    base.setBold(true);
    const QFont system = FontSetup::systemUIFont(0);

    const QFont named = FontSetup::windowFont(base, -1, QStringLiteral("IPAPGothic"), 14);
    EXPECT_EQ(named.family(), QStringLiteral("IPAPGothic"));
    EXPECT_EQ(named.pointSize(), 14);
    EXPECT_TRUE(named.bold()); // only face and size change

    for (int type : {4, 255, 0x7FFF04}) {
        EXPECT_EQ(FontSetup::windowFont(base, type, QStringLiteral("IPAPGothic"), 14).family(),
                  QStringLiteral("IPAPGothic"))
            << type;
    }
    for (int type : {0, 0x100, 0x203}) {
        const QFont font = FontSetup::windowFont(base, type, QStringLiteral("IPAPGothic"), 14);
        EXPECT_NE(font.family(), QStringLiteral("IPAPGothic")) << type;
    }
    EXPECT_EQ(FontSetup::windowFont(base, 0, QString(), 0).family(), system.family());
    // A nonsense size keeps the size the window had.
    EXPECT_EQ(FontSetup::windowFont(base, -1, QStringLiteral("IPAGothic"), 0).pointSize(), 11);
}

} // namespace

TEST(WindowPlacement, StoredPlacesAreMovedOntoAScreen)
{
    const QList<QRect> screens{QRect(0, 0, 1024, 740), QRect(1024, 0, 1280, 1024)};
    const QSize window(360, 300);
    const struct {
        QPoint stored;
        QPoint expected;
    } cases[] = {
        {{100, 100}, {100, 100}},        // on the first screen: kept
        {{1500, 600}, {1500, 600}},      // on the second screen: kept
        {{-5000, -5000}, {0, 0}},        // far off to the top left
        {{900, 600}, {664, 440}},        // hanging over the first screen's corner
        {{99999, 500}, {1944, 500}},     // far to the right: onto the nearest screen
        {{1100, 2000000}, {1100, 724}},  // far below
    };
    for (const auto &c : cases)
        EXPECT_EQ(usableWindowPosition(QRect(c.stored, window), screens), c.expected)
            << c.stored.x() << "," << c.stored.y();
    EXPECT_EQ(usableWindowPosition(QRect(QPoint(-5000, 7), window), {}), QPoint(-5000, 7));
    // A screen smaller than the window keeps its top-left corner reachable.
    EXPECT_EQ(usableWindowPosition(QRect(QPoint(50, 50), window), {QRect(0, 0, 200, 200)}), QPoint(0, 0));
}

TEST(WindowPlacement, FontSizesStayUsable)
{
    const QFont huge = FontSetup::windowFont(QFont(), 4, QStringLiteral("IPAGothic"), 5000);
    EXPECT_EQ(huge.pointSize(), kMaxWindowFontSize);
    EXPECT_EQ(FontSetup::windowFont(QFont(), 4, QStringLiteral("IPAGothic"), 1).pointSize(), kMinWindowFontSize);
    EXPECT_EQ(FontSetup::windowFont(QFont(), 4, QStringLiteral("IPAGothic"), 12).pointSize(), 12);
}
