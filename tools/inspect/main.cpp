// tonelark-inspect [--trim] [--no-empty] [--encoding E] FILE
// tonelark-inspect [--trim] [--no-empty] [--encoding E] --display [--join | --per-event] FILE
// tonelark-inspect --engine FILE
//
// Parses FILE as the player does and prints one JSON object (UTF-8, one line): the header,
// the texts, the lyric lines with their times (a karaoke song's words among them) and the
// tempo map, whether the song was read as karaoke and its texts as UTF-8, and what the
// author and title boxes show, and the encoding the texts were read in ("encoding": "cp932",
// "utf8" or "cp1252"; --encoding auto|cp932|utf8|cp1252 chooses it as the player's 文字コード
// menu does, auto being docs/ENCODINGS.md's table); or {"ok": false, "error": …}
// with the parser's message when the file is refused. With --display the object is the song's
// sung lines as the lyrics list shows them (see docs/LYRICS.md), by the 自動 rule or with
// --join / --per-event by the other two. With --engine, FILE is registered in the
// playback engine instead and the object holds the engine's song information, or the engine's
// error code by name. Exit code 0 either way; 2 when the arguments are unusable or the file
// cannot be read (message on stderr).

#include "Brisola.h"
#include "FileNames.h"
#include "SafeFile.h"
#include "SmfParser.h"
#include "SungLines.h"
#include "TextEncoding.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>


using namespace tonelark;

namespace {

constexpr int kExitUsage = 2;

struct Options {
    TLyricLoadOptions lyricOptions;
    bool lyricOptionGiven = false;
    bool engine = false;
    bool display = false;
    SungLineMode lineMode = SungLineMode::Auto;
    bool lineModeGiven = false;
    TextEncoding encoding = TextEncoding::Auto;
    bool encodingGiven = false;
    QString file;
};

QString jsonString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\b': out += QLatin1String("\\b"); break;
        case u'\f': out += QLatin1String("\\f"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QString jsonBool(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString jsonLines(const TSmfMetaEventString &lines)
{
    QStringList items;
    for (int i = 0; i < lines.Count(); ++i)
        items << jsonString(lines.Strings(i));
    return u'[' + items.join(QLatin1String(", ")) + u']';
}

QString jsonLyrics(const TSmfMetaEventString &lyric)
{
    QStringList items;
    for (int i = 0; i < lyric.Count(); ++i) {
        const TSmfLyricInfo *info = lyric.Objects(i);
        const TSmfLyricInfo none;
        const TSmfLyricInfo &timing = info ? *info : none;
        items << QStringLiteral("{\"text\": %1, \"tick\": %2, \"ms\": %3, \"second\": %4, \"hide\": %5}")
                     .arg(jsonString(lyric.Strings(i)))
                     .arg(timing.Tick)
                     .arg(timing.Millisecond)
                     .arg(timing.Second)
                     .arg(jsonBool(timing.HideLyricTime));
    }
    return u'[' + items.join(QLatin1String(", ")) + u']';
}

QString jsonTempo(const TSmfEventTempoList &tempo)
{
    QStringList items;
    for (const TSmfEventTempo &entry : tempo.entries())
        items << QStringLiteral("[%1, %2]").arg(entry.FPosition).arg(entry.FMicroseconds);
    return u'[' + items.join(QLatin1String(", ")) + u']';
}

QString failureJson(const QString &message)
{
    return QStringLiteral("{\"ok\": false, \"error\": %1}").arg(jsonString(message));
}

// The song facts of data as one JSON object; a refusal is reported inside it.
QString songJson(const QByteArray &data, TLyricLoadOptions lyricOptions, bool karaokeFile, TextEncoding encoding)
{
    TSmfParser parser;
    parser.SetLyricLoadOptions(lyricOptions);
    parser.SetTextEncoding(encoding);
    parser.SetKaraokeFile(karaokeFile);
    try {
        parser.Execute(data.constData(), static_cast<quint32>(data.size()));
    } catch (const ESongException &e) {
        return failureJson(e.message());
    }
    const TSmfMthd mthd = parser.GetSmfHeader();
    const std::unique_ptr<TSmfEventTempoList> tempo = parser.ExtractTempoList();
    return QStringLiteral("{\"ok\": true, \"header\": {\"format\": %1, \"tracks\": %2, \"timebase\": %3}, "
                          "\"copyright\": %4, \"title\": %5, \"comment\": %6, \"lyrics\": %7, \"tempo\": %8, "
                          "\"encoding\": %13, \"karaoke\": %9, \"utf8\": %10, \"boxes\": {\"author\": %11, \"title\": %12}}")
        .arg(mthd.Format)
        .arg(mthd.TrackCount)
        .arg(mthd.TimeBase)
        .arg(jsonLines(parser.Copyright()), jsonLines(parser.Title()), jsonLines(parser.Comment()),
             jsonLyrics(parser.Lyric()), jsonTempo(*tempo), jsonBool(parser.IsKaraoke()),
             jsonBool(parser.Utf8Texts()), jsonString(songAuthorText(parser)), jsonString(songTitleText(parser)))
        .arg(jsonString(textEncodingName(parser.UsedTextEncoding())));
}

QString jsonInts(const std::vector<int> &values)
{
    QStringList items;
    for (int value : values)
        items << QString::number(value);
    return u'[' + items.join(QLatin1String(", ")) + u']';
}

// The sung lines of data as one JSON object; keys without a value are left out.
QString displayJson(const QByteArray &data, TLyricLoadOptions lyricOptions, bool karaokeFile, SungLineMode mode,
                    TextEncoding encoding)
{
    TSmfParser parser;
    parser.SetLyricLoadOptions(lyricOptions);
    parser.SetTextEncoding(encoding);
    parser.SetKaraokeFile(karaokeFile);
    try {
        parser.Execute(data.constData(), static_cast<quint32>(data.size()));
    } catch (const ESongException &e) {
        return failureJson(e.message());
    }
    const SungLines sung = buildSungLines(sungInputOf(parser, parser.TempoList()), mode, lyricOptions);
    QStringList fields{QStringLiteral("\"ok\": true"), QStringLiteral("\"sung\": %1").arg(jsonBool(sung.sung)),
                       QStringLiteral("\"source\": %1").arg(jsonString(sungSourceName(sung.source))),
                       QStringLiteral("\"encoding\": %1").arg(jsonString(textEncodingName(parser.UsedTextEncoding())))};
    if (!sung.melodyChannels.empty())
        fields << QStringLiteral("\"melody_channels\": %1").arg(jsonInts(sung.melodyChannels));
    if (sung.offsetTicks != 0)
        fields << QStringLiteral("\"offset_ticks\": %1").arg(sung.offsetTicks);
    if (!sung.language.isEmpty())
        fields << QStringLiteral("\"language\": %1").arg(jsonString(sung.language));
    if (sung.xf) {
        const XfSongInfo &xf = sung.xfInfo;
        QStringList names;
        const std::pair<const char *, const QString *> known[] = {
            {"title", &xf.title},         {"composer", &xf.composer},   {"lyricist", &xf.lyricist},
            {"arranger", &xf.arranger},   {"performer", &xf.performer}, {"programmer", &xf.programmer},
            {"header", &xf.header},
        };
        for (const auto &[key, value] : known)
            if (!value->isEmpty())
                names << QStringLiteral("\"%1\": %2").arg(QLatin1String(key), jsonString(*value));
        fields << QStringLiteral("\"xf\": {%1}").arg(names.join(QLatin1String(", ")));
    }
    QStringList lines;
    for (const SungLine &line : sung.lines) {
        QStringList ruby;
        for (const SungRuby &pair : line.ruby)
            ruby << QStringLiteral("[%1, %2]").arg(jsonString(pair.base), jsonString(pair.reading));
        QStringList syllables;
        for (const SungSyllable &s : line.syllables) {
            QString item = QStringLiteral("{\"tick\": %1, \"ms\": %2, \"text\": %3")
                               .arg(s.tick).arg(s.ms).arg(jsonString(s.text));
            if (!s.reading.isEmpty())
                item += QStringLiteral(", \"reading\": %1").arg(jsonString(s.reading));
            if (!s.part.isEmpty())
                item += QStringLiteral(", \"part\": %1").arg(jsonString(s.part));
            syllables << item + u'}';
        }
        QString item = QStringLiteral("{\"tick\": %1, \"ms\": %2, \"page\": %3, \"text\": %4")
                           .arg(line.tick).arg(line.ms).arg(line.page).arg(jsonString(line.text));
        if (!ruby.isEmpty())
            item += QStringLiteral(", \"ruby\": [%1]").arg(ruby.join(QLatin1String(", ")));
        if (line.hideTime)
            item += QStringLiteral(", \"hide\": true");
        item += QStringLiteral(", \"syllables\": [%1]}").arg(syllables.join(QLatin1String(", ")));
        lines << item;
    }
    fields << QStringLiteral("\"lines\": [%1]").arg(lines.join(QLatin1String(", ")));
    return u'{' + fields.join(QLatin1String(", ")) + u'}';
}

int fail(const QString &message)
{
    std::fprintf(stderr, "tonelark-inspect: %s\n", qPrintable(message));
    std::fprintf(stderr, "usage: tonelark-inspect [--trim] [--no-empty] [--encoding auto|cp932|utf8|cp1252] FILE\n"
                         "       tonelark-inspect [--trim] [--no-empty] [--encoding E] --display [--join | --per-event] FILE\n"
                         "       tonelark-inspect --engine FILE\n");
    return kExitUsage;
}

// Fills options from the arguments (without the program name); returns an error text or "".
QString parseArguments(const QStringList &arguments, Options &options)
{
    bool filesOnly = false;
    bool encodingNext = false;
    const auto takeEncoding = [&options](const QString &name) {
        const std::optional<TextEncoding> encoding = textEncodingFromName(name);
        if (!encoding)
            return QStringLiteral("unknown encoding \"%1\" (auto, cp932, utf8 or cp1252)").arg(name);
        options.encoding = *encoding;
        options.encodingGiven = true;
        return QString();
    };
    for (const QString &argument : arguments) {
        if (encodingNext) {
            encodingNext = false;
            if (const QString error = takeEncoding(argument); !error.isEmpty())
                return error;
        } else if (!filesOnly && argument == QLatin1String("--encoding"))
            encodingNext = true;
        else if (!filesOnly && argument.startsWith(QLatin1String("--encoding="))) {
            if (const QString error = takeEncoding(argument.sliced(11)); !error.isEmpty())
                return error;
        } else if (!filesOnly && argument == QLatin1String("--"))
            filesOnly = true;
        else if (!filesOnly && argument == QLatin1String("--trim"))
            options.lyricOptions.Include(lloTrimAnySpace), options.lyricOptionGiven = true;
        else if (!filesOnly && argument == QLatin1String("--no-empty"))
            options.lyricOptions.Include(lloNoEmptyLines), options.lyricOptionGiven = true;
        else if (!filesOnly && argument == QLatin1String("--engine"))
            options.engine = true;
        else if (!filesOnly && argument == QLatin1String("--display"))
            options.display = true;
        else if (!filesOnly && argument == QLatin1String("--join"))
            options.lineMode = SungLineMode::AlwaysJoin, options.lineModeGiven = true;
        else if (!filesOnly && argument == QLatin1String("--per-event"))
            options.lineMode = SungLineMode::PerEvent, options.lineModeGiven = true;
        else if (!filesOnly && argument.startsWith(u'-') && argument.size() > 1)
            return QStringLiteral("unknown option \"%1\"").arg(argument);
        else if (!options.file.isEmpty())
            return QStringLiteral("more than one file given");
        else
            options.file = argument;
    }
    if (encodingNext)
        return QStringLiteral("--encoding needs auto, cp932, utf8 or cp1252");
    if (options.file.isEmpty())
        return QStringLiteral("no file given");
    if (options.engine && options.encodingGiven)
        return QStringLiteral("--encoding does not apply to --engine");
    if (options.engine && options.lyricOptionGiven)
        return QStringLiteral("--trim and --no-empty do not apply to --engine");
    if (options.engine && options.display)
        return QStringLiteral("--engine and --display exclude each other");
    if (options.lineModeGiven && !options.display)
        return QStringLiteral("--join and --per-event need --display");
    return {};
}

const char *brsErrorName(std::int32_t code)
{
    static const char *const names[] = {
        "BRSERROR_NOERROR",        "BRSERROR_FAILED",         "BRSERROR_FILENOTFOUND",      "BRSERROR_CANNOT_OPENFILE",
        "BRSERROR_BADFILESIZE",    "BRSERROR_NOSMF",          "BRSERROR_BADSMF",            "BRSERROR_UNMATCHED_SMF",
        "BRSERROR_CANNOT_OPENDEVICE", "BRSERROR_CANNOT_STARTTIMER", "BRSERROR_ILLEGAL_POINTER", "BRSERROR_TRACKLIMIT",
        "BRSERROR_NOTREADY",       "BRSERROR_UNDEFINED_ID",   "BRSERROR_API_NULL"};
    return code >= 0 && code < std::int32_t(std::size(names)) ? names[code] : "BRSERROR_FAILED";
}

// The engine's song information for data, or its error code by name.
QString engineJson(const QByteArray &data)
{
    const std::int32_t result = BRS4AddListFromMemory(data.constData(), std::int32_t(data.size()), 0, 0);
    if (result != BRSERROR_NOERROR)
        return failureJson(QString::fromLatin1(brsErrorName(result)));
    TBrs4SmfInformation info{};
    const std::int32_t read = BRS4GetSmfInformation(&info, sizeof info, 0);
    if (read != BRSERROR_NOERROR)
        return failureJson(QString::fromLatin1(brsErrorName(read)));
    return QStringLiteral("{\"timebase\": %1, \"total_tick\": %2, \"total_time\": %3, \"first_note_tick\": %4, "
                          "\"first_note_time\": %5, \"last_note_tick\": %6, \"last_note_time\": %7, "
                          "\"loop_tick\": %8, \"loop_time\": %9}")
        .arg(info.TimeBase)
        .arg(info.TotalTick)
        .arg(info.TotalTime)
        .arg(info.FirstNoteTick)
        .arg(info.FirstNoteTime)
        .arg(info.LastNoteTick)
        .arg(info.LastNoteTime)
        .arg(info.LoopTick)
        .arg(info.LoopTime);
}

int run(const Options &options)
{
    // By the name's own bytes, so that names that are no UTF-8 open too; as the player, a
    // FIFO or a device is refused without waiting on it, and so is a file too large for a song.
    const FileReadResult read = readRegularFile(options.file, kMaxSongFileBytes);
    if (read.error)
        return fail(QStringLiteral("cannot read \"%1\": %2").arg(displayFileName(options.file), *read.error));
    const QByteArray &data = read.bytes;

    const bool karaokeFile = isKaraokeFileName(options.file);
    const QString answer = options.engine    ? engineJson(data)
                           : options.display ? displayJson(data, options.lyricOptions, karaokeFile, options.lineMode,
                                                           options.encoding)
                                             : songJson(data, options.lyricOptions, karaokeFile, options.encoding);
    const QByteArray json = answer.toUtf8() + '\n';
    std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    const QString error = parseArguments(commandLineArguments(argc, argv), options);
    if (!error.isEmpty())
        return fail(error);
    return run(options);
}
