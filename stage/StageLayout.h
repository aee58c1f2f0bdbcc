#pragma once

#include "StageSong.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <vector>

// Where the stage draws a line: the font size that fills the slot without cutting the line
// (a long line wraps between words or characters, or shrinks), the boxes of each syllable
// and kana piece, and how much of a box the wipe covers. Pure functions of the line, the
// slot and the font's measures, so they are tested without a screen.
namespace tonelark {

// The font's measures at kStageReferencePx pixels; sizes scale linearly from there.
inline constexpr double kStageReferencePx = 100.0;
struct StageFontMeasure {
    std::function<double(QStringView)> width;
    double ascent = 88;
    double descent = 12;
};

// Readings are drawn at this share of the base text's size.
inline constexpr double kStageRubyScale = 0.45;

// One piece of text drawn on its own: `origin` is the start of its baseline, `rect` the box
// the wipe colours (full text height).
struct StageTextBox {
    QRectF rect;
    QPointF origin;
    QString text;
};

// The boxes of one syllable or kana piece in reading order (a syllable may wrap onto the
// next row) and their total width.
struct StageWipeBoxes {
    std::vector<StageTextBox> boxes;
    double width = 0;
    // The parts of the boxes the wipe covers at `fraction` (0..1), left to right.
    std::vector<QRectF> wiped(double fraction) const;
    // The parts between two fractions: what changes when the wipe moves from one to the other.
    std::vector<QRectF> between(double from, double to) const;
    QRectF bounds() const;
};

struct StageLineLayout {
    QRectF slot;             // the slot's area: a click there means this line
    QRectF bounds;           // everything the line draws
    double pixelSize = 0;
    double rubyPixelSize = 0;
    int rows = 0;
    std::vector<StageWipeBoxes> syllables;
    std::vector<std::vector<StageWipeBoxes>> kana; // per ruby, per kana piece
    std::vector<QPointF> countInDots;              // centres, the first to go out first
    double countInRadius = 0;
    QRectF countInBounds;
};

// The area of slot `slot` of `slots` in a window of `size`.
QRectF stageSlotRect(QSizeF size, int slotCount, int slot);
// The song's base pixel size for slots of that size: as large as the slot height allows,
// smaller when that keeps the song's widest line on one row, but never below 60 % of the
// height's size (wider lines wrap or shrink on their own).
double stageBasePixelSize(const StageSong &song, QSizeF size, int slotCount, const StageFontMeasure &measure);
// The line in `slot` at `basePx` or as much smaller as it needs to fit.
StageLineLayout layoutStageLine(const StageLine &line, const QRectF &slot, double basePx, bool songHasRuby,
                                const StageFontMeasure &measure);

} // namespace tonelark
