#include "UpdateInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace

UpdateInstaller::UpdateInstaller(DownloadStep download, CopyStep startCopyManager, QObject* parent)
    : QObject(parent), m_download(std::move(download)), m_startCopyManager(std::move(startCopyManager))
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

Failure UpdateInstaller::applyUpdate(const Inputs& inputs)
{
    QStringList paths;
    const qint64 total = collectChangedFiles(inputs.server, inputs.installed, inputs.installPath, paths);

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
        return {DownloadDirFailed, root.isEmpty() ? QStringLiteral("no private temporary folder") : appDir};
    }

    Failure failure;
    if (!paths.isEmpty()) {
        emit totalBytes(total);
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

    if (!QDir(root).removeRecursively())
        qCDebug(lcUpdate) << "Failed to remove download directory.";
    return failure;
}
