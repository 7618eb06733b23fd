#include "DownloadBatch.h"

#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QVector>

#include "Downloader.h"
#include "UpdateLogging.h"

DownloadBatch::DownloadBatch(QObject* parent) : QObject(parent)
{}

DownloadBatch::~DownloadBatch() = default;

Failure DownloadBatch::downloadInParallel(const QStringList& paths, const QString& downloadUrl,
                                          const QString& downloadAppDir, const QHash<QString, qint64>& expectedSizes,
                                          const QHash<QString, QString>& expectedHashes)
{
    m_failure = Failure();
    m_downloaderThreads.clear();
    // Nothing would ever report, and the wait below would never end.
    if (paths.isEmpty())
        return m_failure;

    // Path i goes to bucket i mod n, keeping list order inside each bucket.
    const int n = qMin(paths.size(), maxThreads);
    QVector<QStringList> buckets(n);
    for (int i = 0; i < paths.size(); ++i)
        buckets[i % n].append(paths.at(i));

    QList<QPointer<QThread>> threads;
    for (const QStringList& bucket : qAsConst(buckets)) {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("Downloader"));
        auto* downloader = new Downloader(nullptr, bucket, downloadUrl, downloadAppDir + QLatin1Char('/'));
        downloader->setExpectedSizes(expectedSizes);
        downloader->setExpectedHashes(expectedHashes);
        m_downloaderThreads.insert(downloader, thread);
        threads.append(thread);
        downloader->moveToThread(thread);

        connect(thread, &QThread::finished, downloader, &QObject::deleteLater);
        connect(this, &DownloadBatch::operate, downloader, &Downloader::Download);
        connect(this, &DownloadBatch::cancel, downloader, &Downloader::Cancel);
        connect(downloader, &Downloader::updateDownloadProgress, this, &DownloadBatch::updateDownloadProgress);
        connect(downloader, &Downloader::resultReady, this, &DownloadBatch::onDownloadFinished);
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
    qCDebug(lcUpdate).noquote() << "use thread count:" << n;
    return m_failure;
}

bool DownloadBatch::isRunning() const
{
    return !m_downloaderThreads.isEmpty();
}

void DownloadBatch::cancelByUser()
{
    recordFailure(m_failure, {DownloadFailed, QStringLiteral("cancelled by the user")});
    emit cancel();
}

void DownloadBatch::onDownloadFinished(const Failure& _failure)
{
    recordFailure(m_failure, _failure);
    if (auto* downloader = qobject_cast<Downloader*>(sender())) {
        disconnect(this, &DownloadBatch::cancel, downloader, &Downloader::Cancel);
        if (QThread* thread = m_downloaderThreads.value(downloader)) {
            connect(thread, &QThread::finished, thread, &QObject::deleteLater);
            thread->quit();
        }
        m_downloaderThreads.remove(downloader);
    }
    if (m_downloaderThreads.isEmpty()) {
        emit exitloop();
        return;
    }
    if (_failure.failed())
        emit cancel();
}
