#include "Platform.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <string>

#include <windows.h>
#include <shellapi.h>
#else
#include <QFile>
#include <QProcess>

#include <unistd.h>
#endif

#include "PlatformLogging.h"

namespace Platform {

#ifdef Q_OS_WIN

ElevatedResult runElevatedAndWait(const QString& program, const QStringList& arguments, const QString&)
{
    // One parameter string; each argument in double quotes so that folders with blanks stay one argument.
    QStringList quoted;
    for (const QString& argument : arguments)
        quoted << QLatin1Char('"') + argument + QLatin1Char('"');
    const std::wstring file = program.toStdWString();
    const std::wstring parameters = quoted.join(QLatin1Char(' ')).toStdWString();

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;

    ElevatedResult result;
    if (!ShellExecuteExW(&info)) {
        // Includes the user declining the elevation prompt (ERROR_CANCELLED).
        qCDebug(lcPlatform) << "Elevated start failed, error" << GetLastError();
        return result;
    }
    if (!info.hProcess)
        return result;

    if (WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        result.outcome = ElevatedOutcome::Ended;
        result.exitCode = GetExitCodeProcess(info.hProcess, &exitCode) ? static_cast<int>(exitCode) : -1;
    } else {
        result.outcome = ElevatedOutcome::WaitFailed;
    }
    CloseHandle(info.hProcess);
    return result;
}

#else

namespace {
// pkexec's own exit codes: the user dismissed the authentication dialog, or is not authorised.
constexpr int kElevationDismissed = 126;
constexpr int kElevationNotAuthorized = 127;

// The folder may not exist yet (a first installation): then the right to create it is what counts.
bool canWriteFolder(const QString& folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

ElevatedResult runAndWait(const QString& program, const QStringList& arguments)
{
    ElevatedResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments, QIODevice::NotOpen);
    if (!process.waitForStarted(-1)) {
        qCDebug(lcPlatform) << "Cannot start" << program << process.errorString();
        return result;
    }
    if (!process.waitForFinished(-1)) {
        qCDebug(lcPlatform) << "Waiting for" << program << "failed:" << process.errorString();
        result.outcome = ElevatedOutcome::WaitFailed;
        return result;
    }
    result.outcome = ElevatedOutcome::Ended;
    if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    } else {
        qCDebug(lcPlatform) << program << "crashed";
    }
    return result;
}
} // namespace

ElevatedResult runElevatedAndWait(const QString& program, const QStringList& arguments, const QString& folderToWrite)
{
    if (canWriteFolder(folderToWrite))
        return runAndWait(program, arguments);

    QStringList elevateArguments = QProcess::splitCommand(QString::fromLocal8Bit(qgetenv("ORVEL_ELEVATE_COMMAND")));
    if (elevateArguments.isEmpty())
        elevateArguments << QStringLiteral("pkexec");
    const QString elevator = elevateArguments.takeFirst();
    // pkexec runs programs by absolute path only, does not keep the working directory, and picks the polkit action
    // whose exec.path equals the path exactly: no "." or ".." parts.
    elevateArguments << QDir::cleanPath(QFileInfo(program).absoluteFilePath()) << arguments;

    ElevatedResult result = runAndWait(elevator, elevateArguments);
    if (result.outcome == ElevatedOutcome::Ended &&
        (result.exitCode == kElevationDismissed || result.exitCode == kElevationNotAuthorized)) {
        qCDebug(lcPlatform) << "Elevation refused for" << program;
        result = ElevatedResult();
    }
    return result;
}

#endif

} // namespace Platform
