#include "Manifest.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "UpdateLogging.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Manifest {

namespace {
QString entryText(const QJsonObject& entry, QLatin1String key)
{
    return entry.value(key).toString();
}

// Sizes of files below one folder. On POSIX systems each file is looked up relative to the folder's descriptor,
// as find does: walking the folder's own path again for each of 100,000 files would cost as much as the lookups.
class FolderFiles
{
public:
    explicit FolderFiles(const QString& folder)
    {
#ifdef Q_OS_UNIX
        descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#else
        prefix = folder + QLatin1Char('/');
#endif
    }
    ~FolderFiles()
    {
#ifdef Q_OS_UNIX
        if (descriptor >= 0)
            ::close(descriptor);
#endif
    }
    FolderFiles(const FolderFiles&) = delete;
    FolderFiles& operator=(const FolderFiles&) = delete;

    // True when something exists at the relative path and has this size.
    bool hasSize(const QString& relativePath, qint64 size) const
    {
#ifdef Q_OS_UNIX
        if (descriptor < 0)
            return false;
        // A leading "/" still means "below the folder", as in folder + "/" + path.
        const QByteArray name = QFile::encodeName(
            relativePath.startsWith(QLatin1Char('/')) ? QLatin1Char('.') + relativePath : relativePath);
        struct stat info;
        return ::fstatat(descriptor, name.constData(), &info, 0) == 0 && qint64(info.st_size) == size;
#else
        const QFileInfo file(prefix + relativePath);
        return file.exists() && file.size() == size;
#endif
    }

private:
#ifdef Q_OS_UNIX
    int descriptor = -1;
#else
    QString prefix;
#endif
};
} // namespace

QJsonObject loadLocalManifest(const QString& installPath)
{
    QFile file(installPath + QLatin1Char('/') + QLatin1String(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcUpdate) << "Could not open local liveupdate.json file.";
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (document.isNull() || !document.isObject()) {
        qCDebug(lcUpdate) << "invalid local liveupdate.json file.";
        return {};
    }
    return document.object();
}

LocalHashes indexLocalHashes(const QJsonObject& localManifest)
{
    LocalHashes hashes;
    const QJsonArray fileList = localManifest.value(QLatin1String("fileList")).toArray();
    for (const QJsonValue& element : fileList) {
        const QJsonObject entry = element.toObject();
        hashes.insert(entryText(entry, QLatin1String("path")), entryText(entry, QLatin1String("hash")));
    }
    return hashes;
}

bool isDailyChannel(const QJsonObject& localManifest)
{
    return localManifest.contains(QLatin1String("targetVersion"));
}

QString manifestVersion(const QJsonObject& localManifest, const ServerManifest& serverManifest, int source)
{
    if (isDailyChannel(localManifest))
        return localManifest.value(QLatin1String("targetVersion")).toString() + QLatin1String(".t");
    const QString fallback = QStringLiteral("0.0.0.0");
    switch (source) {
    case 0:
        return serverManifest.version;
    case 1:
        return localManifest.value(QLatin1String("version")).toString(fallback);
    default:
        return fallback;
    }
}

qint64 collectChangedFiles(const ServerManifest& serverManifest, const LocalHashes& localHashes,
                           const QString& installPath, QStringList& paths)
{
    qint64 total = serverManifest.totalFileSize;
    const FolderFiles installed(installPath);
    for (const ManifestEntry& entry : serverManifest.fileList) {
        // The hash text is compared first: it is free, and a mismatch spares the file system call.
        const bool current = !entry.path.isEmpty() && localHashes.value(entry.path) == entry.hash &&
                             installed.hasSize(entry.path, entry.size);
        if (current)
            total -= entry.size;
        else
            paths.append(entry.path);
    }
    return total;
}

bool saveServerManifest(const ServerManifest& serverManifest, const QString& downloadAppDir)
{
    QFile file(downloadAppDir + QLatin1Char('/') + QLatin1String(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCDebug(lcUpdate) << "Could not open liveupdate.json file.";
        return false;
    }
    const QByteArray text = QJsonDocument(serverManifest.document).toJson(QJsonDocument::Indented);
    // A short write (full disk) leaves a truncated manifest that must not be installed.
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    if (!written)
        qCDebug(lcUpdate) << "Could not write liveupdate.json file:" << file.errorString();
    return written;
}

} // namespace Manifest
