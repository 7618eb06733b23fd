#include "Downloader.h"

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include "FileSystem.h"
#include "ServiceUrls.h"
#include "Sha256Hasher.h"
#include "UpdateLogging.h"

namespace {
QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0) + QLatin1String(" s");
}

// Failures on the way that another attempt may not meet; an HTTP 5xx is one too.
bool isTransient(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProtocolFailure:
        return true;
    default:
        return false;
    }
}
} // namespace

Downloader::Downloader(QObject* parent, const QStringList& relativePaths, const QString& baseUrl,
                       const QString& baseDir)
    : QObject(parent), m_relativePaths(relativePaths), m_baseUrl(baseUrl), m_baseDir(baseDir),
      m_hasher(std::make_unique<Sha256Hasher>())
{
    // resultReady crosses threads: its argument type must be known to the meta-type system.
    qRegisterMetaType<Failure>();

    // Follow redirects, but never from HTTPS down to plain HTTP.
    m_request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    m_responseTimer = new QTimer(this);
    connect(m_responseTimer, &QTimer::timeout, this, &Downloader::checkNetworkResponse);

    m_stallTimer = new QTimer(this);
    m_stallTimer->setSingleShot(true);
    connect(m_stallTimer, &QTimer::timeout, this, &Downloader::onTransferStalled);

    m_slowTransferTimer = new QTimer(this);
    connect(m_slowTransferTimer, &QTimer::timeout, this, &Downloader::onSlowTransferCheck);
}

Downloader::~Downloader()
{
    // The manager and the timers are children and go with this object; a file still open here belongs to a
    // transfer that never finished, and stays for the next run to continue.
    endTransfer(false);
}

void Downloader::setTimings(const Timings& timings)
{
    m_timings = timings;
}

void Downloader::setExpectedSizes(const QHash<QString, qint64>& sizes)
{
    m_expectedSizes = sizes;
}

void Downloader::setExpectedHashes(const QHash<QString, QString>& hashes)
{
    m_expectedHashes = hashes;
}

void Downloader::Download()
{
    if (m_baseUrl.isEmpty()) {
        qCDebug(lcUpdate) << "url is empty.";
        recordFailure(m_failure, {DownloadFailed, QStringLiteral("no download address")});
        emit resultReady(m_failure);
        return;
    }
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);

    for (const QString& entry : qAsConst(m_relativePaths)) {
        if (m_cancelled)
            break;
        m_currentPath = entry;
        if (entry.isEmpty()) {
            qCDebug(lcUpdate) << "relativeFilePath is empty.";
            fail(DownloadFailed, QStringLiteral("empty file path"));
            break;
        }
        const QString localPath = m_baseDir + entry;
        if (!ensureDirectory(QFileInfo(localPath).absolutePath())) {
            qCDebug(lcUpdate) << "Failed to create directory.";
            fail(DownloadFailed, QStringLiteral("cannot create its folder"));
            break;
        }
        m_expectedSize = m_expectedSizes.value(entry, -1);
        m_hashing = m_expectedHashes.contains(entry);
        m_progressComplete = false;
        m_requestCount = 0;
        m_request.setUrl(QUrl(m_baseUrl + ServiceUrls::encodePath(entry), QUrl::TolerantMode));
        for (int retry = 0;; ++retry) {
            const Start start = startFile(localPath);
            if (start != Start::Fetch)
                break;
            m_retryReason.clear();
            m_dataReceived = false;
            sendRequest();
            m_responseTimer->start(m_timings.responseIntervalMs);
            QEventLoop loop;
            connect(this, &Downloader::exitloop, &loop, &QEventLoop::quit);
            loop.exec();
            if (m_retryReason.isEmpty() || m_cancelled)
                break;
            if (retry == maxRetries) {
                fail(DownloadFailed, m_retryReason + QStringLiteral(" (after %1 retries)").arg(maxRetries));
                break;
            }
            const int pauseMs = m_timings.retryPauseMs << retry;
            qCDebug(lcUpdate).noquote() << "Retrying" << m_currentPath << "in" << pauseMs << "ms:" << m_retryReason;
            if (!waitBeforeRetry(pauseMs))
                break;
        }
    }
    emit resultReady(m_failure);
}

Downloader::Start Downloader::startFile(const QString& localPath)
{
    auto* file = new QFile(localPath);
    // Unbuffered: each chunk goes to disk as it arrives, without another copy in between. Not truncated: what an
    // earlier run or attempt left is the start of the file.
    if (!file->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        const QString error = file->errorString();
        delete file;
        fail(DownloadFailed, QStringLiteral("cannot open: ") + error);
        return Start::Failed;
    }
    m_file = file;
    qint64 have = file->size();
    // Without a size nothing tells a whole file from a part; longer than its size it is not the published file.
    if (have > 0 && (m_expectedSize < 0 || have > m_expectedSize)) {
        file->resize(0);
        have = 0;
    }
    if (m_hashing) {
        m_hasher->init();
        if (have > 0 && !hashExisting(have)) {
            file->resize(0);
            m_hasher->init();
            have = 0;
        }
    }
    if (have == m_expectedSize) {
        const bool bVerified =
            !m_hashing || Sha256Hasher::matches(m_expectedHashes.value(m_currentPath), m_hasher->finalHex());
        if (bVerified) {
            delete m_file;
            m_file = nullptr;
            if (have > 0)
                emit updateDownloadProgress(have, have);
            return Start::Complete;
        }
        // The right size with other bytes: fetched again from its start.
        file->resize(0);
        m_hasher->init();
        have = 0;
    }
    file->seek(have);
    m_offset = have;
    m_receivedBytes = have;
    m_statusChecked = false;
    m_discardBody = false;
    // A null value removes the header.
    m_request.setRawHeader("Range", have > 0 ? "bytes=" + QByteArray::number(have) + '-' : QByteArray());
    return Start::Fetch;
}

bool Downloader::hashExisting(qint64 size)
{
    if (m_chunk.size() != readBufferSize)
        m_chunk.resize(readBufferSize);
    m_file->seek(0);
    for (qint64 done = 0; done < size;) {
        const qint64 read = m_file->read(m_chunk.data(), qMin<qint64>(m_chunk.size(), size - done));
        if (read <= 0)
            return false;
        m_hasher->update(m_chunk.constData(), read);
        done += read;
    }
    return true;
}

bool Downloader::waitBeforeRetry(int pauseMs)
{
    // A Cancel() meanwhile ends the wait.
    QEventLoop loop;
    QTimer::singleShot(pauseMs, &loop, &QEventLoop::quit);
    connect(this, &Downloader::exitloop, &loop, &QEventLoop::quit);
    loop.exec();
    return !m_cancelled;
}

void Downloader::sendRequest()
{
    m_reply = m_manager->get(m_request);
    ++m_requestCount;
    m_reply->setReadBufferSize(readBufferSize);
    connect(m_reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &Downloader::onDownloadProgress);
    connect(m_reply, &QNetworkReply::finished, this, &Downloader::onDownloadFinished);
    connect(m_reply, &QNetworkReply::sslErrors, this, &Downloader::onSslErrors);
}

void Downloader::fail(LauncherError code, const QString& reason)
{
    recordFailure(m_failure, {code, describe(reason)});
    qCDebug(lcUpdate).noquote() << "Download failed:" << m_failure.detail;
    Cancel();
}

void Downloader::failContent(LauncherError code, const QString& reason)
{
    endTransfer(true);
    fail(code, reason);
}

void Downloader::retryLater(const QString& reason)
{
    qCDebug(lcUpdate).noquote() << "Download interrupted:" << describe(reason);
    m_retryReason = reason;
    endTransfer(false);
    emit exitloop();
}

void Downloader::endTransfer(bool bRemove)
{
    stopTimers();
    if (m_reply) {
        m_reply->disconnect(this);
        if (m_reply->isRunning())
            m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (m_file) {
        if (bRemove || m_file->size() == 0)
            m_file->remove();
        delete m_file;
        m_file = nullptr;
    }
}

QString Downloader::describe(const QString& reason) const
{
    return m_currentPath.isEmpty() ? reason : m_currentPath + QLatin1String(": ") + reason;
}

void Downloader::noteTransferActivity()
{
    if (m_responseTimer->isActive())
        m_responseTimer->stop();
    m_sinceLastData.start();
    if (!m_stallTimer->isActive())
        m_stallTimer->start(m_timings.stallTimeoutMs);
    if (!m_slowTransferTimer->isActive()) {
        m_windowBytes = 0;
        m_slowTransferTimer->start(m_timings.slowTransferWindowMs);
    }
}

void Downloader::stopTimers()
{
    if (m_responseTimer->isActive())
        m_responseTimer->stop();
    m_stallTimer->stop();
    m_slowTransferTimer->stop();
}

void Downloader::onReadyRead()
{
    noteTransferActivity();
    m_dataReceived = true;
    if (!m_statusChecked && !checkStatus())
        return;
    writeAvailable();
}

bool Downloader::checkStatus()
{
    m_statusChecked = true;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 206 && m_offset > 0) {
        const QByteArray range = m_reply->rawHeader("Content-Range");
        const QByteArray asked = "bytes " + QByteArray::number(m_offset) + '-';
        const QByteArray end = m_expectedSize < 0
                                   ? QByteArray()
                                   : QByteArray::number(m_expectedSize - 1) + '/' + QByteArray::number(m_expectedSize);
        if (range.startsWith(asked) && range.mid(asked.size()) == end)
            return true;
        // Another part than the one asked for: the next attempt fetches the whole file.
        m_file->resize(0);
        retryLater(QStringLiteral("answered the range with \"%1\"").arg(QString::fromLatin1(range)));
        return false;
    }
    if (status >= 200 && status < 300) {
        if (m_offset > 0) {
            // The whole file after all: it starts over.
            m_file->resize(0);
            m_file->seek(0);
            m_offset = 0;
            m_receivedBytes = 0;
            if (m_hashing)
                m_hasher->init();
        }
        return true;
    }
    // An error page is not the file; onDownloadFinished() reports the status.
    m_discardBody = true;
    return true;
}

bool Downloader::writeAvailable()
{
    if (!m_file || !m_reply)
        return false;
    if (m_chunk.size() != readBufferSize)
        m_chunk.resize(readBufferSize);
    for (;;) {
        const qint64 read = m_reply->read(m_chunk.data(), m_chunk.size());
        if (read <= 0)
            return true;
        if (m_discardBody)
            continue;
        m_receivedBytes += read;
        m_windowBytes += read;
        // Whatever the body still holds, it is not the published file.
        if (m_expectedSize >= 0 && m_receivedBytes > m_expectedSize) {
            failWrongSize();
            return false;
        }
        if (m_file->write(m_chunk.constData(), read) != read)
            break;
        if (m_hashing)
            m_hasher->update(m_chunk.constData(), read);
    }
    // A short write (full disk) would leave a file that looks finished; fail the transfer instead.
    failContent(DownloadFailed, QStringLiteral("cannot write: ") + m_file->errorString());
    return false;
}

void Downloader::failWrongSize()
{
    failContent(DownloadFailed,
                QStringLiteral("expected %1 bytes, received %2").arg(m_expectedSize).arg(m_receivedBytes));
}

void Downloader::onDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal)
{
    noteTransferActivity();
    // Counted for the whole file, the part an earlier run or attempt fetched included; the last step comes from
    // onDownloadFinished(), once the bytes are on disk.
    if (m_progressComplete || m_discardBody || _bytesReceived == 0 || _bytesTotal == 0)
        return;
    const qint64 total = m_expectedSize >= 0 ? m_expectedSize : (_bytesTotal < 0 ? -1 : m_offset + _bytesTotal);
    const qint64 received = m_offset + _bytesReceived;
    if (received < total || total < 0)
        emit updateDownloadProgress(received, total);
}

void Downloader::onDownloadFinished()
{
    stopTimers();
    if (!m_reply || !m_file) {
        emit exitloop();
        return;
    }
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_reply->error() != QNetworkReply::NoError || m_discardBody) {
        const QNetworkReply::NetworkError error = m_reply->error();
        if (status == 500)
            qCDebug(lcUpdate) << "file not found.";
        qCDebug(lcUpdate).noquote() << error << ":" << m_reply->errorString();
        // The status of a followed redirect stays on the reply when the next hop fails: only an error status names
        // the fault.
        const QString reason = status >= 400 ? QLatin1String("HTTP ") + QString::number(status)
                                             : (error == QNetworkReply::NoError ? QStringLiteral("HTTP %1").arg(status)
                                                                                : m_reply->errorString());
        const bool bTransient = status >= 500 || (status < 400 && isTransient(error));
        // What arrived before the connection broke is kept for the next attempt.
        if (bTransient && m_statusChecked && !m_discardBody && !writeAvailable())
            return;
        if (bTransient)
            retryLater(reason);
        else
            fail(DownloadFailed, reason);
        return;
    }
    // Whatever arrived after the last readyRead belongs to the file too.
    if (!m_statusChecked && !checkStatus())
        return;
    if (!writeAvailable())
        return;
    if (m_expectedSize >= 0 && m_receivedBytes != m_expectedSize) {
        failWrongSize();
        return;
    }
    if (!m_file->flush()) {
        failContent(DownloadFailed, QStringLiteral("cannot write: ") + m_file->errorString());
        return;
    }
    if (m_hashing) {
        const QString actual = m_hasher->finalHex();
        const QString expected = m_expectedHashes.value(m_currentPath);
        if (!Sha256Hasher::matches(expected, actual)) {
            failContent(UpdateNotVerified,
                        QStringLiteral("SHA-256 %1, the manifest says \"%2\"").arg(actual, expected));
            return;
        }
    }
#ifdef Q_OS_LINUX
    // The install flushes every file to disk before it records the new build; starting the write-back now lets it
    // run while the other files download instead of all at the end. Only a hint: a failure changes nothing.
    (void)::sync_file_range(m_file->handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    if (!m_progressComplete && m_receivedBytes > 0) {
        m_progressComplete = true;
        emit updateDownloadProgress(m_receivedBytes, m_receivedBytes);
    }
    m_file->close();
    delete m_file;
    m_file = nullptr;
    m_reply->close();
    m_reply->deleteLater();
    m_reply = nullptr;
    emit exitloop();
}

void Downloader::onSslErrors(const QList<QSslError>& _sslErrors)
{
    QStringList texts;
    for (const QSslError& error : _sslErrors) {
        qCDebug(lcUpdate).noquote() << "SSL error: " + error.errorString();
        texts.append(error.errorString());
    }
    // SSL errors are never ignored: the transfer fails.
    fail(SslError, texts.join(QLatin1String("; ")));
}

void Downloader::checkNetworkResponse()
{
    if (m_dataReceived)
        return;
    if (m_requestCount >= maxRequestsPerFile) {
        fail(NoResponse, QStringLiteral("no data after %1 requests").arg(m_requestCount));
        return;
    }
    if (!m_responseTimer->isActive())
        return;
    if (m_reply) {
        m_reply->disconnect(this);
        if (m_reply->isRunning())
            m_reply->abort();
        m_reply->close();
        m_reply->deleteLater();
    }
    sendRequest();
}

void Downloader::onTransferStalled()
{
    const qint64 left = m_timings.stallTimeoutMs - m_sinceLastData.elapsed();
    if (left > 0) {
        m_stallTimer->start(int(left));
        return;
    }
    retryLater(QStringLiteral("no data for ") + seconds(m_timings.stallTimeoutMs));
}

void Downloader::onSlowTransferCheck()
{
    if (m_windowBytes >= minBytesPerSecond * m_timings.slowTransferWindowMs / 1000) {
        m_windowBytes = 0;
        return;
    }
    retryLater(QStringLiteral("less than %1 bytes/s over ").arg(minBytesPerSecond) +
               seconds(m_timings.slowTransferWindowMs));
}

void Downloader::Cancel()
{
    if (m_cancelled)
        return;
    recordFailure(m_failure, {DownloadFailed, describe(QStringLiteral("cancelled"))});
    // What the file got so far stays for the next run to continue.
    endTransfer(false);
    m_cancelled = true;
    emit exitloop();
}
