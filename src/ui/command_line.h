#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do by its arguments.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // Songs to add, as absolute paths, in the order given.
    QStringList files;
    // For Error: what was wrong, for standard error.
    QString error;
};

// Reads the arguments (without the program's name). Relative file names are taken from
// currentDir; "file:" URLs name local files. "--" ends the options, so that a file whose name
// starts with "-" can be given.
CommandLine ParseCommandLine(const QStringList& args, const QString& currentDir);

QString HelpText();
QString VersionText();
