#pragma once

#include <QCoreApplication>
#include <QString>

#include "LauncherError.h"
#include "Platform.h"

class ElevatedRun;

// Starting the two other programs of the system.
namespace ProgramStart {

// Starts the design application installPath + "/Orvel.exe" ("Orvel" off Windows) detached, handing it the stored
// sealed token (setting "JWT") as Base64url text with its "=" padding: on Windows as the argument after "/token",
// elsewhere in the environment variable ORVEL_TOKEN with "/token" as the only argument. NoError, AppNotFound or
// AppStartFailed. The caller quits afterwards in every case.
LauncherError play(const QString& installPath);
// The application that play() starts exists in installPath.
bool isInstalled(const QString& installPath);

// Runs the copy manager of the launcher in programDir (beside it, or libexec/orvel/ of an installed prefix) with the
// rights to write installPath, with the download application folder and the installation folder as arguments (after
// "--move" when it runs with our own rights and the download folder is on the installation's file system), and waits
// for it. True only when it ran to its end and reported exit code 0: anything else means a partly
// installed update.
bool startCopyManager(const QString& downloadAppDir, const QString& installPath,
                      const QString& programDir = QCoreApplication::applicationDirPath());

// The same start without waiting: the returned run (a child of `parent`) reports the copy manager's end through
// ElevatedRun::finished, which copyManagerSucceeded() turns into the answer startCopyManager() gives. The window
// keeps repainting and taking input meanwhile.
ElevatedRun* startCopyManagerAsync(const QString& downloadAppDir, const QString& installPath, QObject* parent,
                                   const QString& programDir = QCoreApplication::applicationDirPath());

// startCopyManagerAsync() waited for in a local event loop: the answer of startCopyManager() for a caller that must
// wait, while the window goes on repainting and can be moved. A quit asked for meanwhile takes effect afterwards: an
// installation is never cut short.
bool runCopyManager(const QString& downloadAppDir, const QString& installPath,
                    const QString& programDir = QCoreApplication::applicationDirPath());

// True only for a copy manager that ran to its end with exit code 0; the reason is logged otherwise.
bool copyManagerSucceeded(const Platform::ElevatedResult& result);

} // namespace ProgramStart
