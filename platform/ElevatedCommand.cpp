#include "ElevatedCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "PlatformLogging.h"

namespace ElevatedCommand {

namespace {
// pkexec's own exit codes: the user dismissed the authentication dialog, or is not authorised.
constexpr int kElevationDismissed = 126;
constexpr int kElevationNotAuthorized = 127;

// The folder may not exist yet (a first installation): then its nearest existing parent is what counts.
QByteArray nearestExisting(const QString& folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return QFile::encodeName(path);
}

bool canWriteFolder(const QString& folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder)
    return false;
#else
    return access(nearestExisting(folder).constData(), W_OK | X_OK) == 0;
#endif
}
} // namespace

bool canMoveInto(const QString& source, const QString& folderToWrite)
{
#ifdef Q_OS_WIN
    Q_UNUSED(source)
    Q_UNUSED(folderToWrite)
    return false;
#else
    struct stat from;
    struct stat to;
    return canWriteFolder(folderToWrite) && stat(QFile::encodeName(source).constData(), &from) == 0 &&
           stat(nearestExisting(folderToWrite).constData(), &to) == 0 && from.st_dev == to.st_dev;
#endif
}

Command forFolder(const QString& program, const QStringList& arguments, const QString& folderToWrite)
{
    if (canWriteFolder(folderToWrite))
        return {program, arguments, false, program};

    QStringList elevateArguments = QProcess::splitCommand(QString::fromLocal8Bit(qgetenv("ORVEL_ELEVATE_COMMAND")));
    if (elevateArguments.isEmpty())
        elevateArguments << QStringLiteral("pkexec");
    const QString elevator = elevateArguments.takeFirst();
    // pkexec runs programs by absolute path only, does not keep the working directory, and picks the polkit action
    // whose exec.path equals the path exactly: no "." or ".." parts.
    elevateArguments << QDir::cleanPath(QFileInfo(program).absoluteFilePath()) << arguments;
    return {elevator, elevateArguments, true, program};
}

Platform::ElevatedResult ended(const Command& command, int exitCode)
{
    if (command.elevated && (exitCode == kElevationDismissed || exitCode == kElevationNotAuthorized)) {
        qCWarning(lcPlatform) << "Elevation refused for" << command.target;
        return {};
    }
    return {Platform::ElevatedOutcome::Ended, exitCode};
}

void logErrorOutput(QByteArray& pending, bool atEnd)
{
    int start = 0;
    for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', start)) {
        qCWarning(lcHelper).noquote() << QString::fromLocal8Bit(pending.mid(start, end - start));
        start = end + 1;
    }
    pending.remove(0, start);
    if (atEnd && !pending.isEmpty()) {
        qCWarning(lcHelper).noquote() << QString::fromLocal8Bit(pending);
        pending.clear();
    }
}

} // namespace ElevatedCommand
