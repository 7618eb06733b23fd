#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslError>
#include <QStringList>

#include "LauncherError.h"

class Downloader;
class QThread;

// Downloads the changed files of an update on at most 16 worker threads, one Downloader each, and waits for all of
// them in a nested event loop on the calling (GUI) thread. The two sides talk only through queued signals: operate()
// and cancel() to the downloaders; progress, results, the no-response notice and SSL errors back. The first failure
// cancels every downloader still running; the run ends when every downloader has reported.
class DownloadBatch : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DownloadBatch)

public:
    static constexpr int maxThreads = 16;

    // Failures are recorded into the launcher's error code (first one wins) and its detail texts.
    DownloadBatch(LauncherError& launcherError, QStringList& errorDetails, QObject* parent = nullptr);
    ~DownloadBatch() override;

    // Fetches every path (downloadUrl + encoded path) into downloadAppDir + "/" + path; a path listed in
    // expectedSizes must arrive with exactly that many bytes. True when every downloader succeeded and nobody
    // cancelled. Returns only after every worker thread has ended.
    bool downloadInParallel(const QStringList& paths, const QString& downloadUrl, const QString& downloadAppDir,
                            const QHash<QString, qint64>& expectedSizes = {});

    // Path i goes to bucket i mod n, keeping list order inside each bucket; n = min(paths, 16).
    static QList<QStringList> buckets(const QStringList& paths);

    // True while a run has downloaders that have not reported yet.
    bool isRunning() const;
    // The user quits during a run: the run fails and every downloader abandons its work.
    void cancelByUser();

    // Applied to the downloaders of later runs; tests shorten them.
    void setResponseInterval(int milliseconds);
    void setStallTimeout(int milliseconds);
    void setSlowTransferWindow(int milliseconds);

signals:
    void operate();
    void cancel();
    void exitloop();
    // Each downloader's progress step, unchanged (the install bar folds them into one figure).
    void updateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal);

private slots:
    void onUpdateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal);
    void onDownloadFinished(bool _bSuccess);
    void onNoResponse();
    void onMySslErrors(QList<QSslError> _sslErrors);

private:
    LauncherError& launcherError;
    QStringList& errorDetails;
    bool downloadSucceeded = true;
    QMap<Downloader*, QThread*> downloaderThreads;
    int responseIntervalMs;
    int stallTimeoutMs;
    int slowTransferWindowMs;
};
