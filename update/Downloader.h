#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QSslError>
#include <QStringList>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Fetches a list of files one after another with plain GETs and writes each to the same relative path under a local
// folder, chunk by chunk as it arrives. Meant to live on a thread of its own: Download() returns only when the whole
// list is done, waiting for each file in a nested event loop, so a queued Cancel() can still run meanwhile.
//
// A file that receives no data within the response interval is requested again, at most 10 times in all
// (noResponse() then). A file whose data stops for the stall timeout after it had started fails like a network error,
// and so does one that receives less than minBytesPerSecond on average over a slow-transfer window. A file whose
// expected size is known fails as soon as it receives a byte more than that, and at its end when it is shorter.
class Downloader : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Downloader)

public:
    static constexpr int defaultResponseIntervalMs = 3000;
    static constexpr int defaultStallTimeoutMs = 30000;
    static constexpr int defaultSlowTransferWindowMs = 60000;
    static constexpr qint64 minBytesPerSecond = 1024;
    static constexpr int maxRequestsPerFile = 10;
    // Bounds what the network layer holds for one transfer when the disk is slower than the network.
    static constexpr qint64 readBufferSize = 256 * 1024;

    // baseUrl + entry is each file's URL, baseDir + entry its local path (baseDir ends with "/").
    Downloader(QObject* parent, const QStringList& relativePaths, const QString& baseUrl, const QString& baseDir);
    ~Downloader() override;

    // All only before Download() runs; tests shorten the timings.
    void setResponseInterval(int milliseconds);
    void setStallTimeout(int milliseconds);
    void setSlowTransferWindow(int milliseconds);
    // Entry -> its size in bytes; entries not listed are taken at any size.
    void setExpectedSizes(const QHash<QString, qint64>& sizes);

signals:
    void noResponse();
    void mySslErrors(QList<QSslError> _sslErrors);
    void resultReady(bool _bSuccess);
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
    void onSslErrors(QList<QSslError> _sslErrors);
    void onTransferStalled();
    void onSlowTransferCheck();

private:
    void sendRequest();
    bool writeAvailable();
    void failWrongSize();
    void noteTransferActivity();
    void stopTimers();

    QNetworkAccessManager* manager = nullptr;
    QNetworkRequest request;
    QTimer* responseTimer = nullptr;
    QNetworkReply* reply = nullptr;
    QFile* file = nullptr;
    bool succeeded = true;
    bool progressComplete = false;
    bool dataReceived = false;
    bool cancelled = false;
    QStringList relativePaths;
    QString baseUrl;
    QString baseDir;
    int requestCount = 0;

    // Armed once when data starts; on expiry it re-arms for what is left since the last data, so that each chunk
    // costs a clock read instead of a timer restart.
    QTimer* stallTimer = nullptr;
    int stallTimeoutMs = defaultStallTimeoutMs;
    QElapsedTimer sinceLastData;
    int responseIntervalMs = defaultResponseIntervalMs;
    // Repeats every window once data has started; each window must bring its share at minBytesPerSecond.
    QTimer* slowTransferTimer = nullptr;
    int slowTransferWindowMs = defaultSlowTransferWindowMs;
    qint64 windowBytes = 0;
    QHash<QString, qint64> expectedSizes;
    qint64 expectedSize = -1; // of the current file; -1: unknown
    qint64 receivedBytes = 0; // of the current file
    // Reused for every chunk: no allocation per read.
    QByteArray chunk;
    QString currentPath;
};
