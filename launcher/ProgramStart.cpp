#include "ProgramStart.h"

#include <memory>

#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>

#include "AppSettings.h"
#include "ElevatedCommand.h"
#include "ElevatedRun.h"
#include "Events.h"
#include "InstallLayout.h"
#include "LauncherLogging.h"
#include "Platform.h"

namespace ProgramStart {

namespace {
QString applicationProgram(const QString& installPath)
{
    return installPath + QLatin1Char('/') + Platform::executableName(QStringLiteral("Orvel"));
}

// The download cache is used up by an install: where the copy manager runs with our own rights and the cache shares
// the installation's file system, it renames the files into place instead of copying them.
QStringList copyManagerArguments(const QString& downloadAppDir, const QString& installPath)
{
    if (ElevatedCommand::canMoveInto(downloadAppDir, installPath))
        return {QStringLiteral("--move"), downloadAppDir, installPath};
    return {downloadAppDir, installPath};
}
} // namespace

bool isInstalled(const QString& installPath)
{
    return QFileInfo(applicationProgram(installPath)).isFile();
}

LauncherError play(const QString& installPath)
{
    const QString program = applicationProgram(installPath);
    if (!QFileInfo::exists(program)) {
        qCWarning(lcLauncher) << "Orvel.exe file does not exist.";
        return AppNotFound;
    }
    const QByteArray sealed = AppSettings::storedToken();
    const QString token = QString::fromLatin1(sealed.toBase64(QByteArray::Base64UrlEncoding));
    QProcess orvel;
    orvel.setProgram(program);
#ifdef Q_OS_WIN
    orvel.setArguments({QStringLiteral("/token"), token});
#else
    // A command line is readable by every local user under /proc; the environment only by this user.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVEL_TOKEN"), token);
    orvel.setProcessEnvironment(environment);
    orvel.setArguments({QStringLiteral("/token")});
#endif
    if (!orvel.startDetached()) {
        qCWarning(lcLauncher) << "Failed to run Orvel.";
        return AppStartFailed;
    }
    qCDebug(lcLauncher) << "Orvel execution success.";
    emitEvent("application-started");
    return NoError;
}

bool startCopyManager(const QString& downloadAppDir, const QString& installPath, const QString& programDir)
{
    const QString program = InstallLayout::copyManagerProgram(programDir);
    qCInfo(lcLauncher).noquote() << "Starting the copy manager" << program;
    return copyManagerSucceeded(
        Platform::runElevatedAndWait(program, copyManagerArguments(downloadAppDir, installPath), installPath));
}

ElevatedRun* startCopyManagerAsync(const QString& downloadAppDir, const QString& installPath, QObject* parent,
                                   const QString& programDir)
{
    const QString program = InstallLayout::copyManagerProgram(programDir);
    qCInfo(lcLauncher).noquote() << "Starting the copy manager" << program;
    auto* run = new ElevatedRun(parent);
    run->start(program, copyManagerArguments(downloadAppDir, installPath), installPath);
    return run;
}

bool runCopyManager(const QString& downloadAppDir, const QString& installPath, const QString& programDir)
{
    std::unique_ptr<ElevatedRun> run(startCopyManagerAsync(downloadAppDir, installPath, nullptr, programDir));
    Platform::ElevatedResult result;
    QObject::connect(run.get(), &ElevatedRun::finished,
                     [&result](Platform::ElevatedResult _result) { result = _result; });
    // Not exec(): after the application's quit it returns at once, and the copy manager must still be waited for.
    QEventLoop loop;
    while (run->isRunning())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return copyManagerSucceeded(result);
}

bool copyManagerSucceeded(const Platform::ElevatedResult& result)
{
    switch (result.outcome) {
    case Platform::ElevatedOutcome::NotStarted:
        qCWarning(lcLauncher) << "Copy manager not started";
        return false;
    case Platform::ElevatedOutcome::WaitFailed:
        qCWarning(lcLauncher) << "Waiting for the copy manager failed";
        return false;
    case Platform::ElevatedOutcome::Ended:
        break;
    }
    if (result.exitCode != 0) {
        qCWarning(lcLauncher) << "Copy manager exited with code" << result.exitCode;
        return false;
    }
    return true;
}

} // namespace ProgramStart
