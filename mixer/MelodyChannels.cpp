#include "MelodyChannels.h"

#include "CstmUtils.h"
#include "SmfParser.h"
#include "SungLines.h"

#include <QStringList>

#include <algorithm>
#include <string_view>

namespace tonelark {

namespace {

// A bounded reader: every read checks the end first, and a failed read leaves `ok` false.
struct Reader {
    const unsigned char *data;
    qsizetype size;
    qsizetype at = 0;
    bool ok = true;

    bool has(qsizetype n) const { return ok && n >= 0 && at <= size && size - at >= n; }
    quint32 byte()
    {
        if (!has(1)) {
            ok = false;
            return 0;
        }
        return data[at++];
    }
    quint32 be(int bytes)
    {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | byte();
        return v;
    }
    // A variable-length number; more than four bytes is damage.
    quint32 varLen()
    {
        quint32 v = 0;
        for (int i = 0; i < 4; ++i) {
            const quint32 b = byte();
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return v;
        }
        ok = false;
        return 0;
    }
    void skip(quint64 n)
    {
        if (!ok || n > quint64(size - at)) {
            ok = false;
            return;
        }
        at += qsizetype(n);
    }
};

QString decodeText(QByteArrayView bytes)
{
    // Songs are CP932 unless a text is no CP932 but good UTF-8.
    if (!isValidAnsi(bytes) && isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    return ansiToUnicode(bytes);
}

void walkTrack(Reader r, ChannelSurvey &survey)
{
    ChannelSurvey::Track track;
    std::array<quint8, 16> bankMsb{};
    quint64 tick = 0;
    quint32 running = 0;
    while (r.has(1)) {
        tick += r.varLen();
        if (!r.ok || tick > 0x7FFFFFFF)
            break;
        quint32 status = r.byte();
        if (status < 0x80) {
            if (!running)
                break;
            --r.at; // running status: the byte is data
            status = running;
        }
        if (status == 0xFF) {
            const quint32 type = r.byte();
            const quint32 length = r.varLen();
            if (!r.has(qsizetype(length)))
                break;
            const QByteArrayView text(reinterpret_cast<const char *>(r.data + r.at), qsizetype(length));
            if (type == 0x03 && track.name.isEmpty())
                track.name = decodeText(text);
            r.skip(length);
            if (type == 0x2F)
                break;
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            r.skip(r.varLen());
            continue;
        }
        if (status > 0xF0)
            break; // no system common or real-time message belongs in a file
        running = status;
        const int channel = int(status & 0x0F);
        const quint32 d1 = r.byte();
        const int kind = int(status & 0xF0);
        const quint32 d2 = (kind == 0xC0 || kind == 0xD0) ? 0 : r.byte();
        if (!r.ok || d1 > 0x7F || d2 > 0x7F)
            break;
        if (kind == 0x90 && d2 > 0) {
            survey.noteOnTicks[std::size_t(channel)].push_back(quint32(tick));
            track.noteChannels |= quint16(1u << channel);
        } else if (kind == 0xB0 && d1 == 0) {
            bankMsb[std::size_t(channel)] = quint8(d2);
        } else if (kind == 0xC0) {
            const quint8 bank = bankMsb[std::size_t(channel)];
            if (bank == 120 || bank == 126 || bank == 127)
                survey.drumChannels |= quint16(1u << channel);
        }
    }
    for (int ch = 0; ch < 16; ++ch)
        if ((track.noteChannels >> ch & 1) && survey.trackNames[std::size_t(ch)].isEmpty())
            survey.trackNames[std::size_t(ch)] = track.name;
    survey.tracks.push_back(std::move(track));
}

} // namespace

ChannelSurvey surveyChannels(QByteArrayView smf)
{
    ChannelSurvey survey;
    Reader r{reinterpret_cast<const unsigned char *>(smf.data()), smf.size()};
    if (!r.has(14) || std::string_view(smf.data(), 4) != "MThd")
        return survey;
    r.skip(4);
    const quint32 headerLength = r.be(4);
    r.be(2); // format
    const quint32 tracks = r.be(2);
    const quint32 division = r.be(2);
    if (headerLength < 6)
        return survey;
    r.skip(headerLength - 6);
    survey.timeBase = (division & 0x8000) ? 0 : int(division);
    for (quint32 t = 0; t < tracks && r.has(8); ++t) {
        const bool isTrack = std::string_view(reinterpret_cast<const char *>(r.data + r.at), 4) == "MTrk";
        r.skip(4);
        const quint32 length = r.be(4);
        const qsizetype available = r.size - r.at;
        const qsizetype chunk = std::min<qsizetype>(qsizetype(length), available);
        if (!isTrack) {
            --t; // other chunks do not count as tracks
            if (chunk < qsizetype(length))
                break;
            r.skip(length);
            continue;
        }
        walkTrack(Reader{r.data, r.at + chunk, r.at}, survey);
        r.at += chunk;
    }
    for (auto &ticks : survey.noteOnTicks)
        std::stable_sort(ticks.begin(), ticks.end()); // tracks may share a channel
    return survey;
}

bool isMelodyTrackName(QStringView name)
{
    // Width folded (ＭＥＬＯＤＹ, ﾒﾛﾃﾞｨ) and case folded.
    const QString folded = name.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
    static const QString words[] = {QStringLiteral("melody"), QStringLiteral("vocal"), QStringLiteral("メロ"),
                                    QStringLiteral("歌"), QStringLiteral("ボーカル")};
    return std::any_of(std::begin(words), std::end(words), [&](const QString &w) { return folded.contains(w); });
}

MelodyChoice detectMelody(const ChannelSurvey &survey, quint16 xfChannels, const std::vector<quint32> &syllableTicks)
{
    quint16 sounding = 0;
    for (int ch = 0; ch < 16; ++ch)
        if (!survey.noteOnTicks[std::size_t(ch)].empty())
            sounding |= quint16(1u << ch);
    if (const quint16 xf = xfChannels & sounding)
        return {xf, MelodyRule::XfLyrics};
    quint16 named = 0;
    for (const auto &track : survey.tracks)
        if (isMelodyTrackName(track.name))
            named |= track.noteChannels;
    named &= quint16(~survey.drumChannels);
    if (named)
        return {named, MelodyRule::TrackName};
    if (syllableTicks.empty() || survey.timeBase <= 0)
        return {};
    const qint64 window = std::max(1, survey.timeBase / 8); // a 32nd note
    int best = -1;
    double bestScore = 0;
    for (int ch = 0; ch < 16; ++ch) {
        const auto &onsets = survey.noteOnTicks[std::size_t(ch)];
        if (onsets.empty() || (survey.drumChannels >> ch & 1))
            continue;
        // Pair in time order: each syllable takes the first onset left within the window.
        std::size_t o = 0;
        int pairs = 0;
        for (quint32 syllable : syllableTicks) {
            while (o < onsets.size() && qint64(onsets[o]) < qint64(syllable) - window)
                ++o;
            if (o < onsets.size() && qint64(onsets[o]) <= qint64(syllable) + window) {
                ++pairs;
                ++o;
            }
        }
        const double score = 2.0 * pairs / double(onsets.size() + syllableTicks.size());
        if (pairs > 0 && score > bestScore) {
            bestScore = score;
            best = ch;
        }
    }
    // A channel that meets fewer than a quarter of the syllables is no melody.
    if (best < 0 || bestScore < 0.25)
        return {};
    return {quint16(1u << best), MelodyRule::Syllables};
}

SungFacts sungFactsOf(QByteArrayView smf, bool karaokeFile)
{
    SungFacts facts;
    TSmfParser parser;
    parser.SetKaraokeFile(karaokeFile);
    try {
        parser.Execute(smf.data(), quint32(std::min<qsizetype>(smf.size(), 0xFFFFFFFF)));
    } catch (const ESmfParserException &) {
        return facts;
    }
    const SungLines lines = buildSungLines(sungInputOf(parser, parser.TempoList()), SungLineMode::Auto, {});
    for (int ch : lines.melodyChannels)
        if (ch >= 1 && ch <= 16)
            facts.xfChannels |= quint16(1u << (ch - 1));
    int phrases = 0;
    for (const SungLine &line : lines.lines)
        for (const SungSyllable &syllable : line.syllables) {
            if (syllable.tick < 0 || trimControlAndSpace(syllable.text + syllable.reading).isEmpty())
                continue;
            facts.syllableTicks.push_back(quint32(syllable.tick));
            phrases += isSyllableText(syllable.text) ? 0 : 1;
        }
    // Lyrics given a line or a phrase per event time no notes: matching their starts would
    // pick the part that moves least, not the melody.
    if (phrases * 2 > int(facts.syllableTicks.size()))
        facts.syllableTicks.clear();
    std::sort(facts.syllableTicks.begin(), facts.syllableTicks.end());
    return facts;
}

QString melodyInfoText(quint16 channels)
{
    if (!channels)
        return QStringLiteral("メロディ: なし");
    QStringList numbers;
    for (int ch = 0; ch < 16; ++ch)
        if (channels >> ch & 1)
            numbers << QString::number(ch + 1);
    return QStringLiteral("メロディ: ch ") + numbers.join(QStringLiteral(", "));
}

} // namespace tonelark
