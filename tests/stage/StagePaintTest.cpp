// The stage drawn into an image with a real face: the wipe's colour stands where the song
// is, and a wipe step repaints only the strip it moved over.
#include "SmfTempo.h"
#include "StageScene.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace tonelark;

namespace {

class StagePaintTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "stage-test";
            static char *argv[] = {name, nullptr};
            static QApplication app(argc, argv);
        }
    }

    // "さくら" sung さ く ら at beats 0, 1, 2 (500 ms each), then "弥生" with its reading.
    static StageScene scene(QSize size)
    {
        StageSong song;
        StageLine first;
        first.syllables = {{0, QStringLiteral("さ")}, {480, QStringLiteral("く")}, {960, QStringLiteral("ら")}};
        first.endTick = 1440;
        StageLine second;
        second.syllables = {{1920, QStringLiteral("弥生")}};
        second.rubies.push_back({0, 2, {{1920, QStringLiteral("や")}, {2400, QStringLiteral("よ")}, {2640, QStringLiteral("い")}}});
        second.endTick = 2880;
        song.lines = {first, second};
        TSmfEventTempoList tempo(480);
        tempo.Add(TSmfEventTempo(0, 500000));
        StageScene scene;
        scene.setSong(song, &tempo);
        scene.setGeometry(size, QFont(QStringLiteral("Noto Sans CJK JP")));
        return scene;
    }

    static QImage paint(const StageScene &scene, const StageTheme &theme, double ms)
    {
        QImage image(scene.size(), QImage::Format_RGB32);
        QPainter painter(&image);
        scene.paint(painter, theme, ms, image.rect());
        return image;
    }

    // Whether any pixel of `area` is within a small distance of `color`.
    static bool holds(const QImage &image, const QRect &area, const QColor &color)
    {
        const QRect inside = area & image.rect();
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (qAbs(pixel.red() - color.red()) + qAbs(pixel.green() - color.green()) +
                        qAbs(pixel.blue() - color.blue()) < 24)
                    return true;
            }
        }
        return false;
    }
};

} // namespace

TEST_F(StagePaintTest, TheSungColourStandsWhereTheSongIs)
{
    const StageScene stage = scene(QSize(960, 540));
    const StageTheme theme = stageTheme(StageThemeKind::Dark, {}, {}, {});
    // Half-way through "く" (750 ms): さ sung, the left half of く sung, ら still to come.
    const QImage image = paint(stage, theme, 750);
    const StageLineLayout &layout = stage.layout(0);
    const QRect sa = layout.syllables[0].bounds().toRect();
    const QRect ku = layout.syllables[1].bounds().toRect();
    const QRect ra = layout.syllables[2].bounds().toRect();
    EXPECT_TRUE(holds(image, sa, theme.sung));
    EXPECT_FALSE(holds(image, sa.adjusted(2, 0, -2, 0), theme.unsung));
    EXPECT_TRUE(holds(image, ku.adjusted(0, 0, -ku.width() / 2 - 2, 0), theme.sung));
    EXPECT_FALSE(holds(image, ku.adjusted(ku.width() / 2 + 2, 0, 0, 0), theme.sung));
    EXPECT_TRUE(holds(image, ra, theme.unsung));
    EXPECT_FALSE(holds(image, ra, theme.sung));

    // The reading's first kana (2000..2500 ms) is half sung at 2250 ms, the next waits.
    const QImage reading = paint(stage, theme, 2250);
    const std::vector<StageWipeBoxes> &kana = stage.layout(1).kana[0];
    ASSERT_EQ(kana.size(), 3u);
    EXPECT_TRUE(holds(reading, kana[0].bounds().toRect(), theme.sung));
    EXPECT_FALSE(holds(reading, kana[1].bounds().toRect(), theme.sung));
    // A line sung is dimmed.
    const QImage after = paint(stage, theme, 1600);
    EXPECT_FALSE(holds(after, sa, theme.sung));
    EXPECT_TRUE(holds(after, sa, theme.dimmed));
}

TEST_F(StagePaintTest, AWipeStepRepaintsItsStripAndAPauseNothing)
{
    const StageScene stage = scene(QSize(1920, 1080));
    const QRect window(QPoint(0, 0), stage.size());
    EXPECT_TRUE(stage.damage(750, 750).isEmpty());
    // One frame of the wipe inside "く".
    const QRegion step = stage.damage(750, 767);
    ASSERT_FALSE(step.isEmpty());
    qint64 area = 0;
    for (const QRect &rect : step)
        area += qint64(rect.width()) * rect.height();
    EXPECT_LT(area, qint64(window.width()) * window.height() / 100);
    const StageLineLayout &layout = stage.layout(0);
    const QRectF ku = layout.syllables[1].bounds();
    EXPECT_TRUE(step.contains(QPoint(int(ku.left() + ku.width() * 0.51), int(ku.center().y()))));
    // A seek far away repaints the slots whose lines changed, not less.
    const QRegion seek = stage.damage(750, 100000);
    EXPECT_TRUE(seek.contains(layout.syllables[1].bounds().center().toPoint()));
    // A click on a shown line names it.
    EXPECT_EQ(stage.lineAt(layout.slot.center(), 750), 0);
}

TEST_F(StagePaintTest, ASongWithoutLyricsShowsItsTitleAndSaysSo)
{
    StageScene empty;
    StageSong song;
    song.title = QStringLiteral("Twinkle");
    empty.setSong(song, nullptr);
    empty.setGeometry(QSize(640, 360), QFont(QStringLiteral("Noto Sans CJK JP")));
    const StageTheme theme = stageTheme(StageThemeKind::LyricColors, Qt::white, QColor(0x66, 0x99, 0xFF), Qt::black);
    const QImage image = paint(empty, theme, 0);
    EXPECT_TRUE(holds(image, image.rect(), theme.title));
    EXPECT_TRUE(empty.timeline().isEmpty());
}
