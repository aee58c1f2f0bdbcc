#include "SakuraDll.h"

#include "CstmUtils.h"
#include "DynamicLibrary.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstring>
#include <vector>

Q_LOGGING_CATEGORY(lcSakura, "tonelark.engines.sakura")

namespace tonelark {

namespace {

using MmlToMidiFunction = std::uint8_t(const char *, const char *, char *);
using SetErrMsgLenFunction = void(std::int32_t);
using GetVerInfoFunction = void(char *);

// Opens the first candidate that loads; the reasons of those that do not go to the log.
bool openFirstLogged(DynamicLibrary &library, const QStringList &candidates)
{
    QStringList errors;
    const bool opened = openFirst(library, candidates, &errors);
    for (const QString &error : errors)
        qCDebug(lcSakura) << error;
    return opened;
}

} // namespace

QStringList sakuraLibraryCandidates(const QString &programDir)
{
    const QString name = QString::fromLatin1(kSakuraLibraryName);
    QStringList candidates;
    if (!programDir.isEmpty())
        candidates << programDir + QLatin1Char('/') + name;
    candidates << name;
    return candidates;
}

QStringList sakuraLibraryCandidates()
{
    return sakuraLibraryCandidates(programFolder());
}

TMmlCompileResult SakuraMMLtoMIDI(const char *mml, const char *midiFileName, char *errMsg)
{
    return SakuraMMLtoMIDI(sakuraLibraryCandidates(), mml, midiFileName, errMsg);
}

TMmlCompileResult SakuraMMLtoMIDI(const QStringList &candidates, const char *mml, const char *midiFileName,
                                  char *errMsg)
{
    DynamicLibrary library;
    if (!openFirstLogged(library, candidates))
        return mcrDllNotLoaded;
    auto *mmlToMidi = library.function<MmlToMidiFunction>("MMLtoMIDI");
    if (!mmlToMidi) {
        qCDebug(lcSakura) << library.errorString();
        return mcrEntryNotFound;
    }
    // Optional: an older compiler does not take the buffer length and is still used.
    if (auto *setErrMsgLen = library.function<SetErrMsgLenFunction>("SetErrMsgLen"))
        setErrMsgLen(kSakuraErrMsgLength);
    return mmlToMidi(mml, midiFileName, errMsg) != 0 ? mcrSuccess : mcrCompileError;
}

QString SakuraGetVersion()
{
    return SakuraGetVersion(sakuraLibraryCandidates());
}

QString SakuraGetVersion(const QStringList &candidates)
{
    DynamicLibrary library;
    if (!openFirstLogged(library, candidates))
        return QStringLiteral("---");
    auto *getVerInfo = library.function<GetVerInfoFunction>("GetVerInfo");
    if (!getVerInfo)
        return QStringLiteral("N/A");
    // The compiler is told nothing about the size; a text that runs past the 16 bytes
    // lands in the spare room instead of the stack, and only 16 bytes are read.
    std::vector<char> buffer(kSakuraVersionLength * 16, '\0');
    getVerInfo(buffer.data());
    const auto *end = static_cast<const char *>(std::memchr(buffer.data(), 0, kSakuraVersionLength));
    const qsizetype length = end ? end - buffer.data() : kSakuraVersionLength;
    return QStringLiteral("Ver.") + ansiToUnicode(QByteArrayView(buffer.data(), length));
}

MmlCompileOutcome compileMml(const QByteArray &mmlAnsi, const QString &midiFileName)
{
    return compileMml(sakuraLibraryCandidates(), mmlAnsi, midiFileName);
}

MmlCompileOutcome compileMml(const QStringList &candidates, const QByteArray &mmlAnsi,
                             const QString &midiFileName)
{
    // One byte more than announced, always zero, so a compiler that fills the whole
    // buffer still leaves a terminated text.
    std::vector<char> message(kSakuraErrMsgLength + 1, '\0');
    // The path goes out in the file system's encoding: the compiler opens it with the C
    // library, which knows no other.
    const QByteArray path = QFile::encodeName(midiFileName);
    MmlCompileOutcome outcome;
    outcome.result = SakuraMMLtoMIDI(candidates, mmlAnsi.constData(), path.constData(), message.data());
    outcome.message = ansiToUnicode(QByteArrayView(message.data(), qsizetype(std::strlen(message.data()))));
    return outcome;
}

} // namespace tonelark
