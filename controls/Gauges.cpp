#include "Gauges.h"

#include "CstmUtils.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tonelark {

// The bar's pixel positions are defined by 80-bit extended arithmetic (64-bit mantissa);
// a platform whose long double is narrower needs its own emulation here.
static_assert(std::numeric_limits<long double>::digits == 64,
              "ScaleByPercent needs the x87 80-bit extended type as long double");

namespace {

// Fills the rectangle with exclusive right and bottom edges; an empty or inverted one
// draws nothing.
void fillCoords(QPainter &painter, int left, int top, int right, int bottom, const QColor &color)
{
    if (right > left && bottom > top)
        painter.fillRect(QRect(left, top, right - left, bottom - top), color);
}

// A vertical line from (x, top) down to bottom, the end point excluded.
void verticalLine(QPainter &painter, int x, int top, int bottom, const QColor &color)
{
    fillCoords(painter, x, top, x + 1, bottom, color);
}

struct PaintRect {
    int left, top, right, bottom;
};

// Round half to even, as the drawing code of the pie and the needle expects.
int roundEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

// Qt angle (degrees, counter-clockwise, y up) of a point seen from the centre.
double angleOf(QPointF centre, QPointF point)
{
    return std::atan2(-(point.y() - centre.y()), point.x() - centre.x()) * 180.0 / std::numbers::pi;
}

// A pie of the ellipse inside (left, top, right, bottom) (exclusive edges), counter-clockwise
// from the radial through `from` to the radial through `to`.
void drawPieCoords(QPainter &painter, int left, int top, int right, int bottom, QPointF from, QPointF to)
{
    const QRectF box(left, top, right - left - 1, bottom - top - 1);
    const QPointF centre = box.center();
    const double start = angleOf(centre, from);
    double span = angleOf(centre, to) - start;
    while (span <= 0)
        span += 360.0;
    painter.drawPie(box, qRound(start * 16), qRound(span * 16));
}

void drawBar(QPainter &painter, const GaugeLook &look, PaintRect rect, int percent)
{
    const int w = rect.right - rect.left + 1;
    const int h = rect.bottom - rect.top + 1;
    if (look.borderStyle == bsSingle) {
        // The outline of the whole control in the frame colour, filled with the back colour.
        // (The inside is filled with the back colour just below.)
        fillCoords(painter, rect.left - 1, rect.top - 1, rect.right + 1, rect.bottom + 1, look.frameColor);
    }
    fillCoords(painter, rect.left, rect.top, rect.right, rect.bottom, look.backColor);
    if (look.kind == gkHorizontalBar) {
        const int filled = std::min(ScaleByPercent(percent, w), w);
        if (filled > 0) {
            // The filled width is used as a right coordinate, not added to the left edge.
            fillCoords(painter, rect.left, rect.top, filled, h, look.foreColor);
            verticalLine(painter, filled, rect.top, rect.bottom, look.frameColor);
        }
        if (look.medValue > 0 && look.medValue < look.maxValue) {
            // The marker is scaled against the maximum alone, like the engine's loop tick.
            const int x = ScaleByPercent(PercentOf(look.medValue, look.maxValue), w);
            verticalLine(painter, x, h - h / 4, rect.bottom, look.frameColor);
        }
        for (const int mark : {look.repeatStart, look.repeatEnd}) {
            if (mark < 0 || mark > look.maxValue || look.maxValue <= 0)
                continue;
            // A at the song's start or B at its end stays inside the frame, where it is seen.
            const int x = std::clamp(ScaleByPercent(PercentOf(mark, look.maxValue), w), rect.left, rect.right - 1);
            verticalLine(painter, x, h - h / 4, rect.bottom, look.frameColor);
        }
    } else {
        int filled = ScaleByPercent(percent, h);
        if (filled >= h)
            filled = h - 1;
        fillCoords(painter, rect.left, h - filled, w, h, look.foreColor);
    }
}

void drawPie(QPainter &painter, const GaugeLook &look, PaintRect rect, int percent)
{
    const int extra = look.borderStyle == bsSingle ? 1 : 0;
    const int w = rect.right - rect.left + extra;
    const int h = rect.bottom - rect.top + extra;
    fillCoords(painter, rect.left, rect.top, rect.right, rect.bottom, look.color);
    painter.setBrush(look.backColor);
    painter.setPen(QPen(look.foreColor, 1));
    painter.drawEllipse(QRectF(rect.left, rect.top, w - rect.left - 1, h - rect.top - 1));
    if (percent > 0) {
        painter.setBrush(look.foreColor);
        const int mx = w / 2;
        const int my = h / 2;
        const double angle = (percent / 50.0 + 0.5) * std::numbers::pi;
        const QPointF from(roundEven((1 - std::cos(angle)) * mx), roundEven((1 - std::sin(angle)) * my));
        drawPieCoords(painter, rect.left, rect.top, w, h, from, QPointF(mx, 0));
    }
}

void drawNeedle(QPainter &painter, const GaugeLook &look, PaintRect rect, int percent, int controlWidth)
{
    const int extra = look.borderStyle == bsSingle ? 1 : 0;
    const int w = rect.right - rect.left + extra;
    const int h = rect.bottom - rect.top + extra;
    fillCoords(painter, rect.left, rect.top, rect.right, rect.bottom, look.color);
    painter.setBrush(look.backColor);
    painter.setPen(QPen(look.foreColor, 1));
    // The upper half of an ellipse twice as high as the area, standing on its bottom edge.
    drawPieCoords(painter, rect.left, rect.top, w, 2 * h - 1, QPointF(rect.left + w, rect.bottom - 1),
                  QPointF(rect.left, rect.bottom - 1));
    painter.drawLine(rect.left, rect.bottom, rect.left + w, rect.bottom);
    if (percent > 0) {
        const int hw = controlWidth / 2;
        const double angle = percent / 100.0 * std::numbers::pi;
        painter.drawLine(QPoint(hw, rect.bottom - 1),
                         QPoint(roundEven((1 - std::cos(angle)) * hw),
                                roundEven((1 - std::sin(angle)) * (rect.bottom - 1))));
    }
}

// The percentage text in white on black, combined by exclusive or so the glyphs invert
// whatever lies beneath them.
void drawTextOverlay(QImage &image, const GaugeLook &look, PaintRect rect, int percent)
{
    QImage overlay(image.size(), QImage::Format_RGB32);
    overlay.fill(Qt::black);
    {
        QPainter painter(&overlay);
        painter.setFont(look.font);
        painter.setPen(Qt::white);
        painter.setClipRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top));
        const QString text = QStringLiteral("%1%").arg(percent);
        const QFontMetrics metrics(look.font);
        // Centred in the area's size but not offset by its left and top edges.
        const int x = (rect.right - rect.left + 1 - metrics.horizontalAdvance(text)) / 2;
        const int y = (rect.bottom - rect.top + 1 - metrics.height()) / 2;
        painter.drawText(x, y + metrics.ascent(), text);
    }
    for (int y = 0; y < image.height(); ++y) {
        auto *target = reinterpret_cast<QRgb *>(image.scanLine(y));
        const auto *source = reinterpret_cast<const QRgb *>(overlay.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            target[x] ^= source[x] & 0x00FFFFFFu;
    }
}

} // namespace

EInvalidOperation::EInvalidOperation(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

int PercentOf(qint64 a, qint64 b)
{
    if (b == 0)
        return 0;
    return clampToInt(std::trunc(static_cast<long double>(a) * 100.0L / static_cast<long double>(b)));
}

int ScaleByPercent(int percent, int z)
{
    // Two roundings to the 64-bit mantissa, in this order; volatile keeps the compiler
    // from folding the product into a single exact step.
    volatile long double fraction = static_cast<long double>(percent) * 0.01L;
    return clampToInt(std::trunc(fraction * static_cast<long double>(z)));
}

QImage renderGauge(const GaugeLook &look, QSize size)
{
    QImage image(size.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // The kind is drawn onto black; combined by exclusive or with a black image, a separate
    // overlay would only be copied, so it is drawn in place.
    image.fill(Qt::black);
    PaintRect rect{0, 0, size.width(), size.height()};
    if (look.borderStyle == bsSingle)
        rect = PaintRect{1, 1, size.width() - 1, size.height() - 1};
    const int percent = PercentOf(qint64(look.curValue) - look.minValue, qint64(look.maxValue) - look.minValue);
    {
        QPainter painter(&image);
        switch (look.kind) {
        case gkText:
            fillCoords(painter, rect.left, rect.top, rect.right, rect.bottom, look.backColor);
            break;
        case gkHorizontalBar:
        case gkVerticalBar:
            drawBar(painter, look, rect, percent);
            break;
        case gkPie:
            drawPie(painter, look, rect, percent);
            break;
        case gkNeedle:
            drawNeedle(painter, look, rect, percent, size.width());
            break;
        }
    }
    if (look.showText)
        drawTextOverlay(image, look, rect, percent);
    return image;
}

TGauge::TGauge(QWidget *parent)
    : QWidget(parent)
{
    // Paints its whole area from one image, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

static QString rangeMessage(qint64 low, qint64 high)
{
    return QStringLiteral("値は %1 から %2 までの間でなければなりません").arg(low).arg(high);
}

void TGauge::setMinValue(int value)
{
    if (value == m_minValue)
        return;
    if (value > m_maxValue && !m_loading)
        throw EInvalidOperation(rangeMessage(-2147483647, qint64(m_maxValue) - 1));
    m_minValue = value;
    if (m_curValue < value)
        m_curValue = value;
    update();
}

void TGauge::setMaxValue(int value)
{
    if (value == m_maxValue)
        return;
    if (value < m_minValue && !m_loading)
        throw EInvalidOperation(rangeMessage(qint64(m_minValue) + 1, 2147483647));
    m_maxValue = value;
    if (m_curValue > value)
        m_curValue = value;
    update();
}

void TGauge::setProgress(int value)
{
    const int before = PercentDone();
    // Minimum first, then maximum: with a range crossed while loading the maximum wins.
    if (value < m_minValue)
        value = m_minValue;
    if (value > m_maxValue)
        value = m_maxValue;
    if (value == m_curValue)
        return;
    m_curValue = value;
    // Set every tick by the monitor: repaint about once per percent, not 60 times a second.
    if (PercentDone() != before)
        update();
}

void TGauge::addProgress(int delta)
{
    const qint64 sum = std::clamp<qint64>(qint64(m_curValue) + delta, std::numeric_limits<int>::min(),
                                          std::numeric_limits<int>::max());
    setProgress(static_cast<int>(sum));
}

template <typename T>
static bool assign(T &field, T value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

void TGauge::setMedValue(int value)
{
    if (assign(m_medValue, value))
        update();
}

void TGauge::setRepeatMarks(int start, int end)
{
    const bool changed = assign(m_repeatStart, start);
    if (assign(m_repeatEnd, end) || changed)
        update();
}

void TGauge::setKind(TGaugeKind kind)
{
    if (assign(m_kind, kind))
        update();
}

void TGauge::setShowText(bool show)
{
    if (assign(m_showText, show))
        update();
}

void TGauge::setBorderStyle(TBorderStyle style)
{
    if (assign(m_borderStyle, style))
        update();
}

void TGauge::setForeColor(TColor color)
{
    if (assign(m_foreColor, color))
        update();
}

void TGauge::setBackColor(TColor color)
{
    if (assign(m_backColor, color))
        update();
}

void TGauge::setFrameColor(TColor color)
{
    if (assign(m_frameColor, color))
        update();
}

void TGauge::setColor(TColor color)
{
    if (assign(m_color, color))
        update();
}

int TGauge::PercentDone() const
{
    return PercentOf(qint64(m_curValue) - m_minValue, qint64(m_maxValue) - m_minValue);
}

GaugeLook TGauge::look() const
{
    const QPalette &pal = palette();
    GaugeLook result;
    result.minValue = m_minValue;
    result.maxValue = m_maxValue;
    result.curValue = m_curValue;
    result.medValue = m_medValue;
    result.repeatStart = m_repeatStart;
    result.repeatEnd = m_repeatEnd;
    result.kind = m_kind;
    result.showText = m_showText;
    result.borderStyle = m_borderStyle;
    result.foreColor = colorFromTColor(m_foreColor, pal);
    result.backColor = colorFromTColor(m_backColor, pal);
    result.frameColor = colorFromTColor(m_frameColor, pal);
    result.color = colorFromTColor(m_color, pal);
    result.font = font();
    return result;
}

void TGauge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, renderGauge(look(), size()));
}

void TGauge::mousePressEvent(QMouseEvent *event)
{
    emit mouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void TGauge::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMove(event->buttons(), event->modifiers(), event->position().toPoint());
}

void TGauge::mouseReleaseEvent(QMouseEvent *event)
{
    emit mouseUp(event->button(), event->modifiers(), event->position().toPoint());
}

} // namespace tonelark
