#include "UpdateInstaller.h"

#include <QDir>
#include <QFile>

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
    QStringList paths;
    const qint64 total =
        Manifest::collectChangedFiles(inputs.serverManifest, inputs.localHashes, inputs.installPath, paths);

    const QString root = downloadRoot();
    const QString appDir = downloadAppDir();
    // An empty root would make QDir("") the working folder: never remove that.
    if (!root.isEmpty())
        QDir(root).removeRecursively();
    // The copy manager refuses a tree that others could write to (it may run with more rights than we have), so the
    // folder must not depend on the umask.
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (root.isEmpty() || !ensureDirectory(appDir) || !QFile::setPermissions(appDir, ownerOnly)) {
        qCDebug(lcUpdate) << "Failed to create download directory.";
        recordError(launcherError, DownloadDirFailed);
        return false;
    }

    bool ready = true;
    if (!paths.isEmpty()) {
        emit totalBytes(total);
        const QString url = ServiceUrls::download(inputs.updateServiceUrl, inputs.localManifest, inputs.serverManifest);
        ready = batch.downloadInParallel(paths, url, appDir, inputs.serverManifest.sizes());
        if (!ready)
            recordError(launcherError, DownloadFailed);
    }
    // Installed without its manifest (or with a truncated one), the files would stay undescribed and the next start
    // would ask for the wrong build.
    if (ready && !Manifest::saveServerManifest(inputs.serverManifest, appDir)) {
        qCDebug(lcUpdate) << "Failed to save liveupdate.json File.";
        recordError(launcherError, DownloadFailed);
        ready = false;
    }

    bool result = false;
    if (ready) {
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
