#pragma once

#include <string>
#include <string_view>

namespace sakura {

struct CompileResult
{
    bool ok = false;
    std::string smf;      // the Standard MIDI File bytes when ok
    std::string messages; // CP932: the errors (first ten) or, on success, any notes
};

// Compiles a CP932 MML source to SMF bytes in memory. Never throws for any input.
CompileResult compileMml(std::string_view source);

} // namespace sakura
