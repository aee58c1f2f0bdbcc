#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace tonelark {

// What the program's arguments ask for. Songs keep their order; Qt's own options (-platform
// and the like) are left for QApplication and are no songs.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QStringList files;   // songs, as given (paths or file:// URIs turned into paths)
    QString error;       // the one-line reason for Action::Error
};

// Reads the arguments after the program name. "--" ends the options: what follows is a song
// even when it looks like an option ("./--help" is one too).
CommandLine parseCommandLine(const QStringList &arguments);

// True when the user's messages locale (LC_ALL, LC_MESSAGES, LANG) is Japanese.
bool commandLineInJapanese();

// Prints usage or version to out, or the error to err; returns the process exit code (0 or 2).
int runCommandLineAnswer(const CommandLine &commandLine, bool japanese, std::FILE *out,
                         std::FILE *err);

} // namespace tonelark
