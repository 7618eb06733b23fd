#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Platform.h"

// What the waiting and the asynchronous elevated starts share on Linux.
namespace ElevatedCommand {

// The command line that runs `program` with the rights to write `folderToWrite`: the program itself when the user can
// already write there (or create it), else the elevation command (pkexec, or ORVEL_ELEVATE_COMMAND) with the
// program's absolute path in front of the arguments.
struct Command
{
    QString program; // what is started: the program itself or the elevation command
    QStringList arguments;
    bool elevated = false;
    QString target; // the program the caller asked for
};
Command forFolder(const QString& program, const QStringList& arguments, const QString& folderToWrite);

// True when a program started for `folderToWrite` runs with the caller's own rights (never on Windows, where it is
// always elevated) and `source` lies on the file system of that folder (or of its nearest existing parent): files can
// then be renamed from one into the other.
bool canMoveInto(const QString& source, const QString& folderToWrite);

// The result of a run that ended with `exitCode` (-1 when it crashed): the elevation command's own exit codes for a
// dismissed or refused prompt mean that the program never ran.
Platform::ElevatedResult ended(const Command& command, int exitCode);

// Logs the complete lines of the program's standard error in `pending` (the rest too when `atEnd`), one message each,
// and keeps an incomplete last line for later: the copy manager's refusals belong in the user's log.
void logErrorOutput(QByteArray& pending, bool atEnd);

} // namespace ElevatedCommand
