// The engine's facts for the settings dialog: the output ports and the synthesizer in use.

#include "Brisola.h"

#include "Engine.h"
#include "FluidSynthSink.h"
#include "MidiPortSink.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Copies `text` into the caller's buffer as the header describes; a cut never splits a UTF-8
// sequence, so the caller always gets valid text.
std::int32_t copyText(const std::string &text, char *buffer, std::int32_t size)
{
    if (size > 0 && !buffer)
        return -BRSERROR_ILLEGAL_POINTER;
    if (text.size() >= std::size_t(std::numeric_limits<std::int32_t>::max()))
        return -BRSERROR_BADFILESIZE;
    if (size > 0) {
        std::size_t length = std::min(text.size(), std::size_t(size) - 1);
        if (length < text.size()) {
            while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
                --length;
        }
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    }
    return std::int32_t(text.size() + 1);
}

template <typename F>
std::int32_t guardedText(char *buffer, std::int32_t size, F &&text)
{
    try {
        return copyText(text(), buffer, size);
    } catch (...) {
        return copyText(std::string(), buffer, size);
    }
}

} // namespace

extern "C" {

std::int32_t BRS4GetMidiOutDevNames(char *buffer, std::int32_t size)
{
    return guardedText(buffer, size, [] {
        std::string lines;
        for (const std::string &name : brisola::midiOutputPorts()) {
            // A line break inside a name would shift every later port by one id.
            std::string line = name;
            for (char &c : line) {
                if (c == '\n' || c == '\r')
                    c = ' ';
            }
            lines += line + '\n';
        }
        return lines;
    });
}

std::int32_t BRS4GetSynthVersion(char *buffer, std::int32_t size)
{
    return guardedText(buffer, size, [] { return brisola::fluidSynthVersion(); });
}

std::int32_t BRS4GetSoundFont(char *buffer, std::int32_t size)
{
    return guardedText(buffer, size, [] { return brisola::Engine::instance().soundFont(); });
}

std::int32_t BRS4GetRefusedSoundFont(char *buffer, std::int32_t size)
{
    return guardedText(buffer, size, [] { return brisola::Engine::instance().refusedSoundFont(); });
}

} // extern "C"
