#include "Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "PlatformLogging.h"

namespace Platform {

#ifdef Q_OS_WIN

QString privateTempFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

bool ensurePrivateFolder(const QString& folder, QString* refusal)
{
    if (QDir().mkpath(folder))
        return true;
    *refusal = folder + QStringLiteral(": cannot create it");
    return false;
}

#else

namespace {
// A folder another user owns, can write, or has swapped for a link would let them change the downloaded files
// before the elevated copy installs them.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info;
    if (lstat(path.constData(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0 ||
        (info.st_mode & S_IRWXU) != S_IRWXU) {
        qCWarning(lcPlatform) << "Refusing temporary folder" << path << "owner" << info.st_uid << "mode"
                              << QString::number(info.st_mode & 07777, 8);
        return false;
    }
    return true;
}

QString baseFolder()
{
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && runtimeDir.startsWith('/')) {
        struct stat info;
        if (stat(runtimeDir.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
            access(runtimeDir.constData(), W_OK | X_OK) == 0)
            return QFile::decodeName(runtimeDir) + QStringLiteral("/orvel");
    }
    return QDir::tempPath() + QStringLiteral("/orvel-") + QString::number(geteuid());
}
} // namespace

QString privateTempFolder()
{
    const QString folder = baseFolder();
    const QByteArray path = QFile::encodeName(folder);
    if (mkdir(path.constData(), S_IRWXU) == 0) {
        // The umask may have taken bits away from the owner; it cannot have added any for others.
        chmod(path.constData(), S_IRWXU);
    } else if (errno != EEXIST) {
        qCWarning(lcPlatform) << "Cannot create temporary folder" << folder << strerror(errno);
        return {};
    }
    return isPrivateFolder(path) ? folder : QString();
}

bool ensurePrivateFolder(const QString& folder, QString* refusal)
{
    const auto refuse = [&](const QString& reason) {
        *refusal = folder + QStringLiteral(": ") + reason;
        qCWarning(lcPlatform).noquote() << "Refusing folder" << *refusal;
        return false;
    };
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent))
        return refuse(QStringLiteral("cannot create ") + parent);
    const QByteArray path = QFile::encodeName(folder);
    if (mkdir(path.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return refuse(QString::fromLocal8Bit(strerror(errno)));
    struct stat info;
    if (lstat(path.constData(), &info) != 0)
        return refuse(QString::fromLocal8Bit(strerror(errno)));
    if (S_ISLNK(info.st_mode))
        return refuse(QStringLiteral("a link"));
    if (!S_ISDIR(info.st_mode))
        return refuse(QStringLiteral("not a folder"));
    if (info.st_uid != geteuid())
        return refuse(QStringLiteral("owned by another user"));
    // The umask may have taken bits from the owner, or an older folder may be open to others.
    if ((info.st_mode & 07777) != S_IRWXU && chmod(path.constData(), S_IRWXU) != 0)
        return refuse(QString::fromLocal8Bit(strerror(errno)));
    return true;
}

#endif

} // namespace Platform
