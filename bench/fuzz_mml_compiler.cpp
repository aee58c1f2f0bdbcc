// libFuzzer target for the MML compiler: any bytes as a CP932 source. Besides the sanitizers,
// it checks what the compiler promises: a result that is either a well-formed format-1 SMF or
// a message, and no message without a terminating line number or text. Run it through
// bench/fuzz_mml_compiler.sh: inputs up to 64 KB with a per-input timeout, so a compile time
// that grows with the square of the input fails as a timeout.

#include "MmlCompiler.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

uint32_t bigEndian(std::string_view bytes, size_t pos, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[pos + static_cast<size_t>(i)]);
    return value;
}

// Walks the chunks and every event; aborts on anything the writer should never produce.
void checkSmf(std::string_view smf)
{
    if (smf.size() < 14 || smf.substr(0, 4) != "MThd" || bigEndian(smf, 8, 2) != 1)
        std::abort();
    const uint32_t tracks = bigEndian(smf, 10, 2);
    size_t pos = 14;
    for (uint32_t t = 0; t < tracks; ++t) {
        if (smf.size() - pos < 8 || smf.substr(pos, 4) != "MTrk")
            std::abort();
        const size_t end = pos + 8 + bigEndian(smf, pos + 4, 4);
        if (end > smf.size())
            std::abort();
        pos += 8;
        bool ended = false;
        while (pos < end) {
            if (ended)
                std::abort();
            for (int i = 0; pos < end && (static_cast<uint8_t>(smf[pos++]) & 0x80); ++i) {
                if (i == 3)
                    std::abort();
            }
            if (pos >= end)
                std::abort();
            const auto status = static_cast<uint8_t>(smf[pos++]);
            if (status == 0xFF) {
                if (end - pos < 2)
                    std::abort();
                const auto type = static_cast<uint8_t>(smf[pos++]);
                uint32_t length = 0;
                while (pos < end) {
                    const auto b = static_cast<uint8_t>(smf[pos++]);
                    length = (length << 7) | (b & 0x7F);
                    if (!(b & 0x80))
                        break;
                }
                if (end - pos < length)
                    std::abort();
                pos += length;
                ended = type == 0x2F;
            } else if (status >= 0x80 && status < 0xF0) {
                const size_t data = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                if (end - pos < data)
                    std::abort();
                for (size_t i = 0; i < data; ++i) {
                    if (static_cast<uint8_t>(smf[pos + i]) & 0x80)
                        std::abort();
                }
                pos += data;
            } else {
                std::abort();
            }
        }
        if (!ended)
            std::abort();
    }
    if (pos != smf.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The entry receives a zero-terminated text, so the source ends at the first zero byte.
    std::string_view source(reinterpret_cast<const char *>(data), size);
    source = source.substr(0, source.find('\0'));
    const sakura::CompileResult result = sakura::compileMml(source);
    if (result.ok)
        checkSmf(result.smf);
    else if (result.messages.empty())
        std::abort(); // a failure must always say why
    return 0;
}
