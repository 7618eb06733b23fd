#pragma once

#include <functional>

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "Failure.h"
#include "Manifest.h"

// Turns a server manifest that differs from the installation into an installed update: downloads the changed files
// into the build's folder of the user's download cache (each at its manifest size; what an earlier run left there is
// kept or continued), saves the server manifest beside them, has the copy manager install the folder over the
// installation folder, and removes the folder once that succeeded. Starting an update removes the cached folders of
// other builds; a failed one keeps its own for the next run.
class UpdateInstaller : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateInstaller)

public:
    // Fetches each path (downloadUrl + encoded path) into downloadAppDir + "/" + path at its expected size and, where
    // listed, with its expected SHA-256 (DownloadBatch::downloadInParallel); no failure when every file arrived.
    using DownloadStep = std::function<Failure(
        const QStringList& paths, const QString& downloadUrl, const QString& downloadAppDir,
        const QHash<QString, qint64>& expectedSizes, const QHash<QString, QString>& expectedHashes)>;
    // Installs downloadAppDir over installPath and waits for it; true when that fully succeeded.
    using CopyStep = std::function<bool(const QString& downloadAppDir, const QString& installPath)>;

    UpdateInstaller(DownloadStep download, CopyStep startCopyManager, QObject* parent = nullptr);

    // What the installation and the update service say; all read by applyUpdate().
    struct Inputs
    {
        Manifest installed;
        Manifest server;
        QString installPath;
        QString updateServiceUrl;
        // With a manifest key: the manifest answer's exact bytes and signature, left for the copy helper to check.
        QByteArray signedManifest;
        QByteArray manifestSignature;
    };

    // No failure when the copy manager installed the update. Otherwise DownloadDirFailed (the cache folder cannot be
    // made, or is a link or another user's, with the reason), the download's own failure
    // (DownloadFailed, NoResponse, SslError, or UpdateNotVerified when a file's content differs from its hash),
    // DownloadFailed when the manifest cannot be saved completely into the download tree, or CopyFilesFailed.
    Failure applyUpdate(const Inputs& inputs);

    // The user's cache location + "/downloads" (empty when there is none), and below it one folder per build, named
    // after its version text (percent-encoded, never hidden): the build's mirror of the installation folder.
    static QString cacheRoot();
    static QString cacheFolder(const QString& version);

signals:
    // Bytes still to fetch, given before the download starts (for the install bar's progress display).
    void totalBytes(qint64 _bytesTotal);

private:
    DownloadStep m_download;
    CopyStep m_startCopyManager;
};
