#pragma once

#include <memory>

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QSslError>
#include <QStringList>

#include "Failure.h"

class QFile;
class Sha256Hasher;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Fetches a list of files one after another with plain GETs and writes each to the same relative path under a local
// folder, chunk by chunk as it arrives. Meant to live on a thread of its own: Download() returns only when the whole
// list is done, waiting for each file in a nested event loop, so a queued Cancel() can still run meanwhile.
//
// A file that receives no data within the response interval is requested again, at most 10 times in all (NoResponse
// then). A file whose data stops for the stall timeout after it had started fails like a network error, and so does
// one that receives less than minBytesPerSecond on average over a slow-transfer window. A file whose expected size is
// known fails as soon as it receives a byte more than that, and at its end when it is shorter. The first failure of
// a run is the one reported, with the file and its reason as details. A file whose expected hash is listed is hashed
// as it is written, never read back, and fails at its end with UpdateNotVerified unless the SHA-256 matches.
class Downloader : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Downloader)

public:
    static constexpr qint64 minBytesPerSecond = 1024;
    static constexpr int maxRequestsPerFile = 10;
    // Bounds what the network layer holds for one transfer when the disk is slower than the network.
    static constexpr qint64 readBufferSize = 256 * 1024;

    struct Timings
    {
        int responseIntervalMs = 3000;
        int stallTimeoutMs = 30000;
        int slowTransferWindowMs = 60000;
    };

    // baseUrl + entry is each file's URL, baseDir + entry its local path (baseDir ends with "/").
    Downloader(QObject* parent, const QStringList& relativePaths, const QString& baseUrl, const QString& baseDir);
    ~Downloader() override;

    // Both only before Download() runs. Tests shorten the timings.
    void setTimings(const Timings& timings);
    // Entry -> its size in bytes; entries not listed are taken at any size.
    void setExpectedSizes(const QHash<QString, qint64>& sizes);
    // Entry -> its manifest "hash", to match as SHA-256 (Sha256Hasher::matches); entries not listed are not hashed.
    void setExpectedHashes(const QHash<QString, QString>& hashes);

signals:
    // Once per Download() call: no failure when every file arrived.
    void resultReady(const Failure& _failure);
    void exitloop();
    void updateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal);

public slots:
    void Download();
    void Cancel();

private slots:
    void checkNetworkResponse();
    void onReadyRead();
    void onDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal);
    void onDownloadFinished();
    void onSslErrors(const QList<QSslError>& _sslErrors);
    void onTransferStalled();
    void onSlowTransferCheck();

private:
    void sendRequest();
    bool writeAvailable();
    // Records the failure (the first one wins), logs it and abandons the rest of the list.
    void fail(LauncherError code, const QString& reason);
    void failWrongSize();
    // "<current file>: <reason>".
    QString describe(const QString& reason) const;
    void noteTransferActivity();
    void stopTimers();

    QNetworkAccessManager* m_manager = nullptr;
    QNetworkRequest m_request;
    QTimer* m_responseTimer = nullptr;
    QNetworkReply* m_reply = nullptr;
    QFile* m_file = nullptr;
    Failure m_failure;
    bool m_progressComplete = false;
    bool m_dataReceived = false;
    bool m_cancelled = false;
    QStringList m_relativePaths;
    QString m_baseUrl;
    QString m_baseDir;
    int m_requestCount = 0;
    Timings m_timings;

    // Armed once when data starts; on expiry it re-arms for what is left since the last data, so that each chunk
    // costs a clock read instead of a timer restart.
    QTimer* m_stallTimer = nullptr;
    QElapsedTimer m_sinceLastData;
    // Repeats every window once data has started; each window must bring its share at minBytesPerSecond.
    QTimer* m_slowTransferTimer = nullptr;
    qint64 m_windowBytes = 0;
    QHash<QString, qint64> m_expectedSizes;
    qint64 m_expectedSize = -1; // of the current file; -1: unknown
    qint64 m_receivedBytes = 0; // of the current file
    QHash<QString, QString> m_expectedHashes;
    bool m_hashing = false; // the current file is listed in m_expectedHashes
    std::unique_ptr<Sha256Hasher> m_hasher;
    // Reused for every chunk: no allocation per read.
    QByteArray m_chunk;
    QString m_currentPath;
};
