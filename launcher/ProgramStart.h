#pragma once

#include <QCoreApplication>
#include <QString>

#include "LauncherError.h"

// Starting the two other programs of the system.
namespace ProgramStart {

// Starts the design application installPath + "/Orvel.exe" ("Orvel" off Windows) detached, with "/token" and the
// stored sealed token (setting "JWT") as Base64url text with its "=" padding. NoError, AppNotFound or
// AppStartFailed. The caller quits afterwards in every case.
LauncherError play(const QString& installPath);

// Runs the copy manager of the launcher in programDir (beside it, or libexec/orvel/ of an installed prefix) with the
// rights to write installPath, with exactly two arguments (the download application folder and the installation
// folder), and waits for it. True only when it ran to its end and reported exit code 0: anything else means a partly
// installed update.
bool startCopyManager(const QString& downloadAppDir, const QString& installPath,
                      const QString& programDir = QCoreApplication::applicationDirPath());

} // namespace ProgramStart
