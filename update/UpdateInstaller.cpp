#include "UpdateInstaller.h"

#include <algorithm>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include "DeploymentSettings.h"
#include "FileSystem.h"
#include "ManifestSignature.h"
#include "Platform.h"
#include "ServiceUrls.h"
#include "UpdateLogging.h"

namespace {

// Writes `content` as the file at `path`; the error text (naming the file) when it could not be written completely.
QString writeWhole(const QString& path, const QByteArray& content)
{
    QFile file(path);
    const bool written =
        file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size() && file.flush();
    return written ? QString() : QFileInfo(path).fileName() + QLatin1String(": ") + file.errorString();
}

// Everything in the cache but the folder of the build being installed: other builds are not needed any more.
void removeOtherBuilds(const QString& root, const QString& keep)
{
    const QFileInfoList entries =
        QDir(root).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == keep)
            continue;
        const bool removed = entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                                 : QFile::remove(entry.filePath());
        if (!removed)
            qCDebug(lcUpdate).noquote() << "Cannot remove the cached" << entry.filePath();
    }
}

// The copy manager installs everything in the folder: only files of this update may stay in it (an earlier run may
// have fetched others), and no folder left empty.
void keepOnly(const QString& folder, const QStringList& paths)
{
    const QSet<QString> wanted(paths.cbegin(), paths.cend());
    const QString prefix = folder + QLatin1Char('/');
    QStringList folders;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink())
            folders.append(path);
        else if (!wanted.contains(path.mid(prefix.size())))
            QFile::remove(path);
    }
    // Deepest first; a folder that still holds something stays.
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& path : qAsConst(folders))
        QDir().rmdir(path);
}

} // namespace

UpdateInstaller::UpdateInstaller(DownloadStep download, CopyStep startCopyManager, QObject* parent)
    : QObject(parent), m_download(std::move(download)), m_startCopyManager(std::move(startCopyManager))
{}

QString UpdateInstaller::cacheRoot()
{
    // On disk rather than in a RAM-backed temporary folder: a large update must not fill memory, and what a run
    // fetched outlives it.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return cache.isEmpty() ? QString() : QDir::fromNativeSeparators(cache) + QStringLiteral("/downloads");
}

QString UpdateInstaller::cacheFolder(const QString& version)
{
    const QString root = cacheRoot();
    QString name = QString::fromLatin1(QUrl::toPercentEncoding(version));
    // Neither the cache itself, nor "." or "..", nor hidden.
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1String("%2E"));
    return root.isEmpty() ? QString() : root + QLatin1Char('/') + name;
}

Failure UpdateInstaller::applyUpdate(const Inputs& inputs)
{
    QStringList paths;
    const qint64 total = collectChangedFiles(inputs.server, inputs.installed, inputs.installPath, paths);

    const QString root = cacheRoot();
    const QString appDir = cacheFolder(manifestVersion(inputs.installed, inputs.server, ManifestSource::Server));
    // The copy manager may run with more rights than we have and refuses a folder that others could write to; one
    // that is a link or another user's could be changed under it. Nothing in the root is removed before it is ours.
    QString refusal = root.isEmpty() ? QStringLiteral("no cache folder") : QString();
    if (refusal.isEmpty() && Platform::ensurePrivateFolder(root, &refusal)) {
        removeOtherBuilds(root, QFileInfo(appDir).fileName());
        if (Platform::ensurePrivateFolder(appDir, &refusal))
            refusal.clear();
    }
    if (!refusal.isEmpty()) {
        qCDebug(lcUpdate) << "Failed to create download directory.";
        return {DownloadDirFailed, refusal};
    }
    keepOnly(appDir, paths);

    Failure failure;
    if (!paths.isEmpty()) {
        emit totalBytes(total);
        qCDebug(lcUpdate).noquote() << "Downloading" << paths.size() << "files," << total << "bytes, into" << appDir;
        const QString url = ServiceUrls::download(inputs.updateServiceUrl, inputs.installed, inputs.server);
        // With "sha256" every file is checked against its manifest hash as it arrives; otherwise hashes stay text.
        const bool verify = DeploymentSettings::current().hashAlgorithm() == QLatin1String("sha256");
        recordFailure(failure, m_download(paths, url, appDir, inputs.server.sizes(),
                                          verify ? inputs.server.hashes() : QHash<QString, QString>()));
    }
    // Installed without its manifest (or with a truncated one), the files would stay undescribed and the next start
    // would ask for the wrong build.
    QString error;
    if (!failure.failed() && !saveServerManifest(inputs.server, appDir, &error)) {
        qCDebug(lcUpdate) << "Failed to save liveupdate.json File.";
        failure = {DownloadFailed, QLatin1String(Manifest::fileName) + QLatin1String(": ") + error};
    }
    if (!failure.failed() && !inputs.signedManifest.isEmpty()) {
        const QString top = appDir + QLatin1Char('/');
        const QString saved = writeWhole(top + QLatin1String(ManifestSignature::kBodyFileName), inputs.signedManifest);
        const QString signature =
            saved.isEmpty()
                ? writeWhole(top + QLatin1String(ManifestSignature::kSignatureFileName), inputs.manifestSignature)
                : saved;
        if (!signature.isEmpty())
            failure = {DownloadFailed, signature};
    }

    if (!failure.failed()) {
        if (m_startCopyManager && m_startCopyManager(appDir, inputs.installPath)) {
            qCDebug(lcUpdate) << "Success for auto-update.";
        } else {
            qCDebug(lcUpdate) << "Failed to copy download files.";
            failure = {CopyFilesFailed, QString()};
        }
    }

    // A failed update keeps what it fetched for the next run.
    if (!failure.failed() && !QDir(appDir).removeRecursively())
        qCDebug(lcUpdate) << "Failed to remove download directory.";
    return failure;
}
