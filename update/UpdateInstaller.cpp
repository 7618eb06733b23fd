#include "UpdateInstaller.h"

#include <QDir>
#include <QFileInfo>

#include "DownloadBatch.h"
#include "FileSystem.h"
#include "Platform.h"
#include "ServiceUrls.h"
#include "UpdateLogging.h"

UpdateInstaller::UpdateInstaller(DownloadBatch& batch, LauncherError& launcherError, CopyStep startCopyManager,
                                 QObject* parent)
    : QObject(parent), batch(batch), launcherError(launcherError), startCopyManager(std::move(startCopyManager))
{}

QString UpdateInstaller::downloadRoot()
{
    // Not a shared temporary folder: another local user could swap files there before the elevated copy.
    const QString temp = Platform::privateTempFolder();
    return temp.isEmpty() ? QString() : QDir::fromNativeSeparators(temp) + QStringLiteral("/OrvelDownload");
}

QString UpdateInstaller::downloadAppDir()
{
    const QString root = downloadRoot();
    return root.isEmpty() ? QString() : root + QStringLiteral("/App");
}

bool UpdateInstaller::applyUpdate(const Inputs& inputs)
{
    // Paths are appended to the download tree and to the installation folder, and the copy runs elevated.
    const QStringList unsafe = Manifest::unsafePaths(inputs.serverManifest);
    if (!unsafe.isEmpty()) {
        for (const QString& path : unsafe)
            qCDebug(lcUpdate) << "unsafe path in server liveupdate.json:" << path;
        recordError(launcherError, InvalidServerManifest);
        return false;
    }

    QStringList paths;
    const qint64 total =
        Manifest::collectChangedFiles(inputs.serverManifest, inputs.localHashes, inputs.installPath, paths);

    const QString root = downloadRoot();
    const QString appDir = downloadAppDir();
    // An empty root would make QDir("") the working folder: never remove that.
    if (!root.isEmpty())
        QDir(root).removeRecursively();
    if (root.isEmpty() || !ensureDirectory(appDir)) {
        qCDebug(lcUpdate) << "Failed to create download directory.";
        recordError(launcherError, DownloadDirFailed);
        return false;
    }

    bool result = false;
    bool downloaded = true;
    if (!paths.isEmpty()) {
        emit totalBytes(total);
        const QString url = ServiceUrls::download(inputs.updateServiceUrl, inputs.localManifest, inputs.serverManifest);
        downloaded =
            batch.downloadInParallel(paths, url, appDir) && downloadedSizesMatch(inputs.serverManifest, paths, appDir);
        if (!downloaded)
            recordError(launcherError, DownloadFailed);
    }

    if (downloaded) {
        if (!Manifest::saveServerManifest(inputs.serverManifest, appDir))
            qCDebug(lcUpdate) << "Failed to save liveupdate.json File.";
        result = startCopyManager && startCopyManager(appDir, inputs.installPath);
        if (result) {
            qCDebug(lcUpdate) << "Success for auto-update.";
        } else {
            qCDebug(lcUpdate) << "Failed to copy download files.";
            recordError(launcherError, CopyFilesFailed);
        }
    }

    if (!QDir(root).removeRecursively())
        qCDebug(lcUpdate) << "Failed to remove download directory.";
    return result;
}

bool UpdateInstaller::downloadedSizesMatch(const QJsonObject& serverManifest, const QStringList& paths,
                                           const QString& appDir) const
{
    // A truncated or wrong file would otherwise be installed as if it were the published one.
    bool match = true;
    const QMap<QString, qint64> expected = Manifest::expectedSizes(serverManifest, paths);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QFileInfo file(appDir + QLatin1Char('/') + it.key());
        const qint64 actual = file.isFile() ? file.size() : -1;
        if (actual != it.value()) {
            qCDebug(lcUpdate).noquote() << "downloaded file has the wrong size:" << it.key() << "expected" << it.value()
                                        << "bytes, got" << actual;
            match = false;
        }
    }
    return match;
}
