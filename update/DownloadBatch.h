#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>

#include "Failure.h"

class Downloader;
class QThread;

// Downloads the changed files of an update on at most 16 worker threads, one Downloader each, and waits for all of
// them in a nested event loop on the calling (GUI) thread. The two sides talk only through queued signals: operate()
// and cancel() to the downloaders; progress and results back. The first failure cancels every downloader still
// running; the run ends when every downloader has reported.
class DownloadBatch : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DownloadBatch)

public:
    static constexpr int maxThreads = 16;

    explicit DownloadBatch(QObject* parent = nullptr);
    ~DownloadBatch() override;

    // Fetches every path (downloadUrl + encoded path) into downloadAppDir + "/" + path; a path listed in
    // expectedSizes must arrive with exactly that many bytes. Returns the first failure a downloader reported (or
    // the user's cancel), none when every file arrived, and only after every worker thread has ended. A path listed in
    // expectedHashes must match that SHA-256 (Downloader::setExpectedHashes).
    Failure downloadInParallel(const QStringList& paths, const QString& downloadUrl, const QString& downloadAppDir,
                               const QHash<QString, qint64>& expectedSizes = {},
                               const QHash<QString, QString>& expectedHashes = {});

    // True while a run has downloaders that have not reported yet.
    bool isRunning() const;
    // The user quits during a run: the run fails and every downloader abandons its work.
    void cancelByUser();

signals:
    void operate();
    void cancel();
    void exitloop();
    // Each downloader's progress step, unchanged (the install bar folds them into one figure).
    void updateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal);

private slots:
    void onDownloadFinished(const Failure& _failure);

private:
    Failure m_failure;
    QMap<Downloader*, QThread*> m_downloaderThreads;
};
