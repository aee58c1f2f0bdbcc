// libFuzzer target for TSmfParser and the sung lines built from its result: any byte string
// must either parse or raise ESmfParserException, and every parse must give sung lines in
// all three line rules whose syllables lie inside their line's text. Anything else escaping,
// a crash, a hang or a read outside the data (ASan) is a finding. The XF chunks (XFIH, XFKM)
// are read after the tracks, so inputs that grow past the tracks reach their reader.
#include "SmfParser.h"
#include "SungLines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace tonelark;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void parse(const std::uint8_t *data, std::size_t size, TLyricLoadOptions options, bool karaokeFile = false,
           TextEncoding encoding = TextEncoding::Auto)
{
    TSmfParser parser;
    parser.SetLyricLoadOptions(options);
    parser.SetKaraokeFile(karaokeFile);
    parser.SetTextEncoding(encoding);
    try {
        parser.Execute(data, static_cast<quint32>(size));
    } catch (const ESmfParserException &) {
        return;
    }
    check(parser.UsedTextEncoding() != TextEncoding::Auto &&
          (encoding == TextEncoding::Auto || parser.UsedTextEncoding() == encoding));

    for (SungLineMode mode : {SungLineMode::Auto, SungLineMode::AlwaysJoin, SungLineMode::PerEvent}) {
        const SungLines sung = buildSungLines(sungInputOf(parser, parser.TempoList()), mode, options);
        for (const SungLine &line : sung.lines) {
            for (const SungSyllable &syllable : line.syllables)
                check(syllable.column >= 0 && syllable.column + syllable.text.size() <= line.text.size() &&
                      syllable.ruby < int(line.ruby.size()));
            for (const SungRuby &ruby : line.ruby)
                check(ruby.column >= 0 && ruby.column <= line.text.size());
        }
        check(sungLyricRows(sung).Count() == sung.count());
    }

    const std::unique_ptr<TSmfEventTempoList> tempo = parser.ExtractTempoList();
    check(tempo && tempo->Count() > 0 && tempo->Items(0).FPosition <= 0);
    for (int i = 1; i < tempo->Count(); ++i)
        check(tempo->Items(i - 1).FPosition <= tempo->Items(i).FPosition);

    // The conversions must survive whatever tempo values the file held.
    const qint32 lastTick = tempo->Items(tempo->Count() - 1).FPosition;
    for (qint32 tick : {0, 1, lastTick, lastTick + 1, std::numeric_limits<qint32>::max()}) {
        const qint32 ms = tempo->TickToSecond(tick, tuMilliseconds);
        tempo->TimeToTick(ms, tuMilliseconds);
        tempo->TimeToTick(ms, tuSeconds);
    }
    tempo->TimeToTick(std::numeric_limits<qint64>::max(), tuSeconds);
    tempo->TimeToTick(std::numeric_limits<qint64>::min(), tuMicroseconds);

    TSmfMetaEventString lyric = parser.ExtractLyric();
    for (int i = 0; i < lyric.Count(); ++i) {
        const TSmfLyricInfo *info = lyric.Objects(i);
        check(info != nullptr);
        check(info->Second == static_cast<qint32>(info->Millisecond / 1000));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > std::numeric_limits<quint32>::max())
        return 0;
    parse(data, size, {});
    parse(data, size, {lloTrimAnySpace, lloNoEmptyLines});
    // A .kar name reads every Text event as karaoke words; the user's encoding by the size.
    static constexpr TextEncoding kChoices[] = {TextEncoding::Auto, TextEncoding::Cp932, TextEncoding::Utf8,
                                                TextEncoding::Cp1252};
    parse(data, size, {lloNoEmptyLines}, true, kChoices[size % 4]);
    return 0;
}
