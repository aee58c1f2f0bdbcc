#include "StageLayout.h"

#include <algorithm>
#include <cmath>

namespace tonelark {

namespace {

// Row height as a share of the text height, and the gap under a reading.
constexpr double kRowSpacing = 1.15;
constexpr double kRubySpacing = 1.1;
constexpr double kMinPixelSize = 6.0;
constexpr double kShrinkStep = 0.94;
constexpr double kLowestBaseShare = 0.6;
constexpr int kCountInDots = 4;

bool isWide(char16_t c)
{
    return (c >= 0x2E80 && c < 0xA000) || (c >= 0xAC00 && c < 0xD7B0) || (c >= 0xF900 && c < 0xFB00) ||
           (c >= 0xFF00 && c < 0xFFF0) || (c >= 0x3000 && c < 0x3040);
}

// Characters a row must not start with.
bool keepsWithPrevious(char16_t c)
{
    static const QString kFollowers = QStringLiteral("、。，．・：；？！ー～…‥）」』】〕〉》ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ,.!?;:)]}'\"");
    return kFollowers.contains(QChar(c));
}

bool isSpace(char16_t c)
{
    return c == u' ' || c == 0x3000 || c == u'\t';
}

struct Unit {
    int syllable = 0;
    int from = 0;
    int length = 0;
    int column = 0;           // where it starts in the line's text
    double width = 0;         // at the reference size
    double trailingSpace = 0; // width of spaces at its end
    bool breakBefore = false;
};

std::vector<Unit> unitsOf(const StageLine &line, const StageFontMeasure &measure)
{
    std::vector<Unit> units;
    int column = 0;
    for (int s = 0; s < int(line.syllables.size()); ++s) {
        const QString &text = line.syllables[size_t(s)].text;
        const int n = int(text.size());
        int start = 0;
        const auto flush = [&](int end) {
            if (end > start)
                units.push_back({s, start, end - start, column + start, 0, 0, false});
            start = end;
        };
        for (int i = 0; i < n; ++i) {
            const char16_t c = text[i].unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < n) {
                flush(i);
                flush(i + 2);
                ++i;
            } else if (isSpace(c)) {
                flush(i + 1);
            } else if (isWide(c)) {
                flush(i);
                flush(i + 1);
            }
        }
        flush(n);
        column += n;
    }
    for (size_t u = 0; u < units.size(); ++u) {
        Unit &unit = units[u];
        const QString &text = line.syllables[size_t(unit.syllable)].text;
        const QStringView piece = QStringView(text).mid(unit.from, unit.length);
        unit.width = measure.width(piece);
        int trimmed = unit.length;
        while (trimmed > 0 && isSpace(piece[trimmed - 1].unicode()))
            --trimmed;
        unit.trailingSpace = trimmed < unit.length ? unit.width - measure.width(piece.left(trimmed)) : 0;
        if (u == 0)
            continue;
        // A reading's base text stays on one row with the reading.
        const bool insideReading = std::any_of(line.rubies.begin(), line.rubies.end(), [&unit](const StageRuby &ruby) {
            return unit.column > ruby.column && unit.column < ruby.column + ruby.length;
        });
        if (insideReading)
            continue;
        const Unit &previous = units[u - 1];
        const QString &previousText = line.syllables[size_t(previous.syllable)].text;
        const char16_t last = previousText[previous.from + previous.length - 1].unicode();
        const char16_t first = piece[0].unicode();
        if (keepsWithPrevious(first))
            continue;
        unit.breakBefore = isSpace(last) || isWide(last) || isWide(first);
    }
    return units;
}

struct Row {
    int begin = 0;
    int end = 0;
    double width = 0; // without the last unit's trailing spaces
};

std::vector<Row> breakRows(const std::vector<Unit> &units, double maxWidth)
{
    std::vector<Row> rows;
    int start = 0;
    const int n = int(units.size());
    while (start < n) {
        double width = 0;
        int lastBreak = -1;
        int i = start;
        for (; i < n; ++i) {
            if (i > start && units[size_t(i)].breakBefore)
                lastBreak = i;
            const double trimmed = width + units[size_t(i)].width - units[size_t(i)].trailingSpace;
            if (trimmed > maxWidth && i > start && lastBreak > start)
                break;
            width += units[size_t(i)].width;
        }
        const int end = i < n ? lastBreak : n;
        Row row{start, end, 0};
        for (int u = start; u < end; ++u)
            row.width += units[size_t(u)].width;
        row.width -= units[size_t(end - 1)].trailingSpace;
        rows.push_back(row);
        start = end;
    }
    return rows;
}

double textHeight(const StageFontMeasure &measure)
{
    return measure.ascent + measure.descent;
}

double rowHeight(const StageFontMeasure &measure, double scale, bool ruby)
{
    const double base = textHeight(measure) * scale * kRowSpacing;
    return ruby ? base + textHeight(measure) * scale * kStageRubyScale * kRubySpacing : base;
}

} // namespace

std::vector<QRectF> StageWipeBoxes::wiped(double fraction) const
{
    return between(0.0, fraction);
}

std::vector<QRectF> StageWipeBoxes::between(double from, double to) const
{
    if (from > to)
        std::swap(from, to);
    from = std::clamp(from, 0.0, 1.0) * width;
    to = std::clamp(to, 0.0, 1.0) * width;
    std::vector<QRectF> parts;
    double offset = 0;
    for (const StageTextBox &box : boxes) {
        const double left = std::max(from, offset), right = std::min(to, offset + box.rect.width());
        if (right > left)
            parts.push_back(QRectF(box.rect.left() + left - offset, box.rect.top(), right - left, box.rect.height()));
        offset += box.rect.width();
    }
    return parts;
}

QRectF StageWipeBoxes::bounds() const
{
    QRectF all;
    for (const StageTextBox &box : boxes)
        all = all.united(box.rect);
    return all;
}

QRectF stageSlotRect(QSizeF size, int slotCount, int slot)
{
    // A margin on every side keeps the text off the screen's edges.
    const double marginX = size.width() * 0.04;
    const double marginY = size.height() * 0.05;
    const double height = (size.height() - 2 * marginY) / std::max(1, slotCount);
    return QRectF(marginX, marginY + height * slot, size.width() - 2 * marginX, height);
}

double stageBasePixelSize(const StageSong &song, QSizeF size, int slotCount, const StageFontMeasure &measure)
{
    const QRectF slot = stageSlotRect(size, slotCount, 0);
    const bool ruby = song.hasRuby();
    const double byHeight = slot.height() / rowHeight(measure, 1.0, ruby) * kStageReferencePx;
    double widest = 0;
    for (const StageLine &line : song.lines) {
        double width = 0;
        for (const StageSyllable &syllable : line.syllables)
            width += measure.width(syllable.text);
        widest = std::max(widest, width);
    }
    double px = byHeight;
    if (widest > 0)
        px = std::min(px, std::max(byHeight * kLowestBaseShare, slot.width() / widest * kStageReferencePx));
    return std::max(kMinPixelSize, px);
}

StageLineLayout layoutStageLine(const StageLine &line, const QRectF &slot, double basePx, bool songHasRuby,
                                const StageFontMeasure &measure)
{
    StageLineLayout layout;
    layout.slot = slot;
    layout.syllables.resize(line.syllables.size());
    const std::vector<Unit> units = unitsOf(line, measure);
    if (units.empty())
        return layout;

    // Whole pixel sizes: the font is drawn at the size the boxes were measured for.
    double px = std::max(kMinPixelSize, std::floor(basePx));
    std::vector<Row> rows;
    for (;;) {
        const double scale = px / kStageReferencePx;
        rows = breakRows(units, slot.width() / scale);
        double widest = 0;
        for (const Row &row : rows)
            widest = std::max(widest, row.width);
        const bool fits = widest * scale <= slot.width() + 0.01 &&
                          double(rows.size()) * rowHeight(measure, scale, songHasRuby) <= slot.height() + 0.01;
        if (fits || px <= kMinPixelSize)
            break;
        px = std::max(kMinPixelSize, std::min(px - 1, std::floor(px * kShrinkStep)));
    }
    const double scale = px / kStageReferencePx;
    layout.pixelSize = px;
    layout.rubyPixelSize = std::max(kMinPixelSize, std::floor(px * kStageRubyScale));
    layout.rows = int(rows.size());

    const double rowH = rowHeight(measure, scale, songHasRuby);
    const double rubyZone = songHasRuby ? textHeight(measure) * scale * kStageRubyScale * kRubySpacing : 0;
    const double textH = textHeight(measure) * scale;
    const double top = slot.top() + (slot.height() - rowH * double(rows.size())) / 2;
    std::vector<double> rowTops;
    std::vector<QRectF> unitRects(units.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        const Row &row = rows[r];
        const double rowTop = top + rowH * double(r);
        rowTops.push_back(rowTop);
        const double textTop = rowTop + rubyZone + (rowH - rubyZone - textH) / 2;
        const double baseline = textTop + measure.ascent * scale;
        double x = slot.left() + (slot.width() - row.width * scale) / 2;
        for (int u = row.begin; u < row.end; ++u) {
            const Unit &unit = units[size_t(u)];
            // Spaces ending a row take no room: the row is centred on its visible text.
            const double width = (u + 1 == row.end ? unit.width - unit.trailingSpace : unit.width) * scale;
            const QString text = line.syllables[size_t(unit.syllable)].text.mid(unit.from, unit.length);
            unitRects[size_t(u)] = QRectF(x, textTop, width, textH);
            StageWipeBoxes &syllable = layout.syllables[size_t(unit.syllable)];
            // Pieces of one syllable side by side on a row are drawn as one text.
            if (!syllable.boxes.empty() && syllable.boxes.back().rect.top() == textTop &&
                qAbs(syllable.boxes.back().rect.right() - x) < 0.01) {
                StageTextBox &box = syllable.boxes.back();
                box.text += text;
                box.rect.setWidth(box.rect.width() + width);
            } else {
                syllable.boxes.push_back({QRectF(x, textTop, width, textH), QPointF(x, baseline), text});
            }
            syllable.width += width;
            x += width;
        }
    }

    const double rubyScale = layout.rubyPixelSize / kStageReferencePx;
    for (const StageRuby &ruby : line.rubies) {
        std::vector<StageWipeBoxes> pieces(ruby.kana.size());
        // The base text's box, to the character even inside a longer piece.
        QRectF base;
        const int from = ruby.column, to = ruby.column + std::max(1, ruby.length);
        for (size_t u = 0; u < units.size(); ++u) {
            const Unit &unit = units[u];
            if (unit.column + unit.length <= from || unit.column >= to)
                continue;
            const QString &text = line.syllables[size_t(unit.syllable)].text;
            const QStringView piece = QStringView(text).mid(unit.from, unit.length);
            const double left = measure.width(piece.left(std::max(0, from - unit.column))) * scale;
            const double right = measure.width(piece.left(std::min(unit.length, to - unit.column))) * scale;
            const QRectF part(unitRects[u].left() + left, unitRects[u].top(), right - left, unitRects[u].height());
            base = base.isNull() ? part : base.united(part);
        }
        if (!base.isNull() && !ruby.kana.empty()) {
            double total = 0;
            std::vector<double> widths;
            for (const StageSyllable &kana : ruby.kana) {
                widths.push_back(measure.width(kana.text) * rubyScale);
                total += widths.back();
            }
            const double baseline = base.top() - (rowH - rubyZone - textH) / 2 - measure.descent * rubyScale;
            const double rubyTop = baseline - measure.ascent * rubyScale;
            // Readings narrower than their base text spread over it; wider ones stay centred
            // (and on the screen).
            double gap = 0;
            double x = base.center().x() - total / 2;
            if (total < base.width()) {
                gap = (base.width() - total) / double(widths.size());
                x = base.left() + gap / 2;
            }
            x = std::clamp(x, slot.left(), std::max(slot.left(), slot.right() - total));
            for (size_t k = 0; k < widths.size(); ++k) {
                pieces[k].boxes.push_back({QRectF(x, rubyTop, widths[k], textHeight(measure) * rubyScale),
                                           QPointF(x, baseline), ruby.kana[k].text});
                pieces[k].width = widths[k];
                x += widths[k] + gap;
            }
        }
        layout.kana.push_back(std::move(pieces));
    }

    // Count-in dots over the start of the first row.
    const StageTextBox *first = nullptr;
    for (const StageWipeBoxes &syllable : layout.syllables) {
        if (!syllable.boxes.empty()) {
            first = &syllable.boxes.front();
            break;
        }
    }
    if (first) {
        const double radius = std::max(2.0, px * 0.08);
        const double y = songHasRuby ? rowTops.front() + rubyZone / 2
                                     : std::max(slot.top() + radius, first->rect.top() - radius * 1.5);
        for (int k = 0; k < kCountInDots; ++k)
            layout.countInDots.push_back(QPointF(first->rect.left() + radius + k * radius * 3, y));
        layout.countInRadius = radius;
        layout.countInBounds = QRectF(first->rect.left(), y - radius, radius * (3 * kCountInDots - 1), 2 * radius);
    }

    for (const StageWipeBoxes &syllable : layout.syllables)
        layout.bounds = layout.bounds.united(syllable.bounds());
    for (const std::vector<StageWipeBoxes> &ruby : layout.kana) {
        for (const StageWipeBoxes &kana : ruby)
            layout.bounds = layout.bounds.united(kana.bounds());
    }
    layout.bounds = layout.bounds.united(layout.countInBounds);
    return layout;
}

} // namespace tonelark
