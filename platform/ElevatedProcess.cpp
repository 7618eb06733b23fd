#include "Platform.h"

#ifdef Q_OS_WIN
#include <string>

#include <windows.h>
#include <shellapi.h>
#else
#include <QProcess>

#include "ElevatedCommand.h"
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
        qCWarning(lcPlatform) << "Elevated start failed, error" << GetLastError();
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

ElevatedResult runElevatedAndWait(const QString& program, const QStringList& arguments, const QString& folderToWrite)
{
    const ElevatedCommand::Command command = ElevatedCommand::forFolder(program, arguments, folderToWrite);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.start(command.program, command.arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        qCWarning(lcPlatform) << "Cannot start" << command.program << process.errorString();
        return {};
    }
    const bool ended = process.waitForFinished(-1);
    QByteArray errorOutput = process.readAllStandardError();
    ElevatedCommand::logErrorOutput(errorOutput, true);
    if (!ended) {
        qCWarning(lcPlatform) << "Waiting for" << command.program << "failed:" << process.errorString();
        return {ElevatedOutcome::WaitFailed, -1};
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        qCWarning(lcPlatform) << command.program << "crashed";
        return {ElevatedOutcome::Ended, -1};
    }
    return ElevatedCommand::ended(command, process.exitCode());
}

#endif

} // namespace Platform
