#include "Gauges.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using namespace tonelark;

namespace {

const QColor kFore(255, 0, 0);
const QColor kBack(255, 255, 255);
const QColor kFrame(0, 0, 255);

// The seek bar as the window sets it up: 329 × 13, single border, no text.
GaugeLook seekBarLook(int progress, int maxValue, int medValue)
{
    GaugeLook look;
    look.maxValue = maxValue;
    look.curValue = progress;
    look.medValue = medValue;
    look.showText = false;
    look.foreColor = kFore;
    look.backColor = kBack;
    look.frameColor = kFrame;
    return look;
}

// The expected seek bar, built pixel by pixel from the worked example's coordinates.
QImage expectedSeekBar(int barEnd, int edgeX, int markerX)
{
    QImage image(329, 13, QImage::Format_RGB32);
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 329; ++x) {
            QColor c = kBack;
            if (x == 0 || x == 328 || y == 0 || y == 12)
                c = kFrame;
            else if (x <= barEnd)
                c = kFore;
            image.setPixelColor(x, y, c);
        }
    }
    if (edgeX >= 0)
        for (int y = 1; y <= 11; ++y)
            image.setPixelColor(edgeX, y, kFrame);
    if (markerX >= 0)
        for (int y = 9; y <= 11; ++y)
            image.setPixelColor(markerX, y, kFrame);
    return image;
}

QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size differs");
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("(%1, %2): %3 instead of %4")
                    .arg(x).arg(y)
                    .arg(actual.pixelColor(x, y).name(), expected.pixelColor(x, y).name());
    return {};
}

int countPixels(const QImage &image, QColor color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == color;
    return n;
}

// Counts paint events reaching a widget.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class GaugeTest : public QObject {
    Q_OBJECT

private slots:
    void scaleByPercent_data();
    void scaleByPercent();
    void scaleByPercentOnTheSeekBarIsExactForEveryWholePercent();
    void percentOf_data();
    void percentOf();
    void percentDoneOverTheFullIntegerRange();

    void defaults();
    void progressIsClamped();
    void rangeChangesPullTheValue();
    void rangeCrossingThrowsAndKeepsTheValue();
    void loadingAcceptsACrossedRange();
    void addProgressSaturates();

    void workedExampleHalfWayWithMarker();
    void fullBarPutsTheEdgeOnTheFrame();
    void emptyRangeDrawsAnEmptyBar();
    void markerOnlyInsideTheRange_data();
    void markerOnlyInsideTheRange();
    void repeatMarksLikeTheMarkerKeptInsideTheFrame();
    void noBorderFillsFromTheLeftEdge();
    void verticalBarFillsFromTheBottom();
    void otherKindsDraw();
    void textInvertsWhatLiesBeneath();

    void repaintsOnlyOnVisibleChanges();
    void mouseEventsBecomeSignals();
    void colourValues();
};

void GaugeTest::scaleByPercent_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("z");
    QTest::addColumn<int>("expected");
    // The extended 0.01 lies below a hundredth: these whole products come out one lower.
    QTest::newRow("5 of 100") << 5 << 100 << 4;
    QTest::newRow("10 of 100") << 10 << 100 << 9;
    QTest::newRow("99 of 100") << 99 << 100 << 98;
    QTest::newRow("53 of 200") << 53 << 200 << 105;
    QTest::newRow("33 of 1000") << 33 << 1000 << 329;
    // ... and these do not.
    QTest::newRow("0 of 100") << 0 << 100 << 0;
    QTest::newRow("1 of 100") << 1 << 100 << 1;
    QTest::newRow("50 of 100") << 50 << 100 << 50;
    QTest::newRow("100 of 100") << 100 << 100 << 100;
    QTest::newRow("50 of 328") << 50 << 328 << 164;
    QTest::newRow("33 of 328") << 33 << 328 << 108;
    QTest::newRow("100 of 328") << 100 << 328 << 328;
    QTest::newRow("negative z truncates toward zero") << 50 << -3 << -1;
}

void GaugeTest::scaleByPercent()
{
    QFETCH(int, percent);
    QFETCH(int, z);
    QFETCH(int, expected);
    QCOMPARE(ScaleByPercent(percent, z), expected);
}

void GaugeTest::scaleByPercentOnTheSeekBarIsExactForEveryWholePercent()
{
    for (int p = 0; p <= 100; ++p)
        QCOMPARE(ScaleByPercent(p, 328), p * 328 / 100);
}

void GaugeTest::percentOf_data()
{
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero range") << qint64(5) << qint64(0) << 0;
    QTest::newRow("third") << qint64(1) << qint64(3) << 33;
    QTest::newRow("two thirds truncates") << qint64(2) << qint64(3) << 66;
    QTest::newRow("just below whole") << qint64(99999) << qint64(100000) << 99;
    QTest::newRow("all") << qint64(7) << qint64(7) << 100;
    QTest::newRow("negative truncates toward zero") << qint64(-1) << qint64(3) << -33;
}

void GaugeTest::percentOf()
{
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(int, expected);
    QCOMPARE(PercentOf(a, b), expected);
}

void GaugeTest::percentDoneOverTheFullIntegerRange()
{
    // Max − Min does not fit 32 bits here; a wrapped difference would give nonsense.
    TGauge gauge;
    gauge.setMaxValue(2147483647);
    gauge.setMinValue(-2147483647);
    gauge.setProgress(0);
    QCOMPARE(gauge.PercentDone(), 50);
    gauge.setProgress(2147483647);
    QCOMPARE(gauge.PercentDone(), 100);
}

void GaugeTest::defaults()
{
    TGauge gauge;
    QCOMPARE(gauge.minValue(), 0);
    QCOMPARE(gauge.maxValue(), 100);
    QCOMPARE(gauge.progress(), 0);
    QCOMPARE(gauge.medValue(), 0);
    QCOMPARE(gauge.kind(), gkHorizontalBar);
    QVERIFY(gauge.showText());
    QCOMPARE(gauge.borderStyle(), bsSingle);
    QCOMPARE(gauge.foreColor(), clBlack);
    QCOMPARE(gauge.backColor(), clWhite);
    QCOMPARE(gauge.frameColor(), clWindowFrame);
    QCOMPARE(gauge.size(), QSize(100, 100));
}

void GaugeTest::progressIsClamped()
{
    TGauge gauge;
    gauge.setMinValue(10);
    gauge.setMaxValue(20);
    gauge.setProgress(5);
    QCOMPARE(gauge.progress(), 10);
    gauge.setProgress(25);
    QCOMPARE(gauge.progress(), 20);
    gauge.setProgress(15);
    QCOMPARE(gauge.progress(), 15);
    QCOMPARE(gauge.PercentDone(), 50);
}

void GaugeTest::rangeChangesPullTheValue()
{
    TGauge gauge;
    gauge.setProgress(80);
    gauge.setMaxValue(50);
    QCOMPARE(gauge.progress(), 50);
    gauge.setMinValue(40);
    gauge.setProgress(45);
    gauge.setMinValue(48);
    QCOMPARE(gauge.progress(), 48);
    // MedValue is not clamped.
    gauge.setMedValue(1000);
    QCOMPARE(gauge.medValue(), 1000);
    // Maximum equal to minimum: the percentage is 0.
    gauge.setMaxValue(48);
    QCOMPARE(gauge.PercentDone(), 0);
}

void GaugeTest::rangeCrossingThrowsAndKeepsTheValue()
{
    TGauge gauge;
    try {
        gauge.setMinValue(101);
        QFAIL("no exception");
    } catch (const EInvalidOperation &e) {
        QCOMPARE(e.message(), QStringLiteral("値は -2147483647 から 99 までの間でなければなりません"));
    }
    QCOMPARE(gauge.minValue(), 0);

    gauge.setMinValue(5);
    try {
        gauge.setMaxValue(4);
        QFAIL("no exception");
    } catch (const EInvalidOperation &e) {
        QCOMPARE(e.message(), QStringLiteral("値は 6 から 2147483647 までの間でなければなりません"));
    }
    QCOMPARE(gauge.maxValue(), 100);

    // The bounds may meet.
    gauge.setMaxValue(5);
    QCOMPARE(gauge.maxValue(), 5);

    // The message's arithmetic must not overflow at the ends of the integer range.
    TGauge wide;
    wide.setMinValue(-2147483647 - 1);
    wide.setMaxValue(-2147483647 - 1);
    QVERIFY_THROWS_EXCEPTION(EInvalidOperation, wide.setMinValue(0));
    try {
        wide.setMinValue(0);
    } catch (const EInvalidOperation &e) {
        QCOMPARE(e.message(), QStringLiteral("値は -2147483647 から -2147483649 までの間でなければなりません"));
    }
}

void GaugeTest::loadingAcceptsACrossedRange()
{
    TGauge gauge;
    gauge.setLoading(true);
    gauge.setMinValue(200);
    gauge.setMaxValue(300);
    gauge.setLoading(false);
    QCOMPARE(gauge.minValue(), 200);
    QCOMPARE(gauge.maxValue(), 300);
    QCOMPARE(gauge.progress(), 200);
}

void GaugeTest::addProgressSaturates()
{
    TGauge gauge;
    gauge.setMaxValue(2147483647);
    gauge.setProgress(2147483640);
    gauge.addProgress(100);
    QCOMPARE(gauge.progress(), 2147483647);
    gauge.addProgress(-2147483647);
    QCOMPARE(gauge.progress(), 0);
}

void GaugeTest::workedExampleHalfWayWithMarker()
{
    const QImage image = renderGauge(seekBarLook(50, 100, 33), QSize(329, 13));
    // Bar x 1..163, edge line x = 164, marker x = 108 from y 9.
    QCOMPARE(firstDifference(image, expectedSeekBar(163, 164, 108)), QString());
}

void GaugeTest::fullBarPutsTheEdgeOnTheFrame()
{
    const QImage image = renderGauge(seekBarLook(100, 100, 0), QSize(329, 13));
    QCOMPARE(firstDifference(image, expectedSeekBar(327, 328, -1)), QString());
}

void GaugeTest::emptyRangeDrawsAnEmptyBar()
{
    // MaxValue 0 as the window starts: no bar, no edge line.
    QCOMPARE(firstDifference(renderGauge(seekBarLook(0, 0, 0), QSize(329, 13)), expectedSeekBar(0, -1, -1)),
             QString());
    // 5 % of a 100-pixel-wide area lands one pixel short.
    GaugeLook look = seekBarLook(5, 100, 0);
    const QImage image = renderGauge(look, QSize(101, 13));
    QCOMPARE(image.pixelColor(3, 5), kFore);
    QCOMPARE(image.pixelColor(4, 5), kFrame);
}

void GaugeTest::markerOnlyInsideTheRange_data()
{
    QTest::addColumn<int>("medValue");
    QTest::addColumn<int>("markerX");
    QTest::newRow("no loop point") << -1 << -1;
    QTest::newRow("zero") << 0 << -1;
    QTest::newRow("at the maximum") << 1000 << -1;
    QTest::newRow("beyond the maximum") << 1500 << -1;
    QTest::newRow("one third, on a whole percent") << 339 << 108;
    QTest::newRow("just inside") << 999 << 324;
}

void GaugeTest::markerOnlyInsideTheRange()
{
    QFETCH(int, medValue);
    QFETCH(int, markerX);
    // Progress 0: the bar is empty, so only the marker differs from the background.
    const QImage image = renderGauge(seekBarLook(0, 1000, medValue), QSize(329, 13));
    QCOMPARE(firstDifference(image, expectedSeekBar(0, -1, markerX)), QString());
}

void GaugeTest::repeatMarksLikeTheMarkerKeptInsideTheFrame()
{
    struct Case {
        int start, end;
        int startX, endX; // -1: no mark
    };
    // 33 % and 66 % of 1000 land on whole percentages like the marker; the song's two ends
    // stay inside the frame; outside the range there is no mark.
    for (const Case &c : {Case{330, 660, 108, 216}, Case{0, 1000, 1, 327}, Case{-1, 1001, -1, -1}}) {
        GaugeLook look = seekBarLook(0, 1000, 0);
        look.repeatStart = c.start;
        look.repeatEnd = c.end;
        QImage expected = expectedSeekBar(0, -1, c.startX);
        if (c.endX >= 0)
            for (int y = 9; y <= 11; ++y)
                expected.setPixelColor(c.endX, y, kFrame);
        QCOMPARE(firstDifference(renderGauge(look, QSize(329, 13)), expected), QString());
    }
}

void GaugeTest::noBorderFillsFromTheLeftEdge()
{
    GaugeLook look = seekBarLook(50, 100, 0);
    look.borderStyle = bsNone;
    const QImage image = renderGauge(look, QSize(100, 10));
    // No frame: W = 101, the bar ends at 50 and the edge line stands there.
    QCOMPARE(image.pixelColor(0, 0), kFore);
    QCOMPARE(image.pixelColor(49, 9), kFore);
    QCOMPARE(image.pixelColor(50, 0), kFrame);
    QCOMPARE(image.pixelColor(51, 0), kBack);
    QCOMPARE(image.pixelColor(99, 9), kBack);
}

void GaugeTest::verticalBarFillsFromTheBottom()
{
    GaugeLook look = seekBarLook(50, 100, 33);
    look.kind = gkVerticalBar;
    const QImage image = renderGauge(look, QSize(20, 22));
    // Inside 1..18 × 1..20, H = R − T + 1 = 21: half is 10 rows, y 11..20.
    QCOMPARE(image.pixelColor(5, 10), kBack);
    QCOMPARE(image.pixelColor(5, 11), kFore);
    QCOMPARE(image.pixelColor(18, 20), kFore);
    QCOMPARE(image.pixelColor(0, 15), kFrame);
    QCOMPARE(image.pixelColor(19, 15), kFrame);
    // No marker and no edge line.
    QCOMPARE(countPixels(image, kFrame), 2 * 20 + 2 * 22 - 4);
    // Full: one row less than H, which still covers the whole inside.
    look.curValue = 100;
    const QImage full = renderGauge(look, QSize(20, 22));
    QCOMPARE(full.pixelColor(5, 1), kFore);
    look.curValue = 0;
    QCOMPARE(countPixels(renderGauge(look, QSize(20, 22)), kFore), 0);
}

void GaugeTest::otherKindsDraw()
{
    for (TGaugeKind kind : {gkText, gkPie, gkNeedle}) {
        GaugeLook look = seekBarLook(0, 100, 0);
        look.kind = kind;
        look.color = QColor(0, 128, 0);
        const QImage empty = renderGauge(look, QSize(60, 60));
        look.curValue = 50;
        const QImage half = renderGauge(look, QSize(60, 60));
        QVERIFY2(countPixels(empty, kBack) > 0, qPrintable(QString::number(kind)));
        if (kind == gkText) {
            QCOMPARE(empty, half); // text kind without text: the back colour only
            QCOMPARE(countPixels(empty, kBack), 58 * 58);
        } else {
            // The percentage shows as foreground-coloured pixels that the empty one lacks.
            QVERIFY2(countPixels(half, kFore) > countPixels(empty, kFore) + 20,
                     qPrintable(QString::number(kind)));
            QVERIFY(countPixels(empty, look.color) > 0);
        }
    }
    // The pie grows clockwise from twelve o'clock: at 50 % the right half is filled.
    GaugeLook look = seekBarLook(50, 100, 0);
    look.kind = gkPie;
    const QImage pie = renderGauge(look, QSize(61, 61));
    QCOMPARE(pie.pixelColor(45, 30), kFore);
    QCOMPARE(pie.pixelColor(15, 30), kBack);
    look.curValue = 25;
    const QImage quarter = renderGauge(look, QSize(61, 61));
    QCOMPARE(quarter.pixelColor(45, 15), kFore);
    QCOMPARE(quarter.pixelColor(45, 45), kBack);
}

void GaugeTest::textInvertsWhatLiesBeneath()
{
    GaugeLook look = seekBarLook(50, 100, 0);
    look.showText = true;
    look.font = QFont(QStringLiteral("DejaVu Sans"), 12);
    const QImage plain = renderGauge(seekBarLook(50, 100, 0), QSize(200, 40));
    const QImage text = renderGauge(look, QSize(200, 40));
    int inverted = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x) {
            const QRgb a = plain.pixel(x, y) & 0xFFFFFF, b = text.pixel(x, y) & 0xFFFFFF;
            if (a != b) {
                // Fully covered glyph pixels are exactly the inverse of the bar beneath.
                if (b == (a ^ 0xFFFFFF))
                    ++inverted;
                QVERIFY2(x >= 1 && x < 199 && y >= 1 && y < 39, "text outside the area");
            }
        }
    QVERIFY(inverted > 10);
}

void GaugeTest::repaintsOnlyOnVisibleChanges()
{
    TGauge gauge;
    gauge.resize(329, 13);
    gauge.setMaxValue(10000);
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    PaintCounter counter;
    gauge.installEventFilter(&counter);
    auto paintsAfter = [&](auto change) {
        QCoreApplication::processEvents();
        counter.count = 0;
        change();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return counter.count;
    };
    QCOMPARE(paintsAfter([&] { gauge.setProgress(10); }), 0);    // 0 % still
    QCOMPARE(paintsAfter([&] { gauge.setProgress(99); }), 0);
    QVERIFY(paintsAfter([&] { gauge.setProgress(100); }) > 0);   // 1 %
    QCOMPARE(paintsAfter([&] { gauge.setProgress(150); }), 0);
    QVERIFY(paintsAfter([&] { gauge.setMaxValue(20000); }) > 0);
    QVERIFY(paintsAfter([&] { gauge.setMedValue(5000); }) > 0);
    QCOMPARE(paintsAfter([&] { gauge.setMedValue(5000); }), 0);  // same value
    QVERIFY(paintsAfter([&] { gauge.setForeColor(0x0000FF); }) > 0);
    QCOMPARE(paintsAfter([&] { gauge.setForeColor(0x0000FF); }), 0);
}

void GaugeTest::mouseEventsBecomeSignals()
{
    TGauge gauge;
    gauge.resize(329, 13);
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    QSignalSpy down(&gauge, &TGauge::mouseDown);
    QSignalSpy up(&gauge, &TGauge::mouseUp);
    QTest::mousePress(&gauge, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 5));
    QTest::mouseRelease(&gauge, Qt::LeftButton, Qt::NoModifier, QPoint(120, 6));
    QCOMPARE(down.count(), 1);
    QCOMPARE(down.at(0).at(0).value<Qt::MouseButton>(), Qt::LeftButton);
    QCOMPARE(down.at(0).at(1).value<Qt::KeyboardModifiers>(), Qt::KeyboardModifiers(Qt::ShiftModifier));
    QCOMPARE(down.at(0).at(2).toPoint(), QPoint(100, 5));
    QCOMPARE(up.count(), 1);
    QCOMPARE(up.at(0).at(2).toPoint(), QPoint(120, 6));
}

void GaugeTest::colourValues()
{
    QPalette palette;
    palette.setColor(QPalette::Highlight, QColor(1, 2, 3));
    QCOMPARE(colorFromTColor(0x0000FF, palette), QColor(255, 0, 0));   // red in the low byte
    QCOMPARE(colorFromTColor(0xFF8000, palette), QColor(0, 128, 255));
    QCOMPARE(colorFromTColor(clHighlight, palette), QColor(1, 2, 3));
    QCOMPARE(tcolorFromRgb(QColor(0, 128, 255)), TColor(0xFF8000));
}

QTEST_MAIN(GaugeTest)
#include "GaugeTest.moc"
