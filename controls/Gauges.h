#pragma once

#include "TColor.h"

#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QWidget>

#include <stdexcept>

namespace tonelark {

enum TGaugeKind : int { gkText = 0, gkHorizontalBar = 1, gkVerticalBar = 2, gkPie = 3, gkNeedle = 4 };
enum TBorderStyle : int { bsNone = 0, bsSingle = 1 };

// Thrown by an assignment that would make the range empty; the message is for the user.
class EInvalidOperation : public std::runtime_error {
public:
    explicit EInvalidOperation(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// a × 100 / b truncated toward zero; 0 when b is 0. Taken in 64 bits so that a range
// wider than 2^31 (a negative minimum) gives the true percentage instead of a wrapped one.
int PercentOf(qint64 a, qint64 b);

// (p × 0.01) × z in 80-bit extended precision, truncated toward zero. The extended 0.01
// lies just below a hundredth, so an exactly whole product can come out one lower
// (5 % of 100 gives 4); the bar's pixel positions depend on reproducing that.
int ScaleByPercent(int percent, int z);

// Everything the drawing depends on, with the colours already resolved.
struct GaugeLook {
    int minValue = 0;
    int maxValue = 100;
    int curValue = 0;
    int medValue = 0;
    int repeatStart = -1; // the A–B repeat's marks, in the value's unit; -1 none
    int repeatEnd = -1;
    TGaugeKind kind = gkHorizontalBar;
    bool showText = true;
    TBorderStyle borderStyle = bsSingle;
    QColor foreColor = Qt::black;
    QColor backColor = Qt::white;
    QColor frameColor = Qt::black;
    QColor color = Qt::lightGray; // the control's own colour, under the pie and the needle
    QFont font;
};

// The gauge as one off-screen image of the given size; the widget copies it to the screen
// in one go, and tests read its pixels.
QImage renderGauge(const GaugeLook &look, QSize size);

// The seek bar: a value between a minimum and a maximum drawn as a bar, a pie, a needle or
// a percentage text, with a loop-point marker (MedValue) and a colour for frame and marker.
// Setters store and repaint; assigning the stored value does nothing. Mouse events are
// only passed on as signals: the window decides what a drag means.
class TGauge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int minValue READ minValue WRITE setMinValue)
    Q_PROPERTY(int maxValue READ maxValue WRITE setMaxValue)
    Q_PROPERTY(int progress READ progress WRITE setProgress STORED true)
    Q_PROPERTY(int medValue READ medValue WRITE setMedValue)
    Q_PROPERTY(bool showText READ showText WRITE setShowText)

public:
    explicit TGauge(QWidget *parent = nullptr);

    int minValue() const { return m_minValue; }
    int maxValue() const { return m_maxValue; }
    int progress() const { return m_curValue; }
    int medValue() const { return m_medValue; }
    TGaugeKind kind() const { return m_kind; }
    bool showText() const { return m_showText; }
    TBorderStyle borderStyle() const { return m_borderStyle; }
    TColor foreColor() const { return m_foreColor; }
    TColor backColor() const { return m_backColor; }
    TColor frameColor() const { return m_frameColor; }
    TColor color() const { return m_color; }

    // Throw EInvalidOperation (value not stored) when the range would become empty,
    // unless loading is on; pull the value into the new range.
    void setMinValue(int value);
    void setMaxValue(int value);
    // Clamped to the range; repaints only when the whole percentage changes.
    void setProgress(int value);
    // Not clamped; the marker is drawn only for 0 < MedValue < MaxValue.
    void setMedValue(int value);
    // The A–B repeat's two marks, drawn like the loop-point marker wherever 0 ≤ value ≤
    // MaxValue (a mark at either end just inside the frame); -1 for none.
    void setRepeatMarks(int start, int end);
    int repeatStart() const { return m_repeatStart; }
    int repeatEnd() const { return m_repeatEnd; }
    void setKind(TGaugeKind kind);
    void setShowText(bool show);
    void setBorderStyle(TBorderStyle style);
    void setForeColor(TColor color);
    void setBackColor(TColor color);
    void setFrameColor(TColor color);
    void setColor(TColor color);
    // Progress := Progress + delta, saturating at the 32-bit ends before clamping.
    void addProgress(int delta);

    // While on, the range setters accept a minimum above the maximum, as when a stored
    // layout sets the two ends one after the other.
    void setLoading(bool loading) { m_loading = loading; }

    int PercentDone() const;

    // The look with the colours resolved against this widget's palette and font.
    GaugeLook look() const;

signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void mouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint position);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int m_minValue = 0;
    int m_maxValue = 100;
    int m_curValue = 0;
    int m_medValue = 0;
    int m_repeatStart = -1;
    int m_repeatEnd = -1;
    TGaugeKind m_kind = gkHorizontalBar;
    bool m_showText = true;
    TBorderStyle m_borderStyle = bsSingle;
    TColor m_foreColor = clBlack;
    TColor m_backColor = clWhite;
    TColor m_frameColor = clWindowFrame;
    TColor m_color = clBtnFace;
    bool m_loading = false;
};

} // namespace tonelark
