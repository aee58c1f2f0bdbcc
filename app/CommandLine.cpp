#include "CommandLine.h"

#include <cstdlib>

namespace tonelark {

namespace {

// Options QGuiApplication and QApplication take from argv themselves, with whether a value
// follows. They are accepted with one or two dashes.
struct QtOption {
    const char *name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},   {"platformpluginpath", true}, {"platformtheme", true},
    {"plugin", true},     {"qmljsdebugger", true},      {"qwindowgeometry", true},
    {"qwindowicon", true}, {"qwindowtitle", true},      {"session", true},
    {"style", true},      {"stylesheet", true},         {"display", true},
    {"name", true},       {"title", true},              {"visual", true},
    {"geometry", true},   {"reverse", false},           {"widgetcount", false},
    {"nograb", false},    {"dograb", false},            {"sync", false},
};

const QtOption *qtOption(const QString &argument)
{
    QString name = argument.sliced(argument.startsWith(u"--") ? 2 : 1);
    for (const QtOption &option : kQtOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

constexpr char kUsageEnglish[] =
    "Usage: tonelark [OPTION] [SONG...]\n"
    "Plays Standard MIDI Files (.mid, .midi), karaoke files (.kar) and MML songs (.mml)\n"
    "and shows their texts and lyrics in step with the music.\n"
    "A song given while Tonelark is already running is handed to the running window.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --             the arguments that follow are songs, even when they begin with '-'\n"
    "\n"
    "A SONG is a path or a file:// URI.\n";

constexpr char kUsageJapanese[] =
    "使い方: tonelark [オプション] [曲...]\n"
    "スタンダード MIDI ファイル (.mid, .midi)、カラオケファイル (.kar)、MML の曲 (.mml) を演奏し、\n"
    "曲のテキストと歌詞を演奏に合わせて表示します。\n"
    "Tonelark が起動中のときは、指定した曲を起動中のウィンドウに渡します。\n"
    "\n"
    "  -h, --help     この説明を表示して終了します\n"
    "  -V, --version  バージョンを表示して終了します\n"
    "  --             これ以降の引数は '-' で始まっていても曲として扱います\n"
    "\n"
    "曲にはパスか file:// URI を指定します。\n";

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine result;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || argument.size() < 2 || !argument.startsWith(u'-')) {
            result.files << argument;
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"-h" || argument == u"--help") {
            result.action = CommandLine::Action::Help;
            return result;
        } else if (argument == u"-V" || argument == u"--version") {
            result.action = CommandLine::Action::Version;
            return result;
        } else if (const QtOption *option = qtOption(argument)) {
            if (option->takesValue)
                ++i;
        } else {
            result.action = CommandLine::Action::Error;
            result.error = argument;
            return result;
        }
    }
    return result;
}

bool commandLineInJapanese()
{
    // The first of these that is set and not empty names the messages locale, as in gettext.
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return QLatin1String(value).startsWith(QLatin1String("ja"));
    }
    return false;
}

int runCommandLineAnswer(const CommandLine &commandLine, bool japanese, std::FILE *out,
                         std::FILE *err)
{
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(japanese ? kUsageJapanese : kUsageEnglish, out);
        return 0;
    case CommandLine::Action::Version:
        std::fprintf(out, "Tonelark %s\n", TONELARK_PROJECT_VERSION);
        return 0;
    case CommandLine::Action::Error: {
        const QByteArray option = commandLine.error.toLocal8Bit();
        if (japanese)
            std::fprintf(err, "tonelark: 不明なオプションです: %s（tonelark --help で使い方を表示します）\n",
                         option.constData());
        else
            std::fprintf(err, "tonelark: unknown option: %s (see tonelark --help)\n", option.constData());
        return 2;
    }
    case CommandLine::Action::Run:
        break;
    }
    return 0;
}

} // namespace tonelark
