#include "InstallLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "Platform.h"

namespace InstallLayout {

namespace {
// From the installed bin folder to the copy manager's and the data folders (GNUInstallDirs, set by the build).
const QString kBinToLibexec = QStringLiteral(ORVEL_INSTALL_BIN_TO_LIBEXEC);
const QString kBinToData = QStringLiteral(ORVEL_INSTALL_BIN_TO_DATA);

QString clean(const QString& path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

// `relative` beside the program when it is there, else under `installedFolder` of an installed prefix.
QString besideOrInstalled(const QString& programDir, const QString& installedFolder, const QString& relative)
{
    const QString beside = clean(programDir + QLatin1Char('/') + relative);
    if (QFileInfo::exists(beside) || !isInstalledPrefix(programDir))
        return beside;
    return clean(programDir + QLatin1Char('/') + installedFolder + QLatin1Char('/') + relative);
}
} // namespace

bool isInstalledPrefix(const QString& programDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir)
    return false;
#else
    return QFileInfo(clean(programDir + QLatin1Char('/') + kBinToData)).isDir();
#endif
}

QString copyManagerProgram(const QString& programDir)
{
    return besideOrInstalled(programDir, kBinToLibexec,
                             Platform::executableName(QStringLiteral("OrvelFileCopyManager")));
}

QString fontFolder(const QString& programDir)
{
    return besideOrInstalled(programDir, kBinToData, QStringLiteral("Font"));
}

QStringList deploymentFileCandidates(const QString& programDir)
{
    const QString name = QStringLiteral("deployment.ini");
    QStringList candidates{clean(programDir + QLatin1Char('/') + name)};
#ifndef Q_OS_WIN
    QString configDirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (configDirs.isEmpty())
        configDirs = QStringLiteral("/etc/xdg");
    for (const QString& folder : configDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are invalid by the XDG rules and ignored.
        if (QDir::isAbsolutePath(folder))
            candidates << clean(folder + QStringLiteral("/orvel/") + name);
    }
#endif
    return candidates;
}

QString defaultApplicationFolder(const QString& programDir)
{
#if defined(Q_OS_LINUX)
    if (isInstalledPrefix(programDir))
        return clean(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/orvel"));
#endif
    return clean(programDir);
}

} // namespace InstallLayout
