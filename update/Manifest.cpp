#include "Manifest.h"

#include <cmath>

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

namespace {

bool readSize(const QJsonValue& value, qint64* size)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < 0 || number > double(Manifest::maxSize))
        return false;
    *size = static_cast<qint64>(number);
    return true;
}

// Paths are appended to the download tree and to the installation folder, and the copy runs elevated. A name that
// merely starts with a dot (".config", ".keep") is an ordinary name.
bool isSafePath(const QString& path)
{
    if (path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char(':')) || path.contains(QLatin1Char('\\')) ||
        path.contains(QChar(0)))
        return false;
    const QStringList segments = path.split(QLatin1Char('/'));
    return !segments.contains(QLatin1String(".")) && !segments.contains(QLatin1String(".."));
}

// Sizes of files below one folder. On POSIX systems each file is looked up relative to the folder's descriptor,
// as find does: walking the folder's own path again for each of 100,000 files would cost as much as the lookups.
class FolderFiles
{
public:
    explicit FolderFiles(const QString& folder)
    {
#ifdef Q_OS_UNIX
        m_descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#else
        m_prefix = folder + QLatin1Char('/');
#endif
    }
    ~FolderFiles()
    {
#ifdef Q_OS_UNIX
        if (m_descriptor >= 0)
            ::close(m_descriptor);
#endif
    }
    FolderFiles(const FolderFiles&) = delete;
    FolderFiles& operator=(const FolderFiles&) = delete;

    // True when something exists at the relative path (checked by Manifest::parse) and has this size.
    bool hasSize(const QString& relativePath, qint64 size) const
    {
#ifdef Q_OS_UNIX
        struct stat info;
        return m_descriptor >= 0 &&
               ::fstatat(m_descriptor, QFile::encodeName(relativePath).constData(), &info, 0) == 0 &&
               qint64(info.st_size) == size;
#else
        const QFileInfo file(m_prefix + relativePath);
        return file.exists() && file.size() == size;
#endif
    }

private:
#ifdef Q_OS_UNIX
    int m_descriptor = -1;
#else
    QString m_prefix;
#endif
};

} // namespace

QHash<QString, qint64> Manifest::sizes() const
{
    QHash<QString, qint64> result;
    result.reserve(fileList.size());
    for (const ManifestEntry& entry : fileList)
        result.insert(entry.path, entry.size);
    return result;
}

QHash<QString, QString> Manifest::hashes() const
{
    QHash<QString, QString> result;
    result.reserve(fileList.size());
    for (const ManifestEntry& entry : fileList)
        result.insert(entry.path, entry.hash);
    return result;
}

std::optional<Manifest> Manifest::parse(const QJsonObject& document, QString* refusal)
{
    const auto refuse = [refusal](const QString& reason) {
        *refusal = reason;
        return std::nullopt;
    };
    Manifest manifest;
    manifest.document = document;

    const QJsonValue version = document.value(QLatin1String("version"));
    if (!version.isUndefined()) {
        if (!version.isString())
            return refuse(QStringLiteral("\"version\" is not a string"));
        manifest.version = version.toString();
    }
    const QJsonValue total = document.value(QLatin1String("totalFileSize"));
    if (!total.isUndefined() && !readSize(total, &manifest.totalFileSize))
        return refuse(QStringLiteral("\"totalFileSize\" is not a whole number from 0 to 2^53"));

    const QJsonValue fileList = document.value(QLatin1String("fileList"));
    if (fileList.isUndefined())
        return manifest;
    if (!fileList.isArray())
        return refuse(QStringLiteral("\"fileList\" is not an array"));
    const QJsonArray elements = fileList.toArray();
    manifest.fileList.reserve(elements.size());
    for (int i = 0; i < elements.size(); ++i) {
        // Formatted only for a refusal: checking 100,000 entries must not build 100,000 texts.
        const auto where = [i] { return QStringLiteral("fileList[%1]").arg(i); };
        if (!elements.at(i).isObject())
            return refuse(where() + QStringLiteral(" is not an object"));
        const QJsonObject element = elements.at(i).toObject();
        ManifestEntry entry;
        const QJsonValue path = element.value(QLatin1String("path"));
        if (!path.isString())
            return refuse(where() + QStringLiteral(": \"path\" is not a string"));
        entry.path = path.toString();
        if (!entry.path.isEmpty() && !isSafePath(entry.path))
            return refuse(where() + QStringLiteral(": unsafe path \"%1\"").arg(entry.path));
        if (!readSize(element.value(QLatin1String("size")), &entry.size))
            return refuse(where() + QStringLiteral(": \"size\" is not a whole number from 0 to 2^53"));
        const QJsonValue hash = element.value(QLatin1String("hash"));
        if (!hash.isUndefined() && !hash.isString())
            return refuse(where() + QStringLiteral(": \"hash\" is not a string"));
        entry.hash = hash.toString();
        manifest.fileList.append(entry);
    }
    return manifest;
}

Manifest Manifest::loadInstalled(const QString& installPath)
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
    return fromInstalled(document.object());
}

Manifest Manifest::fromInstalled(const QJsonObject& document)
{
    Manifest manifest;
    manifest.document = document;
    manifest.version = document.value(QLatin1String("version")).toString(manifest.version);
    if (document.contains(QLatin1String("targetVersion")))
        manifest.targetVersion = document.value(QLatin1String("targetVersion")).toString();
    readSize(document.value(QLatin1String("totalFileSize")), &manifest.totalFileSize);
    const QJsonArray elements = document.value(QLatin1String("fileList")).toArray();
    manifest.fileList.reserve(elements.size());
    for (const QJsonValue& element : elements) {
        const QJsonObject object = element.toObject();
        ManifestEntry entry;
        entry.path = object.value(QLatin1String("path")).toString();
        readSize(object.value(QLatin1String("size")), &entry.size);
        entry.hash = object.value(QLatin1String("hash")).toString();
        manifest.fileList.append(entry);
    }
    return manifest;
}

QString manifestVersion(const Manifest& installed, const Manifest& server, ManifestSource source)
{
    if (installed.isDaily())
        return *installed.targetVersion + QLatin1String(".t");
    return source == ManifestSource::Server ? server.version : installed.version;
}

qint64 collectChangedFiles(const Manifest& server, const Manifest& installed, const QString& installPath,
                           QStringList& paths)
{
    const QHash<QString, QString> installedHashes = installed.hashes();
    qint64 total = server.totalFileSize;
    const FolderFiles files(installPath);
    for (const ManifestEntry& entry : server.fileList) {
        // The hash text is compared first: it is free, and a mismatch spares the file system call.
        const bool current = !entry.path.isEmpty() && installedHashes.value(entry.path) == entry.hash &&
                             files.hasSize(entry.path, entry.size);
        if (current)
            total -= entry.size;
        else
            paths.append(entry.path);
    }
    return total;
}

bool saveServerManifest(const Manifest& server, const QString& downloadAppDir, QString* error)
{
    QFile file(downloadAppDir + QLatin1Char('/') + QLatin1String(Manifest::fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCDebug(lcUpdate) << "Could not open liveupdate.json file.";
        *error = file.errorString();
        return false;
    }
    const QByteArray text = QJsonDocument(server.document).toJson(QJsonDocument::Indented);
    // A short write (full disk) leaves a truncated manifest that must not be installed.
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    if (!written)
        *error = file.errorString();
    return written;
}
