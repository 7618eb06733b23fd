#pragma once

#include <functional>

#include <QJsonObject>
#include <QObject>
#include <QString>

#include "LauncherError.h"
#include "Manifest.h"
#include "ServerManifest.h"

class DownloadBatch;

// Turns a server manifest that differs from the installation into an installed update: downloads the changed files
// into a fresh private download tree (each at its manifest size), saves the server manifest beside them, has the copy
// manager install the tree over the installation folder, and removes the tree again.
class UpdateInstaller : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateInstaller)

public:
    // Installs downloadAppDir over installPath and waits for it; true when that fully succeeded.
    using CopyStep = std::function<bool(const QString& downloadAppDir, const QString& installPath)>;

    UpdateInstaller(DownloadBatch& batch, LauncherError& launcherError, CopyStep startCopyManager,
                    QObject* parent = nullptr);

    // What the installation and the update service say; all read by applyUpdate().
    struct Inputs
    {
        QJsonObject localManifest;
        ServerManifest serverManifest;
        Manifest::LocalHashes localHashes;
        QString installPath;
        QString updateServiceUrl;
    };

    // True when the copy manager installed the update. Records DownloadDirFailed, DownloadFailed (also when the
    // manifest cannot be saved completely into the download tree) or CopyFilesFailed on failure.
    bool applyUpdate(const Inputs& inputs);

    // The private temporary folder + "/OrvelDownload", and its "App" mirror of the installation folder.
    // Empty when no private temporary folder can be had.
    static QString downloadRoot();
    static QString downloadAppDir();

signals:
    // Bytes still to fetch, given before the download starts (for the install bar's progress display).
    void totalBytes(qint64 _bytesTotal);

private:
    DownloadBatch& batch;
    LauncherError& launcherError;
    CopyStep startCopyManager;
};
