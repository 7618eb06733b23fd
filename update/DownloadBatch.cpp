#include "DownloadBatch.h"

#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include "Downloader.h"
#include "UpdateLogging.h"

DownloadBatch::DownloadBatch(LauncherError& launcherError, QStringList& errorDetails, QObject* parent)
    : QObject(parent), launcherError(launcherError), errorDetails(errorDetails),
      responseIntervalMs(Downloader::defaultResponseIntervalMs), stallTimeoutMs(Downloader::defaultStallTimeoutMs),
      slowTransferWindowMs(Downloader::defaultSlowTransferWindowMs)
{}

DownloadBatch::~DownloadBatch() = default;

QList<QStringList> DownloadBatch::buckets(const QStringList& paths)
{
    const int n = qMin(paths.size(), maxThreads);
    QList<QStringList> result;
    result.reserve(n);
    for (int k = 0; k < n; ++k)
        result.append(QStringList());
    for (int i = 0; i < paths.size(); ++i)
        result[i % n].append(paths.at(i));
    return result;
}

bool DownloadBatch::downloadInParallel(const QStringList& paths, const QString& downloadUrl,
                                       const QString& downloadAppDir, const QHash<QString, qint64>& expectedSizes)
{
    downloadSucceeded = true;
    downloaderThreads.clear();
    // Nothing would ever report, and the wait below would never end.
    if (paths.isEmpty())
        return true;

    const QList<QStringList> work = buckets(paths);
    QList<QPointer<QThread>> threads;
    for (const QStringList& bucket : work) {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("Downloader"));
        auto* downloader = new Downloader(nullptr, bucket, downloadUrl, downloadAppDir + QLatin1Char('/'));
        downloader->setResponseInterval(responseIntervalMs);
        downloader->setStallTimeout(stallTimeoutMs);
        downloader->setSlowTransferWindow(slowTransferWindowMs);
        downloader->setExpectedSizes(expectedSizes);
        downloaderThreads.insert(downloader, thread);
        threads.append(thread);
        downloader->moveToThread(thread);

        connect(thread, &QThread::finished, downloader, &QObject::deleteLater);
        connect(this, &DownloadBatch::operate, downloader, &Downloader::Download);
        connect(this, &DownloadBatch::cancel, downloader, &Downloader::Cancel);
        connect(downloader, &Downloader::updateDownloadProgress, this, &DownloadBatch::onUpdateDownloadProgress);
        connect(downloader, &Downloader::resultReady, this, &DownloadBatch::onDownloadFinished);
        connect(downloader, &Downloader::noResponse, this, &DownloadBatch::onNoResponse);
        connect(downloader, &Downloader::mySslErrors, this, &DownloadBatch::onMySslErrors);
        thread->start(QThread::InheritPriority);
    }

    emit operate();
    QEventLoop loop;
    connect(this, &DownloadBatch::exitloop, &loop, &QEventLoop::quit);
    loop.exec();

    // Every downloader has reported and its thread was asked to quit; let them end so none outlives the run.
    for (const QPointer<QThread>& thread : qAsConst(threads)) {
        if (thread) {
            thread->wait();
            delete thread.data();
        }
    }
    qCDebug(lcUpdate).noquote() << "use thread count:" << work.size();
    return downloadSucceeded;
}

bool DownloadBatch::isRunning() const
{
    return !downloaderThreads.isEmpty();
}

void DownloadBatch::cancelByUser()
{
    downloadSucceeded = false;
    emit cancel();
}

void DownloadBatch::setResponseInterval(int milliseconds)
{
    responseIntervalMs = milliseconds;
}

void DownloadBatch::setStallTimeout(int milliseconds)
{
    stallTimeoutMs = milliseconds;
}

void DownloadBatch::setSlowTransferWindow(int milliseconds)
{
    slowTransferWindowMs = milliseconds;
}

void DownloadBatch::onUpdateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal)
{
    emit updateDownloadProgress(_bytesReceived, _bytesTotal);
}

void DownloadBatch::onDownloadFinished(bool _bSuccess)
{
    if (!_bSuccess)
        downloadSucceeded = false;
    if (auto* downloader = qobject_cast<Downloader*>(sender())) {
        disconnect(this, &DownloadBatch::cancel, downloader, &Downloader::Cancel);
        if (QThread* thread = downloaderThreads.value(downloader)) {
            connect(thread, &QThread::finished, thread, &QObject::deleteLater);
            thread->quit();
        }
        downloaderThreads.remove(downloader);
    }
    if (downloaderThreads.isEmpty()) {
        emit exitloop();
        return;
    }
    if (!_bSuccess)
        emit cancel();
}

void DownloadBatch::onNoResponse()
{
    recordError(launcherError, NoResponse);
}

void DownloadBatch::onMySslErrors(QList<QSslError> _sslErrors)
{
    recordError(launcherError, SslError);
    for (const QSslError& error : qAsConst(_sslErrors))
        errorDetails.append(error.errorString());
}
