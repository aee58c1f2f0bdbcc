#include "StageScene.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <memory>

namespace tonelark {

namespace {

// Antialiased glyph edges reach a little past their boxes.
constexpr int kDamageMargin = 2;

QRect outward(const QRectF &rect)
{
    return rect.toAlignedRect().adjusted(-kDamageMargin, -kDamageMargin, kDamageMargin, kDamageMargin);
}

QFont sizedFont(QFont font, double px)
{
    font.setPixelSize(std::max(1, int(px)));
    return font;
}

} // namespace

StageFontMeasure stageFontMeasure(const QFont &font)
{
    const QFont reference = sizedFont(font, kStageReferencePx);
    auto metrics = std::make_shared<QFontMetricsF>(reference);
    StageFontMeasure measure;
    measure.width = [metrics](QStringView text) { return metrics->horizontalAdvance(text.toString()); };
    measure.ascent = metrics->ascent();
    measure.descent = metrics->descent();
    return measure;
}

void StageScene::setSong(StageSong song, const TSmfEventTempoList *tempo)
{
    m_song = std::move(song);
    m_tempo.reset();
    if (tempo)
        m_tempo.emplace(*tempo);
    rebuild();
}

void StageScene::setGeometry(QSize size, const QFont &font)
{
    m_size = size;
    m_font = font;
    m_measure = stageFontMeasure(font);
    rebuild();
}

void StageScene::rebuild()
{
    const int slotCount = stageLinesPerPage(m_size.height());
    m_timeline = StageTimeline(m_song, m_tempo ? &*m_tempo : nullptr, slotCount);
    m_layouts.clear();
    if (!m_measure.width || m_size.isEmpty())
        return;
    const double basePx = stageBasePixelSize(m_song, QSizeF(m_size), slotCount, m_measure);
    const bool ruby = m_song.hasRuby();
    for (const StageTimedLine &line : m_timeline.lines()) {
        m_layouts.push_back(layoutStageLine(m_song.lines[size_t(line.source)],
                                            stageSlotRect(QSizeF(m_size), slotCount, line.slot), basePx, ruby,
                                            m_measure));
    }
}

const StageLineLayout &StageScene::layout(int line) const
{
    return m_layouts[size_t(line)];
}

QRect StageScene::slotArea(int slot, int line) const
{
    QRect area = outward(stageSlotRect(QSizeF(m_size), m_timeline.slotCount(), slot));
    if (line >= 0 && size_t(line) < m_layouts.size())
        area |= outward(m_layouts[size_t(line)].bounds);
    return area;
}

QRegion StageScene::damage(double fromMs, double toMs) const
{
    QRegion region;
    if (m_layouts.size() != m_timeline.lines().size())
        return QRegion(QRect(QPoint(0, 0), m_size));
    const StageFrame from = m_timeline.frameAt(qint64(fromMs));
    const StageFrame to = m_timeline.frameAt(qint64(toMs));
    // The title stands alone on an empty screen.
    if (from.empty() != to.empty())
        return QRegion(QRect(QPoint(0, 0), m_size));
    for (size_t slot = 0; slot < to.slotLines.size(); ++slot) {
        const int before = from.slotLines[slot], line = to.slotLines[slot];
        if (before != line) {
            region |= slotArea(int(slot), before);
            region |= slotArea(int(slot), line);
            continue;
        }
        if (line < 0)
            continue;
        const StageLineLayout &layout = m_layouts[size_t(line)];
        const StageLineRole roleBefore = m_timeline.roleAt(line, fromMs);
        const StageLineRole role = m_timeline.roleAt(line, toMs);
        if (roleBefore != role) {
            region |= outward(layout.bounds);
            continue;
        }
        if (role != StageLineRole::Current)
            continue;
        const StageTimedLine &timed = m_timeline.lines()[size_t(line)];
        const auto strips = [&](const StageWipeBoxes &boxes, const StageSpan &span) {
            const double a = span.wipe(fromMs), b = span.wipe(toMs);
            if (a == b)
                return;
            for (const QRectF &part : boxes.between(a, b))
                region |= outward(part);
        };
        for (size_t s = 0; s < timed.syllables.size() && s < layout.syllables.size(); ++s)
            strips(layout.syllables[s], timed.syllables[s]);
        for (size_t r = 0; r < timed.kana.size() && r < layout.kana.size(); ++r) {
            for (size_t k = 0; k < timed.kana[r].size() && k < layout.kana[r].size(); ++k)
                strips(layout.kana[r][k], timed.kana[r][k]);
        }
    }
    if (from.countInLine != to.countInLine || from.countInDots != to.countInDots) {
        for (int line : {from.countInLine, to.countInLine}) {
            if (line >= 0)
                region |= outward(m_layouts[size_t(line)].countInBounds);
        }
    }
    return region;
}

int StageScene::lineAt(QPointF point, double nowMs) const
{
    const StageFrame frame = m_timeline.frameAt(qint64(nowMs));
    for (int line : frame.slotLines) {
        if (line >= 0 && size_t(line) < m_layouts.size() && m_layouts[size_t(line)].slot.contains(point))
            return line;
    }
    return -1;
}

void StageScene::paint(QPainter &painter, const StageTheme &theme, double nowMs, const QRect &clip) const
{
    painter.fillRect(clip, theme.background);
    if (m_size.isEmpty())
        return;
    const StageFrame frame = m_timeline.frameAt(qint64(nowMs));
    if (frame.empty() || m_layouts.size() != m_timeline.lines().size()) {
        // Before the first page, and for a song without lyrics: its title.
        const QRectF area(QPointF(0, 0), QSizeF(m_size));
        const double px = std::max(12.0, m_size.height() / 12.0);
        painter.setPen(theme.title);
        QString text = m_song.title;
        if (m_timeline.isEmpty())
            text = text.isEmpty() ? noLyricsText() : text + QLatin1Char('\n') + noLyricsText();
        painter.setFont(sizedFont(m_font, px));
        painter.drawText(area.adjusted(area.width() * 0.04, 0, -area.width() * 0.04, 0),
                         Qt::AlignCenter | Qt::TextWordWrap, text);
        return;
    }
    const QRectF clipF(clip);
    const auto draw = [&](const StageWipeBoxes &boxes, const QColor &color) {
        painter.setPen(color);
        for (const StageTextBox &box : boxes.boxes) {
            if (box.rect.adjusted(-4, -4, 4, 4).intersects(clipF))
                painter.drawText(box.origin, box.text);
        }
    };
    const auto drawWiped = [&](const StageWipeBoxes &boxes, double fraction, const QColor &unsung,
                               const QColor &sung) {
        if (!boxes.bounds().adjusted(-4, -4, 4, 4).intersects(clipF))
            return;
        if (fraction < 1.0)
            draw(boxes, unsung);
        if (fraction <= 0.0)
            return;
        painter.save();
        QRegion wiped;
        for (const QRectF &part : boxes.wiped(fraction))
            wiped |= part.toAlignedRect().adjusted(-1, -kDamageMargin, 0, kDamageMargin);
        painter.setClipRegion(wiped & clip, Qt::ReplaceClip);
        draw(boxes, sung);
        painter.restore();
    };
    for (int line : frame.slotLines) {
        if (line < 0)
            continue;
        const StageLineLayout &layout = m_layouts[size_t(line)];
        if (!outward(layout.bounds).intersects(clip))
            continue;
        const StageTimedLine &timed = m_timeline.lines()[size_t(line)];
        const StageLineRole role = m_timeline.roleAt(line, nowMs);
        const QColor unsung = theme.unsungFor(m_song.lines[size_t(timed.source)].part);
        for (int pass = 0; pass < 2; ++pass) {
            // Base text first, then readings at their own size.
            painter.setFont(sizedFont(m_font, pass == 0 ? layout.pixelSize : layout.rubyPixelSize));
            const auto each = [&](const StageWipeBoxes &boxes, const StageSpan &span) {
                if (role == StageLineRole::Sung)
                    draw(boxes, theme.dimmed);
                else if (role == StageLineRole::Waiting)
                    draw(boxes, unsung);
                else
                    drawWiped(boxes, span.wipe(nowMs), unsung, theme.sung);
            };
            if (pass == 0) {
                for (size_t s = 0; s < layout.syllables.size() && s < timed.syllables.size(); ++s)
                    each(layout.syllables[s], timed.syllables[s]);
            } else {
                for (size_t r = 0; r < layout.kana.size() && r < timed.kana.size(); ++r) {
                    for (size_t k = 0; k < layout.kana[r].size() && k < timed.kana[r].size(); ++k)
                        each(layout.kana[r][k], timed.kana[r][k]);
                }
            }
        }
        if (frame.countInLine == line && frame.countInDots > 0 && layout.countInBounds.intersects(clipF)) {
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(Qt::NoPen);
            painter.setBrush(theme.countIn);
            const int dots = std::min<int>(frame.countInDots, int(layout.countInDots.size()));
            // The dots go out from the left, so the last one stands next to the line's start.
            for (int k = int(layout.countInDots.size()) - dots; k < int(layout.countInDots.size()); ++k)
                painter.drawEllipse(layout.countInDots[size_t(k)], layout.countInRadius, layout.countInRadius);
            painter.setBrush(Qt::NoBrush);
            painter.setRenderHint(QPainter::Antialiasing, false);
        }
    }
}

} // namespace tonelark
