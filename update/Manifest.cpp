#include "Manifest.h"

#include <cmath>
#include <limits>

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

qint32 readSize(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max())
        return 0;
    return static_cast<qint32>(number);
}

bool isDailyChannel(const QJsonObject& localManifest)
{
    return localManifest.contains(QLatin1String("targetVersion"));
}

QString manifestVersion(const QJsonObject& localManifest, const QJsonObject& serverManifest, int source)
{
    if (isDailyChannel(localManifest))
        return localManifest.value(QLatin1String("targetVersion")).toString() + QLatin1String(".t");
    const QString fallback = QStringLiteral("0.0.0.0");
    switch (source) {
    case 0:
        return serverManifest.value(QLatin1String("version")).toString(fallback);
    case 1:
        return localManifest.value(QLatin1String("version")).toString(fallback);
    default:
        return fallback;
    }
}

qint64 collectChangedFiles(const QJsonObject& serverManifest, const LocalHashes& localHashes,
                           const QString& installPath, QStringList& paths)
{
    qint64 total = readSize(serverManifest.value(QLatin1String("totalFileSize")));
    const FolderFiles installed(installPath);
    const QJsonArray fileList = serverManifest.value(QLatin1String("fileList")).toArray();
    for (const QJsonValue& element : fileList) {
        const QJsonObject entry = element.toObject();
        const QString path = entryText(entry, QLatin1String("path"));
        const qint32 size = readSize(entry.value(QLatin1String("size")));
        const QString hash = entryText(entry, QLatin1String("hash"));

        // The hash text is compared first: it is free, and a mismatch spares the file system call.
        const bool current = !path.isEmpty() && localHashes.value(path) == hash && installed.hasSize(path, size);
        if (current)
            total -= size;
        else
            paths.append(path);
    }
    return total;
}

QStringList unsafePaths(const QJsonObject& serverManifest)
{
    QStringList unsafe;
    const QJsonArray fileList = serverManifest.value(QLatin1String("fileList")).toArray();
    for (const QJsonValue& element : fileList) {
        const QString path = entryText(element.toObject(), QLatin1String("path"));
        if (path.isEmpty())
            continue;
        bool bad = path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char(':')) ||
                   path.contains(QLatin1Char('\\')) || path.contains(QChar(0));
        if (!bad) {
            const QStringList segments = path.split(QLatin1Char('/'));
            bad = segments.contains(QLatin1String(".")) || segments.contains(QLatin1String(".."));
        }
        if (bad)
            unsafe.append(path);
    }
    return unsafe;
}

QMap<QString, qint64> expectedSizes(const QJsonObject& serverManifest, const QStringList& paths)
{
    QMap<QString, qint64> sizes;
    for (const QString& path : paths)
        sizes.insert(path, 0);
    const QJsonArray fileList = serverManifest.value(QLatin1String("fileList")).toArray();
    for (const QJsonValue& element : fileList) {
        const QJsonObject entry = element.toObject();
        const auto it = sizes.find(entryText(entry, QLatin1String("path")));
        if (it != sizes.end())
            it.value() = readSize(entry.value(QLatin1String("size")));
    }
    return sizes;
}

bool saveServerManifest(const QJsonObject& serverManifest, const QString& downloadAppDir)
{
    QFile file(downloadAppDir + QLatin1Char('/') + QLatin1String(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCDebug(lcUpdate) << "Could not open liveupdate.json file.";
        return false;
    }
    const QByteArray text = QJsonDocument(serverManifest).toJson(QJsonDocument::Indented);
    // A short write (full disk) would install a truncated manifest; report it like a file that cannot be opened.
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    if (!written)
        qCDebug(lcUpdate) << "Could not write liveupdate.json file:" << file.errorString();
    return written;
}

} // namespace Manifest
