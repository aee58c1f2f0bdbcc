#pragma once

// The playback engine's C interface (libbrisola4.so). Every function may be called from any
// thread, in any state, with or without an open device or a registered song, any number of
// times. Results are error codes; the program does not act on them, tools and tests do.

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define BRS_API __attribute__((visibility("default")))
#else
#define BRS_API
#endif

extern "C" {

typedef std::uint8_t TBrsPlayerState;
enum : TBrsPlayerState {
    BRSSTATE_STOP = 0,
    BRSSTATE_PLAY = 1,
    BRSSTATE_PAUSE = 2,
};

// Play option bits.
enum : std::int32_t {
    BRSPLAY_LOOP = 1,           // at the end, go on from the loop point (from 0 without one);
                                // a loop shorter than 10 ms stops instead
    BRSPLAY_SKIPBLANK = 2,      // a start at tick 0 begins at the first note
    BRSPLAY_NORMALIZE = 16,     // every CC 7 value v becomes min(127, round(v × 127 / M)), M the
                                // song's largest CC 7; unchanged when the song has none
    BRSPLAY_SYSEX = 32,         // send the song's system exclusive messages
};

// Error codes, numbered from 0 in this order.
enum BrsError : std::int32_t {
    BRSERROR_NOERROR = 0,
    BRSERROR_FAILED,
    BRSERROR_FILENOTFOUND,
    BRSERROR_CANNOT_OPENFILE,
    BRSERROR_BADFILESIZE,
    BRSERROR_NOSMF,
    BRSERROR_BADSMF,
    BRSERROR_UNMATCHED_SMF,
    BRSERROR_CANNOT_OPENDEVICE,
    BRSERROR_CANNOT_STARTTIMER,
    BRSERROR_ILLEGAL_POINTER,
    BRSERROR_TRACKLIMIT,
    BRSERROR_NOTREADY,
    BRSERROR_UNDEFINED_ID,
    BRSERROR_API_NULL,
    BRSERROR_DAMAGED_SOUNDFONT, // a SoundFont that loads but whose instruments cannot sound
};

// Device id of the built-in synthesizer; 0..N-1 are MIDI output ports.
enum : std::int32_t { BRSDEVICE_BUILTIN_SYNTH = -1100 };

// The built-in synthesizer's link to the sound server (TBrs4OutputStatus.Server).
enum : std::int32_t {
    BRSSERVER_NOTUSED = 0,   // device -1100 is not open on a PulseAudio server (a port, JACK, ALSA)
    BRSSERVER_CONNECTED = 1, // it sounds through the server
    BRSSERVER_WAITING = 2,   // no server: gone away, or none since the open. The song plays on
                             // in real time without sound; the engine connects again by itself
};

// What became of the output since the library was loaded, for the window's messages. The
// counters only grow, so that a poll sees a loss and a return that both fell between two polls.
struct TBrs4OutputStatus {
    std::int32_t Server;            // BRSSERVER_*
    std::int32_t ServerChanges;     // changes of Server
    std::int32_t SoundFontRefusals; // SoundFonts device -1100 refused as damaged for a song
    std::int32_t Reserved;
};

struct TBrs4PlayerStatus {
    TBrsPlayerState State;
    std::uint8_t Reserved[3];
    std::int32_t Tempo;     // microseconds per quarter note now
    std::int32_t Tick;      // position in ticks
    std::int32_t Time;      // position in milliseconds
    std::int32_t LoopCount; // times the song went back to its loop point since the last play
};

// TotalTick: the largest tick of any event (End of Track included). FirstNoteTick: the first
// note-on with velocity > 0. LastNoteTick: the latest note event (a note never released counts
// at its start). LoopTick: the earliest controller 111 in any track. Times are those ticks in
// ms by the merged tempo map, rounded down. A song without notes reports 0 for both notes.
struct TBrs4SmfInformation {
    std::int32_t TimeBase;
    std::int32_t TotalTick;
    std::int32_t TotalTime;
    std::int32_t FirstNoteTick;
    std::int32_t FirstNoteTime;
    std::int32_t LastNoteTick;
    std::int32_t LastNoteTime;
    std::int32_t LoopTick; // -1 without a loop point
    std::int32_t LoopTime; // -1 without a loop point
};

// One channel as the mixer's meters see it (BRS4GetChannelStatus).
enum : std::uint8_t {
    BRSCHANNEL_DRUM = 1,     // a drum part (channel 10, a drum bank, or made one by GS/XG SysEx)
    BRSCHANNEL_SILENCED = 2, // muted, or another channel is soloed
    BRSCHANNEL_MUTED = 4,
    BRSCHANNEL_SOLOED = 8,
    BRSCHANNEL_PROGRAM = 16, // a program change has been sent (else Program, banks are 0)
};
struct TBrs4ChannelStatus {
    std::uint32_t NoteOns; // note-ons sent on the channel so far (wraps); a change means a new note
    std::uint8_t Velocity; // velocity of the last of them
    std::uint8_t Sounding; // notes sounding now (at most 255)
    std::uint8_t Program;  // the last program change sent
    std::uint8_t BankMsb;  // the bank select in effect at it
    std::uint8_t BankLsb;
    std::uint8_t Flags;    // BRSCHANNEL_… bits
    std::uint8_t Level;    // 0 … 100 percent (BRS4SetChannelLevel)
    std::uint8_t Reserved;
};

// Opens device -1100 (the built-in synthesizer: FluidSynth with the SoundFont chosen by
// BRS4SetSoundFont, by default the system's General MIDI one, through the desktop's audio
// server; it returns once the audio runs, the SoundFont loads in the background and the song
// starts sounding when its first instruments are in) or MIDI output port 0..N-1, replacing the
// current output; a playing song goes on from its position with a chase on the new device.
// When the device cannot be opened, returns BRSERROR_CANNOT_OPENDEVICE (BRSERROR_UNDEFINED_ID
// for an unknown negative id) and plays on a silent output that keeps real time. Device -1100
// without a sound server, or whose server goes away, plays on that way and connects by itself
// to the server that comes (BRS4GetOutputStatus tells). While the device opens, the other calls
// do not wait for it and the song's clock stands still (a play meanwhile starts on the device);
// of overlapping opens the last one called wins, and a close drops the opens under way.
// `window` is not used.
BRS_API std::int32_t BRS4OpenDevice(std::int32_t deviceId, void *window);
// BRS4OpenDevice without waiting: returns at once, the device opens on a thread of its own.
BRS_API std::int32_t BRS4OpenDeviceInBackground(std::int32_t deviceId);
// 1 while a background open is under way, else 0. A program that ends meanwhile ends without
// running static destructors (the open may still be inside a sound server's library).
BRS_API std::int32_t BRS4IsDeviceOpening(void);
// Stops (silencing every note) and releases the output; a later play uses the silent output.
BRS_API std::int32_t BRS4CloseDevice(void);
// Stops and forgets the registered song.
BRS_API std::int32_t BRS4ClearList(void);
// Reads `size` bytes of a Standard MIDI File (copied: the caller's bytes are not kept) and
// registers it in place of the current song, stopping it. Returns BRSERROR_NOSMF, _BADSMF,
// _UNMATCHED_SMF (format 2, time-code division), _ILLEGAL_POINTER or _BADFILESIZE, in which
// case nothing changes.
BRS_API std::int32_t BRS4AddListFromMemory(const void *data, std::int32_t size, std::int32_t reserved1,
                                           std::int32_t reserved2);
// From any state: silences, chases every channel to `startTick` (program, bank, controllers,
// RPN/NRPN values, pitch bend, pressure; SysEx with BRSPLAY_SYSEX) without sounding earlier
// notes, and plays from there. A negative tick is 0; a tick at or past the end is the end.
// BRSERROR_NOTREADY without a song.
BRS_API std::int32_t BRS4Play(std::int32_t option, std::int32_t reserved1, std::int32_t startTick,
                              std::int32_t reserved2, std::int32_t reserved3);
// PLAY becomes PAUSE with every note silenced and the position kept; other states stay.
BRS_API std::int32_t BRS4Pause(void);
// Any state becomes STOP with every note silenced; the position stays where it was.
BRS_API std::int32_t BRS4Stop(std::int32_t reserved);
// -127 silent … 0 full (values outside are clamped), a squared ramp between; kept across
// device changes. The synthesizer's gain, or the universal master-volume SysEx on a port.
BRS_API std::int32_t BRS4SetMasterVolume(std::int32_t volume);
// Chooses the SoundFont (.sf2, or .sf3 where FluidSynth reads it) that the next
// BRS4OpenDevice(-1100) loads: a UTF-8 path, or "" for the system's General MIDI SoundFont.
// The file is loaded once to check it: BRSERROR_FILENOTFOUND when it does not exist,
// BRSERROR_CANNOT_OPENFILE when it does not load, BRSERROR_DAMAGED_SOUNDFONT when it loads but
// none of its presets can sound, BRSERROR_ILLEGAL_POINTER for null; on any error the previous
// choice stays. An open device keeps its SoundFont until the next open.
BRS_API std::int32_t BRS4SetSoundFont(const char *path);
// Shifts every note on the melodic channels by `semitones` (-12 … +12; 0 = the song's key);
// channel 10 and channels the song switched to a drum kit are never shifted. Out of range:
// BRSERROR_FAILED, the setting unchanged. A player setting: it holds across songs, device
// changes, seeks and loops; melodic notes sounding at a change go on at the new key (each is
// struck again with its velocity).
BRS_API std::int32_t BRS4SetKeyShift(std::int32_t semitones);
// Plays at `percent` of the song's tempo (50 … 200; 100 = as written), changed smoothly from
// the present position. Out of range: BRSERROR_FAILED, the setting unchanged. The status and
// the song information keep reporting song ticks and song times. A player setting, like the
// key shift.
BRS_API std::int32_t BRS4SetTempoRatio(std::int32_t percent);
// The A–B repeat: while set, play never passes `endTick` (B) but goes on from `startTick` (A),
// with the loop's wrap (notes released, the state at A chased), not counted in LoopCount; a
// play from B or later starts at A, and a range set behind a playing position goes to A at
// once. (-1, -1) clears it; so does a new song. A < 0, B ≤ A, B past the song's end, a range
// under 10 ms or no song: BRSERROR_FAILED, nothing changed.
BRS_API std::int32_t BRS4SetRepeat(std::int32_t startTick, std::int32_t endTick);
// The channel mixer, channels 0 … 15 (shown as 1 … 16). A silenced channel (muted, or not soloed
// while some channel is) sends no note-ons and has its sounding notes released; everything else
// it plays is sent, so it comes back with the song's instrument and controllers. Becoming
// audible, its held melodic notes are struck again. Channel out of range: BRSERROR_FAILED.
// Player settings like the key shift: they hold across songs, device changes, seeks and loops.
BRS_API std::int32_t BRS4SetChannelMute(std::int32_t channel, std::int32_t muted);
BRS_API std::int32_t BRS4SetChannelSolo(std::int32_t channel, std::int32_t soloed);
// Scales every volume (CC 7) the channel is sent to `percent` (0 … 100, clamped; 50 ≈ −12 dB).
BRS_API std::int32_t BRS4SetChannelLevel(std::int32_t channel, std::int32_t percent);
// Copies min(count, 16) channel records, channel 0 first; never blocks on playback. Returns the
// number copied, BRSERROR_ILLEGAL_POINTER (negated) for null with count > 0.
BRS_API std::int32_t BRS4GetChannelStatus(TBrs4ChannelStatus *channels, std::int32_t count);
// Copies min(size, 20) bytes of one consistent status snapshot; never blocks on playback.
// BRSERROR_ILLEGAL_POINTER for null, BRSERROR_FAILED for size <= 0 (nothing written).
BRS_API std::int32_t BRS4GetPlayerStatus(TBrs4PlayerStatus *status, std::int32_t size);
// Copies min(size, 36) bytes of the song information (all 0 but LoopTick/LoopTime -1 without
// a song); same pointer and size rules as the status.
BRS_API std::int32_t BRS4GetSmfInformation(TBrs4SmfInformation *info, std::int32_t size,
                                           std::int32_t reserved);
// Copies min(size, 16) bytes of the output's status; same pointer and size rules.
BRS_API std::int32_t BRS4GetOutputStatus(TBrs4OutputStatus *status, std::int32_t size);

// What the settings dialog lists and the version page names, each as UTF-8 text copied into
// `buffer` (at most `size` bytes, always NUL-terminated when size > 0, cut only between
// characters). Each returns the bytes the whole text needs with its NUL, so a caller whose
// buffer was too small asks again; a negative error code for a null buffer with size > 0.
// The MIDI output port names, one per line, in the order device ids 0..N-1 refer to them,
// listed once per call so the order is one listing's.
BRS_API std::int32_t BRS4GetMidiOutDevNames(char *buffer, std::int32_t size);
// The synthesizer library behind device -1100 and its version ("FluidSynth 2.3.7").
BRS_API std::int32_t BRS4GetSynthVersion(char *buffer, std::int32_t size);
// The SoundFont device -1100 uses: the one chosen with BRS4SetSoundFont, else the system's
// General MIDI SoundFont (also while the open device plays it in place of a chosen one it
// refused as damaged); empty when there is none.
BRS_API std::int32_t BRS4GetSoundFont(char *buffer, std::int32_t size);
// The SoundFont an open of device -1100 last refused as damaged (none of the song's first
// instruments starts a voice) and the one used in its place (the system's General MIDI
// SoundFont; an empty line when there is none), one per line; empty when none was refused.
BRS_API std::int32_t BRS4GetRefusedSoundFont(char *buffer, std::int32_t size);

} // extern "C"

static_assert(sizeof(TBrs4PlayerStatus) == 20);
static_assert(offsetof(TBrs4PlayerStatus, State) == 0);
static_assert(offsetof(TBrs4PlayerStatus, Tempo) == 4);
static_assert(offsetof(TBrs4PlayerStatus, Tick) == 8);
static_assert(offsetof(TBrs4PlayerStatus, Time) == 12);
static_assert(offsetof(TBrs4PlayerStatus, LoopCount) == 16);
static_assert(sizeof(TBrs4ChannelStatus) == 12);
static_assert(offsetof(TBrs4ChannelStatus, Velocity) == 4);
static_assert(offsetof(TBrs4ChannelStatus, Flags) == 9);
static_assert(offsetof(TBrs4ChannelStatus, Level) == 10);
static_assert(sizeof(TBrs4SmfInformation) == 36);
static_assert(offsetof(TBrs4SmfInformation, TimeBase) == 0);
static_assert(offsetof(TBrs4SmfInformation, TotalTick) == 4);
static_assert(offsetof(TBrs4SmfInformation, TotalTime) == 8);
static_assert(offsetof(TBrs4SmfInformation, FirstNoteTick) == 12);
static_assert(offsetof(TBrs4SmfInformation, FirstNoteTime) == 16);
static_assert(offsetof(TBrs4SmfInformation, LastNoteTick) == 20);
static_assert(offsetof(TBrs4SmfInformation, LastNoteTime) == 24);
static_assert(offsetof(TBrs4SmfInformation, LoopTick) == 28);
static_assert(offsetof(TBrs4SmfInformation, LoopTime) == 32);
static_assert(sizeof(TBrs4OutputStatus) == 16);
static_assert(offsetof(TBrs4OutputStatus, Server) == 0);
static_assert(offsetof(TBrs4OutputStatus, ServerChanges) == 4);
static_assert(offsetof(TBrs4OutputStatus, SoundFontRefusals) == 8);
static_assert(offsetof(TBrs4OutputStatus, Reserved) == 12);
