#include "StageSong.h"

#include "SmfTexts.h"

namespace tonelark {

QString StageRuby::text() const
{
    QString joined;
    for (const StageSyllable &piece : kana)
        joined += piece.text;
    return joined;
}

QString StageLine::text() const
{
    QString joined;
    for (const StageSyllable &syllable : syllables)
        joined += syllable.text;
    return joined;
}

bool StageSong::hasRuby() const
{
    for (const StageLine &line : lines) {
        if (!line.rubies.empty())
            return true;
    }
    return false;
}

StageSong stageSongFromLyricLines(const TSmfMetaEventString &lines, const QString &title)
{
    StageSong song;
    song.title = title;
    bool pageStart = false;
    for (int index = 0; index < lines.Count(); ++index) {
        const QString text = lines.Strings(index);
        const TSmfLyricInfo *info = lines.Objects(index);
        if (TrimLyricLine(text).isEmpty()) {
            pageStart = true;
            continue;
        }
        StageLine line;
        line.syllables.push_back({info ? info->Tick : 0, text});
        line.pageStart = pageStart;
        pageStart = false;
        song.lines.push_back(std::move(line));
    }
    return song;
}

} // namespace tonelark
