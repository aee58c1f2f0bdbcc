#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// The bridge to the optional MML compiler library libdSakura.so. Each call loads the
// library, uses it and unloads it again, so no compiler state outlives a call and a
// library installed or removed while the program runs is seen at the next call.
//
// Entries looked up by name (C linkage; text is zero-terminated CP932):
//   std::uint8_t MMLtoMIDI(const char *mml, const char *midiFileName, char *errMsg)
//       nonzero when the compile succeeded; writes its message into errMsg
//   void SetErrMsgLen(std::int32_t length)    optional: the size of errMsg in bytes
//   void GetVerInfo(char *buffer)             optional: a version text of up to 16 bytes
namespace tonelark {

enum TMmlCompileResult : std::uint8_t {
    mcrSuccess = 0,       // "MMLtoMIDI" returned nonzero
    mcrDllNotLoaded = 1,  // the library could not be loaded
    mcrEntryNotFound = 2, // the library has no "MMLtoMIDI"
    mcrCompileError = 3,  // "MMLtoMIDI" returned zero; the message buffer says why
    mcrNoMidiOutput = 4,  // set by the loader: success reported but no new MIDI file
};

// Size of the caller's message buffer, announced to the compiler through "SetErrMsgLen".
inline constexpr int kSakuraErrMsgLength = 1024;
// Size of the version buffer handed to "GetVerInfo".
inline constexpr int kSakuraVersionLength = 16;

inline constexpr char kSakuraLibraryName[] = "libdSakura.so";

// The longest MML source the compiler accepts, in bytes (it refuses longer ones).
inline constexpr qint64 kMaxMmlSourceBytes = 2 * 1024 * 1024;

// Where the library is looked for, in order: next to the program, then the system's
// library search (a bare file name).
QStringList sakuraLibraryCandidates(const QString &programDir);
// The candidates for this process (the program's folder from the application object or,
// without one, /proc/self/exe).
QStringList sakuraLibraryCandidates();

// Compiles the zero-terminated MML source `mml` into the MIDI file `midiFileName` (a path
// in the file system's encoding). `errMsg` is the caller's zero-filled buffer of
// kSakuraErrMsgLength bytes; it receives the compiler's message.
TMmlCompileResult SakuraMMLtoMIDI(const char *mml, const char *midiFileName, char *errMsg);
TMmlCompileResult SakuraMMLtoMIDI(const QStringList &candidates, const char *mml, const char *midiFileName,
                                  char *errMsg);

// "Ver." and the library's version text, "N/A" when it has no "GetVerInfo", "---" when
// it cannot be loaded.
QString SakuraGetVersion();
QString SakuraGetVersion(const QStringList &candidates);

// The compile with the buffers handled: the MML as CP932 bytes, the output path as a
// QString, the compiler's message decoded from CP932.
struct MmlCompileOutcome {
    TMmlCompileResult result = mcrDllNotLoaded;
    QString message;
};
MmlCompileOutcome compileMml(const QByteArray &mmlAnsi, const QString &midiFileName);
MmlCompileOutcome compileMml(const QStringList &candidates, const QByteArray &mmlAnsi,
                             const QString &midiFileName);

} // namespace tonelark
