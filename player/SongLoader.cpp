#include "SongLoader.h"

#include "CstmUtils.h"
#include "Engine.h"
#include "FileNames.h"
#include "SmfParser.h"
#include "SongException.h"
#include "SafeFile.h"
#include "Ui.h"
#include "AnsweringWait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonelark {

namespace {

const QString kCompiledMidiName = QStringLiteral("Compile.mid");
const QString kSongInfoHeading = QStringLiteral("[Song Info]");
const QString kParserErrorHeading = QStringLiteral("[SMFパーサー]");
const QString kOtherErrorHeading = QStringLiteral("[エラー]");
const QString kEngineErrorHeading = QStringLiteral("[演奏エンジン]");
const QString kCompilerNotLoaded =
    QStringLiteral("libdSakura.so を読み込めないため、MMLをコンパイルできません。");
const QString kCompilerUnsupported =
    QStringLiteral("対応していない libdSakura.so です。MMLをコンパイルできません。");
const QString kNoMidiOutput = QStringLiteral(
    "MMLのコンパイルエラーはありませんが、MIDIファイルが生成または更新されていないので続行できません。");

// Splits text at CR LF, LF and CR; a line break at the very end starts no further line.
QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar ch = text.at(i);
        if (ch != u'\r' && ch != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (ch == u'\r' && i + 1 < size && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines << text.mid(start);
    return lines;
}

QString minutesSeconds(qint32 milliseconds)
{
    return formatMinutesSeconds(milliseconds);
}

// The compiler refuses longer sources (MML text is a few kilobytes a song); a larger file is
// refused before it is read, so it never has to be held and decoded.
constexpr qint64 kMaxMmlFileBytes = kMaxMmlSourceBytes;

bool isMmlFileName(const QString &fileName)
{
    return QFileInfo(fileName).suffix().toLower() == QLatin1String("mml");
}

// The text of the hidden lyric memo: every row followed by CR LF, up to kMaxHiddenMemoRows rows.
// No one sees or copies that box, and a song of a million lyric events kept the window
// busy for half a minute filling it; the lyric list and the karaoke window show every row.
QString hiddenLyricsMemoText(const TSmfMetaEventString &rows)
{
    QString text;
    const int count = std::min(rows.Count(), kMaxHiddenMemoRows);
    for (int i = 0; i < count; ++i) {
        text += rows.Strings(i);
        text += QLatin1String("\r\n");
    }
    return text;
}

} // namespace

SongLoader::SongLoader(Engine &engine, SongLoaderView &view, Ui &ui, const Settings &settings,
                       const int &infoFontPitch, const QString &appTitle)
    : m_engine(engine),
      m_view(view),
      m_ui(ui),
      m_settings(settings),
      m_infoFontPitch(infoFontPitch),
      m_appTitle(appTitle),
      m_compiler([](const QByteArray &mml, const QByteArray &midiPath, char *errMsg) {
          return SakuraMMLtoMIDI(mml.constData(), midiPath.constData(), errMsg);
      })
{
}

QString SongLoader::compiledMidiPathInUse() const
{
    return m_compiledMidiPath.isEmpty() ? compiledMidiPath() : m_compiledMidiPath;
}

bool SongLoader::readWholeFile(const QString &fileName, QByteArray &bytes)
{
    // The original let a read failure escape to the framework's default error box; here it
    // gets a message naming the file, and the window stays as the stop-and-empty step left it.
    // A FIFO, a device or a folder is refused before anything is read from it.
    FileReadResult read = readRegularFile(fileName, isMmlFileName(fileName) ? kMaxMmlFileBytes : kMaxSongFileBytes);
    if (read.error) {
        m_ui.showError(unreadableFileMessage(displayFileName(fileName), *read.error));
        return false;
    }
    bytes = std::move(read.bytes);
    return true;
}

LoadOutcome SongLoader::compile(const QString &mmlFileName, QString &midiFileName,
                                QByteArray &message)
{
    m_view.setTabVisible(InfoPage::CompileMsg, true);

    QByteArray source;
    if (!readWholeFile(mmlFileName, source))
        return LoadOutcome::ReadError;
    const QStringList lines = decodeTextLines(source);
    QByteArray().swap(source);   // the compile holds several copies: none of them twice
    // A character the compiler's CP932 cannot carry would reach it as "?" and change the song
    // silently; say where it is instead.
    const QStringList nonAnsi = nonAnsiLineMessages(lines);
    if (!nonAnsi.isEmpty()) {
        for (const QString &line : nonAnsi)
            m_view.appendCompileMessage(line);
        return failed(LoadOutcome::CompileError, InfoPage::CompileMsg);
    }
    QString mml;
    for (const QString &line : lines)
        mml += line + QStringLiteral("\r\n");

    midiFileName = compiledMidiPathInUse();
    const qint64 before = fileLastWriteTime(midiFileName, 0);

    // One byte more than announced to the compiler, so its text always ends in a zero even
    // when it fills the whole buffer.
    QByteArray buffer(kSakuraErrMsgLength + 1, '\0');
    int result;
    {
        const ModalLoopGuard modal(m_view.modalLoop());
        result = m_compiler(unicodeToAnsi(mml), encodeFileName(midiFileName), buffer.data());
    }
    message = QByteArray(buffer.constData(), static_cast<qsizetype>(std::strlen(buffer.constData())));

    // A compiler that reports success without writing a new file must not let an older
    // Compile.mid be played in its place.
    if (result == mcrSuccess) {
        if (!QFileInfo::exists(midiFileName) || fileLastWriteTime(midiFileName, 0) == before)
            result = mcrNoMidiOutput;
    }
    if (result == mcrSuccess)
        return LoadOutcome::Success;

    QString line;
    switch (result) {
    case mcrDllNotLoaded:
        line = kCompilerNotLoaded;
        break;
    case mcrEntryNotFound:
        line = kCompilerUnsupported;
        break;
    case mcrCompileError:
        line = ansiToUnicode(message);
        break;
    default:
        line = ansiToUnicode(message) + kNoMidiOutput;
        break;
    }
    m_view.appendCompileMessage(line);
    return failed(LoadOutcome::CompileError, InfoPage::CompileMsg);
}

LoadOutcome SongLoader::failed(LoadOutcome outcome, InfoPage page)
{
    // The previous song's lines would otherwise stay in the list of a window showing no song.
    m_song.SmfLyrics.Clear();
    m_song.Sung = SungLines();
    m_view.setLyricCount(0);
    m_view.setTabVisible(InfoPage::Lyrics, false);
    // A read error has had its message box already.
    if (outcome != LoadOutcome::ReadError)
        m_view.showFailure(page);
    return outcome;
}

LoadOutcome SongLoader::load(const QString &fileName)
{
    // 1. A missing file leaves everything as it is: the current song goes on playing.
    const QFileInfo info(fileName);
    if (const std::optional<LoadRefusal> refusal = refusalBeforeLoad(fileName)) {
        m_ui.showError(refusal->message);
        return refusal->outcome;
    }

    // A file too large to be a song is refused before anything is read or the current song
    // stopped: reading it would freeze the window and could take gigabytes.
    const bool mml = isMmlFileName(fileName);
    qint64 size = 0;
    FileReadResult head = readRegularFileHead(fileName, TSmfParser::kHeaderBytes, &size);
    if (!head.error && size > (mml ? kMaxMmlFileBytes : kMaxSongFileBytes))
        head.error = fileTooLargeText(size, mml ? kMaxMmlFileBytes : kMaxSongFileBytes);
    if (head.error) {
        m_ui.showError(unreadableFileMessage(displayFileName(fileName), *head.error));
        return LoadOutcome::ReadError;
    }

    // Whatever holds the current song's state across a modal loop learns here that it goes.
    m_view.modalLoop().beginSongReplacement();

    // 2. Stop and empty. The monitor runs once so the displays show the stopped engine; it
    // stays off until the new song is registered and never sees a half-loaded song.
    m_view.setMonitorEnabled(false);
    m_song.HasSong = false;
    m_engine.stop();
    m_engine.clearList();
    m_view.runMonitorStep();
    m_view.clearSongDisplay();

    // 3. Names.
    const QString caption = QStringLiteral("%1 - %2").arg(displayFileName(info.fileName()), m_appTitle);
    m_view.setCaption(caption);
    m_view.setSaveFileName(lyricsFileNameFor(displayFileName(fileName)));

    // 4, 5. Kind of file; MML is compiled first and the compiled file read in its place.
    QString midiFileName = fileName;
    QByteArray compilerMessage;
    if (mml) {
        const LoadOutcome compiled = compile(fileName, midiFileName, compilerMessage);
        if (compiled == LoadOutcome::ReadError)
            return failed(compiled, InfoPage::CompileMsg);
        if (compiled != LoadOutcome::Success)
            return compiled;
    } else {
        m_view.setTabVisible(InfoPage::CompileMsg, false);
    }

    // 6. Read and parse. The header is checked first: a large file that is no song is refused
    // without reading it all.
    m_song.MemoryStream.clear();
    TSmfParser parser;
    if (midiFileName == fileName) {
        try {
            TSmfParser::CheckHeader(head.bytes.constData(), static_cast<quint32>(head.bytes.size()));
        } catch (const ESmfParserException &error) {
            m_view.setCommentsText(splitLines(kParserErrorHeading + QStringLiteral("\r\n") + error.message()));
            return failed(LoadOutcome::ParseError, InfoPage::Info);
        }
    }
    // Read, parse and register off the window's thread: a song of tens of megabytes takes
    // seconds, and the window keeps answering meanwhile. The work touches nothing of the
    // window's; the current song was emptied above.
    m_song.Karaoke = isKaraokeFileName(fileName);
    const TLyricLoadOptions lyricOptions = lyricLoadOptions();
    const TextEncoding encoding = m_encodingLookup ? m_encodingLookup(fileName) : TextEncoding::Auto;
    const bool karaoke = m_song.Karaoke;
    const qint64 limit = isMmlFileName(midiFileName) ? kMaxMmlFileBytes : kMaxSongFileBytes;
    FileReadResult read;
    std::optional<QString> parseError;
    std::optional<QString> otherError;
    std::int32_t registered = BRSERROR_NOERROR;
    {
        const ModalLoopGuard modal(m_view.modalLoop());
        runWhileAnswering([&] {
            read = readRegularFile(midiFileName, limit);
            if (read.error)
                return;
            try {
                parser.SetLyricLoadOptions(lyricOptions);
                parser.SetKaraokeFile(karaoke);
                parser.SetTextEncoding(encoding);
                parser.Execute(read.bytes.constData(), static_cast<quint32>(read.bytes.size()));
            } catch (const ESmfParserException &error) {
                parseError = error.message();
                return;
            } catch (const std::exception &error) {
                otherError = QString::fromUtf8(error.what());
                return;
            }
            // Registered before the song's data is taken over: a song the engine refuses
            // would otherwise look loaded, with enabled buttons that play nothing.
            registered = m_engine.addListFromMemory(read.bytes);
        });
    }
    if (read.error) {
        m_ui.showError(unreadableFileMessage(displayFileName(midiFileName), *read.error));
        return failed(LoadOutcome::ReadError, InfoPage::Info);
    }
    if (parseError || otherError) {
        m_view.setCommentsText(splitLines((parseError ? kParserErrorHeading : kOtherErrorHeading) +
                                          QStringLiteral("\r\n") + (parseError ? *parseError : *otherError)));
        return failed(LoadOutcome::ParseError, InfoPage::Info);
    }
    if (registered != BRSERROR_NOERROR) {
        // The engine library is opened at run time: without it no song can play, whatever the song.
        m_view.setCommentsText(
            {kEngineErrorHeading,
             registered == BRSERROR_API_NULL
                 ? QStringLiteral("演奏エンジンのライブラリを読み込めなかったため、曲を演奏できません。"
                                  "Tonelark を入れ直してください (%1)。").arg(engineErrorName(registered))
                 : QStringLiteral("演奏エンジンがこの曲を受け付けませんでした (%1)。").arg(engineErrorName(registered))});
        return failed(LoadOutcome::EngineError, InfoPage::Info);
    }
    m_song.MemoryStream = std::move(read.bytes);

    // 7. Describe.
    m_song.BrsSmfInfo = m_engine.info();
    showTexts(parser, true);
    if (!compilerMessage.isEmpty())
        m_view.appendCompileMessage(trimControlAndSpace(ansiToUnicode(compilerMessage)));
    m_view.setApplicationTitle(caption);
    m_view.invokePlay();
    m_view.setMonitorEnabled(true);

    // 8. Finish.
    m_song.HasSong = true;
    const bool hasLyrics = m_song.SmfLyrics.Count() > 0;
    if (hasLyrics)
        m_view.resetLyricsList();
    if (hasLyrics && m_settings.Lyric.AutoLyricTab)
        m_view.setActivePage(InfoPage::Lyrics);
    m_view.resetCarets();
    return LoadOutcome::Success;
}

TLyricLoadOptions SongLoader::lyricLoadOptions() const
{
    TLyricLoadOptions options;
    if (m_settings.Lyric.TrimAnySpace)
        options.Include(lloTrimAnySpace);
    if (m_settings.Lyric.NoEmptyLines)
        options.Include(lloNoEmptyLines);
    return options;
}

void SongLoader::parse(TSmfParser &parser, TextEncoding choice) const
{
    parser.SetLyricLoadOptions(lyricLoadOptions());
    parser.SetKaraokeFile(m_song.Karaoke);
    parser.SetTextEncoding(choice);
    parser.Execute(m_song.MemoryStream.constData(), static_cast<quint32>(m_song.MemoryStream.size()));
}

void SongLoader::showTexts(TSmfParser &parser, bool load)
{
    m_song.Encoding = parser.TextEncodingChoice();
    m_song.UsedEncoding = parser.UsedTextEncoding();
    // The rows are the sung lines; for a song without karaoke marks in 自動 they are the
    // lyric line rule's rows, one or more per Lyric event.
    SungLines sung = buildSungLines(sungInputOf(parser, parser.TempoList()), lineModeOf(m_settings.Lyric.LineMode),
                                    parser.LyricLoadOptions());
    TSmfMetaEventString rows = sungLyricRows(sung);
    m_view.setSongTexts(songAuthorText(parser), songTitleText(parser), hiddenLyricsMemoText(rows));
    if (load)
        m_song.CurrentTempoList = parser.ExtractTempoList();
    m_song.SmfLyrics.Clear();
    m_song.SmfLyrics.Assign(std::move(rows));
    m_song.Sung = std::move(sung);
    m_view.setLyricCount(m_song.SmfLyrics.Count());

    const QStringList info = QStringList{kSongInfoHeading} + songInfoLines(m_song.BrsSmfInfo, m_infoFontPitch) +
                             xfInfoLines(m_song.Sung);
    if (load)
        m_view.appendComments(info);
    else
        m_view.setCommentsText(info);
    const TSmfMetaEventString &comment = parser.Comment();
    QStringList metaComments;
    for (int i = 0; i < comment.Count(); ++i)
        metaComments << comment.Strings(i);
    if (load && !metaComments.isEmpty())
        m_view.appendMetaComments(metaComments);
    else if (!load)
        m_view.setMetaCommentsText(metaComments);
    m_view.setTabVisible(InfoPage::Comments, !metaComments.isEmpty());
    m_view.setTabVisible(InfoPage::Lyrics, m_song.SmfLyrics.Count() > 0);
}

bool SongLoader::reread(TextEncoding choice)
{
    if (!m_song.HasSong)
        return false;
    TSmfParser parser;
    try {
        parse(parser, choice);
    } catch (const std::exception &) {
        // The bytes parsed at their load and are unchanged; a refusal now would be a fault.
        return false;
    }
    showTexts(parser, false);
    return true;
}

std::optional<LoadRefusal> refusalBeforeLoad(const QString &fileName)
{
    if (!pathExists(fileName) || isFolder(fileName))
        return LoadRefusal{LoadOutcome::MissingFile, missingFileMessage(displayFileName(fileName))};
    // A FIFO, a device or a socket is refused before the current song is stopped.
    if (!isRegularFile(fileName))
        return LoadRefusal{LoadOutcome::ReadError,
                           unreadableFileMessage(displayFileName(fileName), notRegularFileText())};
    return std::nullopt;
}

QString compiledMidiPath(const QString &programDir, bool programDirWritable, const QString &cacheDir)
{
    const QString folder = programDirWritable ? programDir : cacheDir;
    return QDir(folder).filePath(kCompiledMidiName);
}

QString userCacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/Tonelark");
}

QString compiledMidiPath()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const bool writable = !programDir.isEmpty() && ::access(QFile::encodeName(programDir).constData(), W_OK) == 0;
    const QString cache = userCacheFolder();
    if (!writable)
        QDir().mkpath(cache);
    return compiledMidiPath(programDir, writable, cache);
}

qint64 fileLastWriteTime(const QString &fileName, qint64 fallback)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fallback;
    struct stat status {};
    qint64 result = fallback;
    if (::fstat(fd, &status) == 0)
        result = static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    ::close(fd);
    return result;
}

QStringList decodeTextLines(const QByteArray &bytes)
{
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        text = decoder(bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringDecoder::Utf16BE);
        text = decoder(bytes.mid(2));
    } else if (isValidUtf8(bytes) && std::any_of(bytes.begin(), bytes.end(), [](char c) {
                   return static_cast<unsigned char>(c) >= 0x80;
               })) {
        text = QString::fromUtf8(bytes);
    } else {
        text = ansiToUnicode(bytes);
    }
    return splitLines(text);
}

QStringList nonAnsiLineMessages(const QStringList &lines)
{
    QStringList messages;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        // The compiler takes a zero-terminated text: everything after a NUL would be lost.
        if (line.contains(QChar(0))) {
            messages << QStringLiteral("%1行目: NUL 文字 (0x00) が含まれているため、MMLをコンパイルできません。")
                            .arg(i + 1);
            continue;
        }
        const qsizetype at = firstNonAnsiCharacter(line);
        if (at < 0)
            continue;
        const char32_t code = QStringView(line).sliced(at).toUcs4().value(0);
        const qsizetype units = code > 0xFFFF ? 2 : 1;
        messages << QStringLiteral("%1行目: 「%2」(U+%3) は CP932 で表せない文字のため、MMLをコンパイルできません。")
                        .arg(i + 1)
                        .arg(line.mid(at, units))
                        .arg(QString::number(code, 16).toUpper().rightJustified(4, u'0'));
    }
    return messages;
}

QString engineErrorName(std::int32_t code)
{
    static const char *const names[] = {
        "BRSERROR_NOERROR",           "BRSERROR_FAILED",            "BRSERROR_FILENOTFOUND",
        "BRSERROR_CANNOT_OPENFILE",   "BRSERROR_BADFILESIZE",       "BRSERROR_NOSMF",
        "BRSERROR_BADSMF",            "BRSERROR_UNMATCHED_SMF",     "BRSERROR_CANNOT_OPENDEVICE",
        "BRSERROR_CANNOT_STARTTIMER", "BRSERROR_ILLEGAL_POINTER",   "BRSERROR_TRACKLIMIT",
        "BRSERROR_NOTREADY",          "BRSERROR_UNDEFINED_ID",      "BRSERROR_API_NULL"};
    if (code >= 0 && code < static_cast<std::int32_t>(std::size(names)))
        return QString::fromLatin1(names[code]);
    return QStringLiteral("BRSERROR %1").arg(code);
}

QString lyricsFileNameFor(const QString &songFileName)
{
    QString name = QFileInfo(songFileName).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return name + QStringLiteral("-Lyrics.txt");
}

QStringList songInfoLines(const TBrs4SmfInformation &info, int infoFontPitch)
{
    if (infoFontPitch == 1) {
        return {
            QStringLiteral("    TimeBase: %1 ticks").arg(formatWidth8(info.TimeBase)),
            QStringLiteral("  Loop Start: %1 ticks (%2 - )")
                .arg(formatWidth8(info.LoopTick), minutesSeconds(info.LoopTime)),
            QStringLiteral("Total Length: %1 ticks ( - %2)")
                .arg(formatWidth8(info.TotalTick), minutesSeconds(info.TotalTime)),
            QStringLiteral("  First Note: %1 ticks (%2 - )")
                .arg(formatWidth8(info.FirstNoteTick), minutesSeconds(info.FirstNoteTime)),
            QStringLiteral("   Last Note: %1 ticks ( - %2)")
                .arg(formatWidth8(info.LastNoteTick), minutesSeconds(info.LastNoteTime)),
        };
    }
    if (infoFontPitch == 2) {
        const auto pair = [](qint32 tickA, qint32 timeA, qint32 tickB, qint32 timeB) {
            return QStringLiteral("    %1 ticks (%2) / %3 ticks (%4)")
                .arg(QString::number(tickA), minutesSeconds(timeA), QString::number(tickB),
                     minutesSeconds(timeB));
        };
        return {
            QStringLiteral(" TimeBase: %1 ticks").arg(info.TimeBase),
            QStringLiteral(" Loop / Total:"),
            pair(info.LoopTick, info.LoopTime, info.TotalTick, info.TotalTime),
            QStringLiteral(" First / Last Note:"),
            pair(info.FirstNoteTick, info.FirstNoteTime, info.LastNoteTick, info.LastNoteTime),
        };
    }
    return {};
}

QStringList xfInfoLines(const SungLines &lines)
{
    if (!lines.xf)
        return {};
    QStringList out{QStringLiteral("[XF Info]")};
    const XfSongInfo &info = lines.xfInfo;
    const std::pair<const char *, const QString *> fields[] = {
        {"Title", &info.title},         {"Composer", &info.composer},   {"Lyricist", &info.lyricist},
        {"Arranger", &info.arranger},   {"Performer", &info.performer}, {"Programmer", &info.programmer},
        {"Header", &info.header},       {"Language", &lines.language},
    };
    for (const auto &[name, value] : fields)
        if (!value->isEmpty())
            out << QStringLiteral(" %1: %2").arg(QLatin1String(name), *value);
    if (!lines.melodyChannels.empty()) {
        QStringList channels;
        for (int channel : lines.melodyChannels)
            channels << QString::number(channel);
        out << QStringLiteral(" Melody: ch %1").arg(channels.join(QStringLiteral(", ")));
    }
    if (lines.offsetTicks != 0)
        out << QStringLiteral(" Lyric Offset: %1 ticks").arg(lines.offsetTicks);
    return out;
}

SungLineMode lineModeOf(qint32 setting)
{
    switch (setting) {
    case 1:
        return SungLineMode::AlwaysJoin;
    case 2:
        return SungLineMode::PerEvent;
    default:
        return SungLineMode::Auto;
    }
}

QString missingFileMessage(const QString &fileName)
{
    return QStringLiteral("\"%1\"\r\n\r\nが見つかりません。").arg(fileName);
}

QString unreadableFileMessage(const QString &fileName, const QString &reason)
{
    return QStringLiteral("\"%1\"\r\n\r\nを読み込めません。\r\n%2").arg(fileName, reason);
}

} // namespace tonelark
