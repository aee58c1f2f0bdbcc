// libFuzzer target for the mixer's channel survey and melody detection: any byte string gives a
// survey (empty for no SMF). A crash, a hang or a read outside the data (ASan) is a finding.
#include "MelodyChannels.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const tonelark::ChannelSurvey survey =
        tonelark::surveyChannels(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    for (const auto &ticks : survey.noteOnTicks)
        for (std::size_t i = 1; i < ticks.size(); ++i)
            if (ticks[i - 1] > ticks[i] || ticks[i] > 0x7FFFFFFF)
                std::abort();
    const std::uint16_t xf = size >= 2 ? std::uint16_t(data[0] | data[1] << 8) : 0;
    const tonelark::SungFacts sung = tonelark::sungFactsOf(
        QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)), size % 2);
    for (std::size_t i = 1; i < sung.syllableTicks.size(); ++i)
        if (sung.syllableTicks[i - 1] > sung.syllableTicks[i])
            std::abort();
    tonelark::detectMelody(survey, std::uint16_t(xf | sung.xfChannels), sung.syllableTicks);
    return 0;
}
