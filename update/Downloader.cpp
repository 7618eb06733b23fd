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
#include "Sha256Hasher.h"
#include "UpdateLogging.h"

namespace {
QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0) + QLatin1String(" s");
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
    stopTimers();
    // The manager and the timers are children and go with this object; a file still open here belongs to a
    // transfer that never finished.
    if (m_file) {
        m_file->remove();
        delete m_file;
    }
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
        auto* file = new QFile(localPath);
        // Unbuffered: each chunk goes to disk as it arrives, without another copy in between.
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            const QString error = file->errorString();
            delete file;
            fail(DownloadFailed, QStringLiteral("cannot open: ") + error);
            break;
        }
        m_file = file;
        m_expectedSize = m_expectedSizes.value(entry, -1);
        m_receivedBytes = 0;
        m_hashing = m_expectedHashes.contains(entry);
        if (m_hashing)
            m_hasher->init();
        m_progressComplete = false;
        m_dataReceived = false;
        m_requestCount = 0;
        m_request.setUrl(QUrl(m_baseUrl + ServiceUrls::encodePath(entry), QUrl::TolerantMode));
        sendRequest();
        m_responseTimer->start(m_timings.responseIntervalMs);

        QEventLoop loop;
        connect(this, &Downloader::exitloop, &loop, &QEventLoop::quit);
        loop.exec();
    }
    emit resultReady(m_failure);
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
    writeAvailable();
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
    fail(DownloadFailed, QStringLiteral("cannot write: ") + m_file->errorString());
    return false;
}

void Downloader::failWrongSize()
{
    fail(DownloadFailed, QStringLiteral("expected %1 bytes, received %2").arg(m_expectedSize).arg(m_receivedBytes));
}

void Downloader::onDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal)
{
    noteTransferActivity();
    if (m_progressComplete || _bytesReceived == 0 || _bytesTotal == 0)
        return;
    if (_bytesReceived == _bytesTotal)
        m_progressComplete = true;
    emit updateDownloadProgress(_bytesReceived, _bytesTotal);
}

void Downloader::onDownloadFinished()
{
    stopTimers();
    if (!m_reply || !m_file) {
        emit exitloop();
        return;
    }
    if (m_reply->error() != QNetworkReply::NoError) {
        const QString status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toString();
        if (status == QLatin1String("500"))
            qCDebug(lcUpdate) << "file not found.";
        qCDebug(lcUpdate).noquote() << m_reply->error() << ":" << m_reply->errorString();
        // The status of a followed redirect stays on the reply when the next hop fails: only an error status names
        // the fault.
        fail(DownloadFailed, status.toInt() >= 400 ? QLatin1String("HTTP ") + status : m_reply->errorString());
        return;
    }
    // Whatever arrived after the last readyRead belongs to the file too.
    if (!writeAvailable())
        return;
    if (m_expectedSize >= 0 && m_receivedBytes != m_expectedSize) {
        failWrongSize();
        return;
    }
    if (!m_file->flush()) {
        fail(DownloadFailed, QStringLiteral("cannot write: ") + m_file->errorString());
        return;
    }
    if (m_hashing) {
        const QString actual = m_hasher->finalHex();
        const QString expected = m_expectedHashes.value(m_currentPath);
        if (!Sha256Hasher::matches(expected, actual)) {
            fail(UpdateNotVerified, QStringLiteral("SHA-256 %1, the manifest says \"%2\"").arg(actual, expected));
            return;
        }
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
    fail(DownloadFailed, QStringLiteral("no data for ") + seconds(m_timings.stallTimeoutMs));
}

void Downloader::onSlowTransferCheck()
{
    if (m_windowBytes >= minBytesPerSecond * m_timings.slowTransferWindowMs / 1000) {
        m_windowBytes = 0;
        return;
    }
    fail(DownloadFailed,
         QStringLiteral("less than %1 bytes/s over ").arg(minBytesPerSecond) + seconds(m_timings.slowTransferWindowMs));
}

void Downloader::Cancel()
{
    if (m_cancelled)
        return;
    recordFailure(m_failure, {DownloadFailed, describe(QStringLiteral("cancelled"))});
    stopTimers();
    if (m_reply)
        m_reply->disconnect(this);
    if (m_file) {
        if (m_file->isOpen())
            m_file->remove();
        delete m_file;
        m_file = nullptr;
    }
    if (m_reply) {
        if (m_reply->isRunning())
            m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_cancelled = true;
    emit exitloop();
}
