#pragma once

#include "SmfTempo.h"
#include "StageLayout.h"
#include "StageSong.h"
#include "StageTheme.h"
#include "StageTimeline.h"

#include <QFont>
#include <QRegion>
#include <QSize>

#include <optional>

class QPainter;

// The stage as a whole, still without a widget: the song on its timeline, laid out for a
// window size, with what one time looks like (paint), what changes between two times
// (damage) and which line a point hits.
namespace tonelark {

// The font's measures for the layout, taken from a real face at the reference size.
StageFontMeasure stageFontMeasure(const QFont &font);

class StageScene {
public:
    // The song and its tempo map (copied; null for the default tempo).
    void setSong(StageSong song, const TSmfEventTempoList *tempo);
    // The window size and the face to fill it with.
    void setGeometry(QSize size, const QFont &font);

    const StageSong &song() const { return m_song; }
    const StageTimeline &timeline() const { return m_timeline; }
    QSize size() const { return m_size; }
    // The layout of timeline line `line`.
    const StageLineLayout &layout(int line) const;

    // The area that looks different at toMs than at fromMs: only the strip a wipe moved
    // over, whole lines when one changes role, whole slots when a line comes or goes.
    QRegion damage(double fromMs, double toMs) const;
    // The line drawn at `point` at nowMs, or -1.
    int lineAt(QPointF point, double nowMs) const;
    // Draws what is shown at nowMs inside `clip`.
    void paint(QPainter &painter, const StageTheme &theme, double nowMs, const QRect &clip) const;

    // The texts shown when no line is.
    static QString noLyricsText() { return QStringLiteral("歌詞はありません"); }

private:
    void rebuild();
    QRect slotArea(int slot, int line) const;

    StageSong m_song;
    std::optional<TSmfEventTempoList> m_tempo;
    QSize m_size;
    QFont m_font;
    StageFontMeasure m_measure;
    StageTimeline m_timeline;
    std::vector<StageLineLayout> m_layouts;
};

} // namespace tonelark
