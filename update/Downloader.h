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
// The local folder is a cache that outlives a run. A file already there at its expected size (and, when its hash is
// listed, with that SHA-256) is kept and not fetched; a shorter one continues with "Range: bytes=N-" and is appended
// to when the server answers 206 with the matching Content-Range, or starts over on a 200. A file of unknown size
// always starts over.
//
// A file that receives no data within the response interval is requested again, at most 10 times in all (NoResponse
// then). A transfer that fails on its way (connection refused or reset, a timeout, HTTP 5xx, data that stops for the
// stall timeout, less than minBytesPerSecond on average over a slow-transfer window) is tried again up to maxRetries
// times, after pauses of retryPauseMs, twice that, four times that, keeping the bytes it got; an HTTP 4xx, an SSL
// error (SslError at once) or wrong content is not. A file whose expected size is known fails as soon as it receives
// a byte more than that, and at its end when it is shorter. A file whose expected hash is listed is hashed as it is
// written, never read back, and fails at its end with UpdateNotVerified unless the SHA-256 matches. Files with wrong
// content are removed; what a failed transfer got stays for the next run. The first failure of a run is the one
// reported, with the file and its reason as details.
class Downloader : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Downloader)

public:
    static constexpr qint64 minBytesPerSecond = 1024;
    static constexpr int maxRequestsPerFile = 10;
    static constexpr int maxRetries = 3;
    // Bounds what the network layer holds for one transfer when the disk is slower than the network.
    static constexpr qint64 readBufferSize = 256 * 1024;

    struct Timings
    {
        int responseIntervalMs = 3000;
        int stallTimeoutMs = 30000;
        int slowTransferWindowMs = 60000;
        int retryPauseMs = 500; // before the first retry of a file; doubled for each further one
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
    enum class Start { Fetch, Complete, Failed };
    // Opens the current file's cache entry and decides from what it holds: kept, continued, or fetched whole.
    Start startFile(const QString& localPath);
    bool hashExisting(qint64 size);
    bool waitBeforeRetry(int pauseMs);
    void sendRequest();
    // At the first data: what the status says about the body (the file's bytes from where, or an error page).
    bool checkStatus();
    bool writeAvailable();
    // Records the failure (the first one wins), logs it and abandons the rest of the list.
    void fail(LauncherError code, const QString& reason);
    // The same for a file whose bytes are wrong: it is removed rather than kept for a later run.
    void failContent(LauncherError code, const QString& reason);
    // Ends this attempt at the current file; Download() tries it again unless that was the last retry.
    void retryLater(const QString& reason);
    // Drops the reply and closes the file, removing it when `bRemove` or when it holds nothing.
    void endTransfer(bool bRemove);
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
    qint64 m_receivedBytes = 0; // of the current file, what was on disk before included
    qint64 m_offset = 0;        // bytes of the current file on disk when its request was sent
    bool m_statusChecked = false;
    bool m_discardBody = false; // the answer is an error page, not the file
    QString m_retryReason;      // why the current attempt ended early; empty while it runs or when it did not
    QHash<QString, QString> m_expectedHashes;
    bool m_hashing = false; // the current file is listed in m_expectedHashes
    std::unique_ptr<Sha256Hasher> m_hasher;
    // Reused for every chunk: no allocation per read.
    QByteArray m_chunk;
    QString m_currentPath;
};
