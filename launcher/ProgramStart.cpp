#include "ProgramStart.h"

#include <QFileInfo>
#include <QProcess>

#include "AppSettings.h"
#include "Events.h"
#include "InstallLayout.h"
#include "LauncherLogging.h"
#include "Platform.h"

namespace ProgramStart {

LauncherError play(const QString& installPath)
{
    const QString program = installPath + QLatin1Char('/') + Platform::executableName(QStringLiteral("Orvel"));
    if (!QFileInfo::exists(program)) {
        qCDebug(lcLauncher) << "Orvel.exe file does not exist.";
        return AppNotFound;
    }
    const QByteArray sealed = readAppSetting(QStringLiteral("JWT"), QByteArray()).toByteArray();
    const QString token = QString::fromLatin1(sealed.toBase64(QByteArray::Base64UrlEncoding));
    if (!QProcess::startDetached(program, {QStringLiteral("/token"), token})) {
        qCDebug(lcLauncher) << "Failed to run Orvel.";
        return AppStartFailed;
    }
    qCDebug(lcLauncher) << "Orvel execution success.";
    emitEvent("application-started");
    return NoError;
}

bool startCopyManager(const QString& downloadAppDir, const QString& installPath, const QString& programDir)
{
    const QString program = InstallLayout::copyManagerProgram(programDir);
    const Platform::ElevatedResult result =
        Platform::runElevatedAndWait(program, {downloadAppDir, installPath}, installPath);
    switch (result.outcome) {
    case Platform::ElevatedOutcome::NotStarted:
        qCDebug(lcLauncher).noquote() << "Copy manager not started:" << program;
        return false;
    case Platform::ElevatedOutcome::WaitFailed:
        qCDebug(lcLauncher) << "Waiting for the copy manager failed";
        return false;
    case Platform::ElevatedOutcome::Ended:
        break;
    }
    if (result.exitCode != 0) {
        qCDebug(lcLauncher) << "Copy manager exited with code" << result.exitCode;
        return false;
    }
    return true;
}

} // namespace ProgramStart
