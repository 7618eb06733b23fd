#include <memory>

#include <QtTest>

#include "DownloadBatch.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;
using namespace UpdateTest;

namespace {
// Download threads and the network threads of their managers, as the kernel sees them: a thread left running
// after a batch shows here. (The test server's own threads have other names.)
int threadCount()
{
    int count = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray name = readFile("/proc/self/task/" + task + "/comm").trimmed();
        count += name == "Downloader" || name.startsWith("Qt HTTP");
    }
    return count;
}

} // namespace

class tst_DownloadBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init()
    {
        m_server.clearRequests();
        m_target.reset(new QTemporaryDir);
    }

    // Every path arrives on at most 16 threads, or the first failure (a downloader's, or the user's cancel) is the
    // batch's and the others abandon their files. No download thread outlives the batch.

    void downloadInParallel_data()
    {
        QTest::addColumn<int>("paths");
        QTest::addColumn<int>("threads");
        QTest::addColumn<QString>("failure"); // the batch's failure detail; empty: none

        QTest::newRow("1 path, 1 thread") << 1 << 1 << QString();
        QTest::newRow("17 paths, 16 threads") << 17 << 16 << QString();
        QTest::newRow("no path: nothing started") << 0 << 0 << QString();
        // The others stall after their first bytes: without the cancel the batch would wait for their 30 s guard.
        QTest::newRow("one file answers 404") << 20 << 16 << "f3: HTTP 404";
        QTest::newRow("cancelled by the user") << 20 << 16 << "cancelled by the user";
    }

    void downloadInParallel()
    {
        QFETCH(int, paths);
        QFETCH(int, threads);
        QFETCH(QString, failure);
        QStringList list;
        Files bodies;
        qint64 totalBytes = 0;
        for (int i = 0; i < paths; ++i) {
            list << QStringLiteral("f%1").arg(i) + (i % 3 ? QStringLiteral("/file %1.bin").arg(i) : QString());
            bodies.insert(list.last(), pattern(1000 + i * 7919, i));
            totalBytes += 1000 + i * 7919;
        }
        TestReply stall = TestReply::text(200, pattern(400000, 1));
        stall.stallAfterBytes = 50000;
        m_server.setHandler("/orvel/patch/download", [bodies, failure, stall](const TestRequest& request) {
            const QString file = request.query().queryItemValue("file", QUrl::FullyDecoded).mid(1);
            if (failure.isEmpty())
                return TestReply::text(200, bodies.value(file));
            return file == "f3" && failure.contains("404") ? TestReply::text(404, "gone") : stall;
        });
        if (failure.contains("user"))
            QTimer::singleShot(500, &m_batch, [this] { m_batch.cancelByUser(); });
        // Every file reports its final step exactly once, so the finished steps add up to the bytes fetched.
        qint64 completed = 0;
        connect(&m_batch, &DownloadBatch::updateDownloadProgress, this,
                [&completed](qint64 received, qint64 total) { completed += received == total ? total : 0; });
        if (threads)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("use thread count: %1").arg(threads)));
        const int baselineThreads = threadCount();
        QElapsedTimer clock;
        clock.start();

        const Failure result = m_batch.downloadInParallel(
            list, m_server.urlText("orvel/patch/download?version=2.0&os=255&file=/"), m_target->path() + "/App");
        m_batch.disconnect(this);
        QCOMPARE(int(result.code), failure.isEmpty() ? int(NoError) : int(DownloadFailed));
        QCOMPARE(result.detail, failure);
        QVERIFY(clock.elapsed() < 20000);
        QVERIFY(!m_batch.isRunning());
        // A finished QThread's system thread may take a moment to vanish.
        QTRY_COMPARE(threadCount(), baselineThreads);
        // Cancelled downloaders keep what they got for a later run: beginnings of the served bodies only.
        const Files left = readTree(m_target->path() + "/App");
        QVERIFY(failure.isEmpty() ? left == bodies
                                  : std::all_of(left.cbegin(), left.cend(),
                                                [&](const QByteArray& part) { return stall.body.startsWith(part); }));
        if (failure.isEmpty()) {
            QCOMPARE(completed, totalBytes);
            QCOMPARE(m_server.requestCount(), paths);
        }
    }

private:
    TestHttpsServer m_server;
    std::unique_ptr<QTemporaryDir> m_target;
    DownloadBatch m_batch;
};

QTEST_GUILESS_MAIN(tst_DownloadBatch)
#include "tst_DownloadBatch.moc"
