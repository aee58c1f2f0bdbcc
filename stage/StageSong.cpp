#include "StageSong.h"

#include "SmfTexts.h"
#include "SungLines.h"

#include <algorithm>

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

std::pair<int, int> StageLine::syllablesCovering(int column, int length) const
{
    int first = -1, last = -1, at = 0;
    const int end = column + std::max(1, length);
    for (int s = 0; s < int(syllables.size()); ++s) {
        const int next = at + int(syllables[size_t(s)].text.size());
        if (next > column && at < end) {
            if (first < 0)
                first = s;
            last = s + 1;
        }
        at = next;
    }
    if (first < 0) // past the text: the last syllable
        return {std::max(0, int(syllables.size()) - 1), int(syllables.size())};
    return {first, last};
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

namespace {

VocalPart partOf(const SungLine &line)
{
    for (const SungSyllable &syllable : line.syllables) {
        if (syllable.part == u"m")
            return VocalPart::Male;
        if (syllable.part == u"f")
            return VocalPart::Female;
        if (syllable.part == u"c")
            return VocalPart::Chorus;
        if (!syllable.part.isEmpty())
            return VocalPart::None;
    }
    return VocalPart::None;
}

} // namespace

StageSong stageSongFromSungLines(const SungLines &sung, const QString &title)
{
    StageSong song;
    song.title = title;
    song.displayLeadTicks = sung.offsetTicks > 0 ? sung.offsetTicks : -1;
    bool pageStart = false;
    int page = sung.lines.empty() ? 0 : sung.lines.front().page;
    for (const SungLine &line : sung.lines) {
        if (line.page != page || line.paragraphStart)
            pageStart = true;
        page = line.page;
        if (TrimLyricLine(line.text).isEmpty()) {
            pageStart = true; // a paragraph's empty line
            continue;
        }
        // The base syllables cover the line's text exactly, in column order: kana-only
        // syllables (the rest of a reading) sing only above it.
        std::vector<const SungSyllable *> based;
        for (const SungSyllable &syllable : line.syllables) {
            if (!syllable.text.isEmpty())
                based.push_back(&syllable);
        }
        std::stable_sort(based.begin(), based.end(),
                         [](const SungSyllable *a, const SungSyllable *b) { return a->column < b->column; });
        StageLine out;
        const int length = int(line.text.size());
        int covered = 0;
        QString lead;
        for (const SungSyllable *syllable : based) {
            const int start = std::clamp(syllable->column, covered, length);
            const int end = std::clamp(syllable->column + int(syllable->text.size()), start, length);
            if (end == start)
                continue;
            const QString gap = line.text.mid(covered, start - covered);
            if (out.syllables.empty())
                lead = gap;
            else
                out.syllables.back().text += gap;
            out.syllables.push_back({syllable->tick, lead + line.text.mid(start, end - start)});
            lead.clear();
            covered = end;
        }
        if (out.syllables.empty())
            out.syllables.push_back({line.tick, QString()});
        out.syllables.back().text += line.text.mid(covered);
        if (out.syllables.size() == 1 && out.syllables.front().text.isEmpty())
            out.syllables.front().text = line.text;

        for (int r = 0; r < int(line.ruby.size()); ++r) {
            const SungRuby &ruby = line.ruby[size_t(r)];
            StageRuby reading{ruby.column, int(ruby.base.size()), {}};
            for (const SungSyllable &syllable : line.syllables) {
                if (syllable.ruby == r && !syllable.reading.isEmpty())
                    reading.kana.push_back({syllable.tick, syllable.reading});
            }
            if (reading.kana.empty()) {
                const auto covering = out.syllablesCovering(reading.column, reading.length);
                reading.kana.push_back({out.syllables[size_t(covering.first)].tick, ruby.reading});
            }
            out.rubies.push_back(std::move(reading));
        }
        out.part = partOf(line);
        out.pageStart = pageStart;
        pageStart = false;
        song.lines.push_back(std::move(out));
    }
    return song;
}

} // namespace tonelark
