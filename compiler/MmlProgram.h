#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sakura {

// The parsed source: a flat list of commands with loops as jumps, so the interpreter runs
// repeats without re-reading the text and every parse error is reported once.
enum class MmlOp : uint8_t {
    Nop,           // left where a broken loop bracket was
    Note,          // a: semitone above the octave's C (accidentals applied, may be -n or 12+n)
    Rest,
    Chord,         // a, b: first and count of its notes and octave moves in chordItems
    DefaultLength, // length: one part, the new `l`
    Octave,        // a: 0..10
    OctaveUp,
    OctaveDown,
    Velocity,      // a: 0..127
    Gate,          // a: 1..100 percent
    Track,         // a: track number
    Channel,       // a: 1..16
    Program,       // a: 1..128
    Tempo,         // a: beats per minute
    TimeBase,      // a: ticks per quarter note
    TimeSignature, // a: numerator, b: denominator
    Control,       // a: controller, b: value
    PitchBend,     // a: -8192..8191
    Text,          // a: meta type, b: index into texts (CP932 bytes)
    LoopBegin,     // a: pass count, b: index of the matching LoopEnd
    LoopBreak,     // b: index of the loop's LoopBegin
    LoopEnd,       // b: index of the loop's LoopBegin
};

// One piece of a length: `4.` or `%48`; ties chain several. Default takes the track's `l`.
struct MmlLengthPart
{
    enum Kind : uint8_t { Default, Divisor, Ticks };
    Kind kind = Default;
    uint8_t dots = 0;
    int32_t value = 0; // at most the largest tick
};

struct MmlChordItem
{
    enum Kind : uint8_t { Note, OctaveSet, OctaveUp, OctaveDown };
    Kind kind = Note;
    int32_t value = 0; // semitone for Note, octave for OctaveSet
};

// Kept small: a 10 000-line song has over 100 000 of them.
struct MmlCommand
{
    MmlOp op;
    uint32_t line;
    int32_t a = 0;
    int32_t b = 0;
    uint32_t lengthBegin = 0; // into MmlProgram::lengths
    uint32_t lengthCount = 0; // 0 for a note, rest or chord of the plain `l` length
};

struct MmlProgram
{
    std::vector<MmlCommand> commands;
    std::vector<MmlLengthPart> lengths;
    std::vector<MmlChordItem> chordItems;
    std::vector<std::string> texts;
};

} // namespace sakura
