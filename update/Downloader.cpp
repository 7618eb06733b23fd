#include "Downloader.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include "FileSystem.h"
#include "ServiceUrls.h"
#include "UpdateLogging.h"

Downloader::Downloader(QObject* parent, const QStringList& relativePaths, const QString& baseUrl,
                       const QString& baseDir)
    : QObject(parent), relativePaths(relativePaths), baseUrl(baseUrl), baseDir(baseDir)
{
    // mySslErrors crosses threads: its argument type must be known to the meta-type system.
    qRegisterMetaType<QSslError>();
    qRegisterMetaType<QList<QSslError>>();

    // Follow redirects, but never from HTTPS down to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    responseTimer = new QTimer(this);
    connect(responseTimer, &QTimer::timeout, this, &Downloader::checkNetworkResponse);

    stallTimer = new QTimer(this);
    stallTimer->setSingleShot(true);
    connect(stallTimer, &QTimer::timeout, this, &Downloader::onTransferStalled);

    slowTransferTimer = new QTimer(this);
    connect(slowTransferTimer, &QTimer::timeout, this, &Downloader::onSlowTransferCheck);
}

Downloader::~Downloader()
{
    stopTimers();
    // The manager and the timers are children and go with this object; a file still open here belongs to a
    // transfer that never finished.
    if (file) {
        file->remove();
        delete file;
    }
}

void Downloader::setResponseInterval(int milliseconds)
{
    responseIntervalMs = milliseconds;
}

void Downloader::setStallTimeout(int milliseconds)
{
    stallTimeoutMs = milliseconds;
}

void Downloader::setSlowTransferWindow(int milliseconds)
{
    slowTransferWindowMs = milliseconds;
}

void Downloader::setExpectedSizes(const QHash<QString, qint64>& sizes)
{
    expectedSizes = sizes;
}

void Downloader::Download()
{
    if (baseUrl.isEmpty()) {
        qCDebug(lcUpdate) << "url is empty.";
        succeeded = false;
        emit resultReady(false);
        return;
    }
    if (!manager)
        manager = new QNetworkAccessManager(this);

    for (const QString& entry : qAsConst(relativePaths)) {
        if (cancelled)
            break;
        if (entry.isEmpty()) {
            qCDebug(lcUpdate) << "relativeFilePath is empty.";
            succeeded = false;
            break;
        }
        const QString localPath = baseDir + entry;
        if (!ensureDirectory(QFileInfo(localPath).absolutePath())) {
            qCDebug(lcUpdate) << "Failed to create directory.";
            succeeded = false;
            break;
        }
        file = new QFile(localPath);
        // Unbuffered: each chunk goes to disk as it arrives, without another copy in between.
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            qCDebug(lcUpdate).noquote() << "Cannot open" << localPath << ":" << file->errorString();
            delete file;
            file = nullptr;
            succeeded = false;
            break;
        }
        currentPath = entry;
        expectedSize = expectedSizes.value(entry, -1);
        receivedBytes = 0;
        progressComplete = false;
        dataReceived = false;
        requestCount = 0;
        request.setUrl(QUrl(baseUrl + ServiceUrls::encodePath(entry), QUrl::TolerantMode));
        sendRequest();
        responseTimer->start(responseIntervalMs);

        QEventLoop loop;
        connect(this, &Downloader::exitloop, &loop, &QEventLoop::quit);
        loop.exec();
    }
    emit resultReady(succeeded);
}

void Downloader::sendRequest()
{
    reply = manager->get(request);
    ++requestCount;
    reply->setReadBufferSize(readBufferSize);
    connect(reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &Downloader::onDownloadProgress);
    connect(reply, &QNetworkReply::finished, this, &Downloader::onDownloadFinished);
    connect(reply, &QNetworkReply::sslErrors, this, &Downloader::onSslErrors);
}

void Downloader::noteTransferActivity()
{
    if (responseTimer->isActive())
        responseTimer->stop();
    sinceLastData.start();
    if (!stallTimer->isActive())
        stallTimer->start(stallTimeoutMs);
    if (!slowTransferTimer->isActive()) {
        windowBytes = 0;
        slowTransferTimer->start(slowTransferWindowMs);
    }
}

void Downloader::stopTimers()
{
    if (responseTimer->isActive())
        responseTimer->stop();
    stallTimer->stop();
    slowTransferTimer->stop();
}

void Downloader::onReadyRead()
{
    noteTransferActivity();
    dataReceived = true;
    writeAvailable();
}

bool Downloader::writeAvailable()
{
    if (!file || !reply)
        return false;
    if (chunk.size() != readBufferSize)
        chunk.resize(readBufferSize);
    for (;;) {
        const qint64 read = reply->read(chunk.data(), chunk.size());
        if (read <= 0)
            return true;
        receivedBytes += read;
        windowBytes += read;
        // Whatever the body still holds, it is not the published file.
        if (expectedSize >= 0 && receivedBytes > expectedSize) {
            failWrongSize();
            return false;
        }
        if (file->write(chunk.constData(), read) != read)
            break;
    }
    // A short write (full disk) would leave a file that looks finished; fail the transfer instead.
    qCDebug(lcUpdate).noquote() << "Failed to write" << file->fileName() << ":" << file->errorString();
    Cancel();
    return false;
}

void Downloader::failWrongSize()
{
    qCDebug(lcUpdate).noquote() << "downloaded file has the wrong size:" << currentPath << "expected" << expectedSize
                                << "bytes, got" << receivedBytes;
    Cancel();
}

void Downloader::onDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal)
{
    noteTransferActivity();
    if (progressComplete || _bytesReceived == 0 || _bytesTotal == 0)
        return;
    if (_bytesReceived == _bytesTotal)
        progressComplete = true;
    emit updateDownloadProgress(_bytesReceived, _bytesTotal);
}

void Downloader::onDownloadFinished()
{
    stopTimers();
    if (!reply || !file) {
        emit exitloop();
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toString() == QLatin1String("500"))
            qCDebug(lcUpdate) << "file not found.";
        qCDebug(lcUpdate).noquote() << reply->error() << ":" << reply->errorString();
        qCDebug(lcUpdate).noquote() << "while downloading" << currentPath;
        Cancel();
        return;
    }
    // Whatever arrived after the last readyRead belongs to the file too.
    if (!writeAvailable())
        return;
    if (expectedSize >= 0 && receivedBytes != expectedSize) {
        failWrongSize();
        return;
    }
    if (!file->flush()) {
        qCDebug(lcUpdate).noquote() << "Failed to write" << file->fileName() << ":" << file->errorString();
        Cancel();
        return;
    }
    file->close();
    delete file;
    file = nullptr;
    reply->close();
    reply->deleteLater();
    reply = nullptr;
    emit exitloop();
}

void Downloader::onSslErrors(QList<QSslError> _sslErrors)
{
    for (const QSslError& error : qAsConst(_sslErrors))
        qCDebug(lcUpdate).noquote() << "SSL error: " + error.errorString();
    emit mySslErrors(_sslErrors);
    Cancel();
}

void Downloader::checkNetworkResponse()
{
    if (dataReceived)
        return;
    if (requestCount >= maxRequestsPerFile) {
        qCDebug(lcUpdate).noquote() << "no data after" << requestCount << "requests for" << currentPath;
        emit noResponse();
        Cancel();
        return;
    }
    if (!responseTimer->isActive())
        return;
    if (reply) {
        reply->disconnect(this);
        if (reply->isRunning())
            reply->abort();
        reply->close();
        reply->deleteLater();
    }
    sendRequest();
}

void Downloader::onTransferStalled()
{
    const qint64 left = stallTimeoutMs - sinceLastData.elapsed();
    if (left > 0) {
        stallTimer->start(int(left));
        return;
    }
    qCDebug(lcUpdate).noquote() << "no data for" << stallTimeoutMs << "ms, giving up on" << currentPath;
    Cancel();
}

void Downloader::onSlowTransferCheck()
{
    if (windowBytes >= minBytesPerSecond * slowTransferWindowMs / 1000) {
        windowBytes = 0;
        return;
    }
    qCDebug(lcUpdate).noquote() << "transfer slower than" << minBytesPerSecond << "bytes/s for" << slowTransferWindowMs
                                << "ms, giving up on" << currentPath;
    Cancel();
}

void Downloader::Cancel()
{
    if (cancelled)
        return;
    stopTimers();
    if (reply)
        reply->disconnect(this);
    if (file) {
        if (file->isOpen())
            file->remove();
        delete file;
        file = nullptr;
    }
    if (reply) {
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
        reply = nullptr;
    }
    cancelled = true;
    succeeded = false;
    emit exitloop();
}
