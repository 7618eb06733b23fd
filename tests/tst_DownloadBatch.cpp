#include <memory>

#include <QtTest>

#include "DownloadBatch.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;

using namespace UpdateTest;

namespace {
// Download threads and the network threads of their managers, as the kernel sees them: a thread left running
// after a batch shows here. (The test server's own threads have other names.) A finished QThread's system
// thread may take a moment to vanish, hence QTRY_COMPARE on it.
int threadCount()
{
    int count = 0;
    const QString tasks = QStringLiteral("/proc/self/task");
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + "/" + task + "/comm");
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const QByteArray name = comm.readAll().trimmed();
        if (name == "Downloader" || name.startsWith("Qt HTTP"))
            ++count;
    }
    return count;
}

QStringList numbered(int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << QStringLiteral("f%1/file %2.bin").arg(i % 3).arg(i);
    return paths;
}
} // namespace

class tst_DownloadBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void downloadsEveryPath_data();
    void downloadsEveryPath();
    void firstFailureCancelsTheRest();
    void userCancel();
    void sslErrorsRecordCodeAndTexts();
    void emptyListStartsNothing();

private:
    bool runBatch(const QStringList& paths);

    std::unique_ptr<TestHttpsServer> server;
    std::unique_ptr<QTemporaryDir> target;
    LauncherError launcherError = NoError;
    QStringList errorDetails;
    std::unique_ptr<DownloadBatch> batch;
    QList<QPair<qint64, qint64>> progress;
    int baselineThreads = 0;
};

void tst_DownloadBatch::init()
{
    server.reset(new TestHttpsServer);
    QVERIFY(server->start());
    target.reset(new QTemporaryDir);
    launcherError = NoError;
    errorDetails.clear();
    progress.clear();
    batch.reset(new DownloadBatch(launcherError, errorDetails));
    connect(batch.get(), &DownloadBatch::updateDownloadProgress, this, [this](qint64 received, qint64 total) {
        progress.append({received, total});
    });
    baselineThreads = threadCount();
}

void tst_DownloadBatch::cleanup()
{
    batch.reset();
    server.reset();
    target.reset();
}

bool tst_DownloadBatch::runBatch(const QStringList& paths)
{
    return batch->downloadInParallel(paths, server->urlText("orvel/patch/download?version=2.0&os=255&file=/"),
                                     target->path() + "/App");
}

void tst_DownloadBatch::downloadsEveryPath_data()
{
    QTest::addColumn<int>("paths");
    QTest::addColumn<int>("threads");
    QTest::addColumn<QList<int>>("firstBucket"); // indices into the list
    QTest::addColumn<QList<int>>("lastBucket");

    QTest::newRow("1 path, 1 thread") << 1 << 1 << QList<int>{0} << QList<int>{0};
    QTest::newRow("16 paths, 16 threads") << 16 << 16 << QList<int>{0} << QList<int>{15};
    QTest::newRow("17 paths, 16 threads") << 17 << 16 << QList<int>{0, 16} << QList<int>{15};
    QTest::newRow("40 paths, 16 threads") << 40 << 16 << QList<int>{0, 16, 32} << QList<int>{15, 31};
}

void tst_DownloadBatch::downloadsEveryPath()
{
    QFETCH(int, paths);
    QFETCH(int, threads);
    QFETCH(QList<int>, firstBucket);
    QFETCH(QList<int>, lastBucket);
    const QStringList list = numbered(paths);
    const auto pick = [&list](const QList<int>& indices) {
        QStringList picked;
        for (int i : indices)
            picked << list.at(i);
        return picked;
    };
    const QList<QStringList> buckets = DownloadBatch::buckets(list);
    QCOMPARE(buckets.size(), threads);
    QCOMPARE(buckets.first(), pick(firstBucket));
    QCOMPARE(buckets.last(), pick(lastBucket));
    Files bodies;
    qint64 totalBytes = 0;
    for (int i = 0; i < paths; ++i) {
        const QByteArray body = pattern(1000 + i * 7919, i);
        bodies.insert(list.at(i), body);
        totalBytes += body.size();
    }
    server->setHandler("/orvel/patch/download", [bodies](const TestRequest& request) {
        const QString file = request.query().queryItemValue("file", QUrl::FullyDecoded);
        const auto it = bodies.find(file.mid(1));
        return it == bodies.end() ? TestReply::text(404, "no") : TestReply::text(200, it.value());
    });

    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("use thread count: %1").arg(threads)));
    QVERIFY(runBatch(list));

    QVERIFY(!batch->isRunning());
    QTRY_COMPARE(threadCount(), baselineThreads);
    QCOMPARE(readTree(target->path() + "/App"), bodies);
    // Every file reports its final step exactly once, so the finished steps add up to the bytes fetched.
    qint64 completed = 0;
    for (const auto& step : qAsConst(progress)) {
        if (step.first == step.second)
            completed += step.second;
    }
    QCOMPARE(completed, totalBytes);
    QCOMPARE(launcherError, NoError);
}

void tst_DownloadBatch::firstFailureCancelsTheRest()
{
    // Seven files stall for good after their first bytes; one fails at once. Without the cancel the batch
    // would wait for the stall guard.
    TestReply stall = TestReply::text(200, pattern(400000, 1));
    stall.stallAfterBytes = 50000;
    server->setHandler("/orvel/patch/download", [stall](const TestRequest& request) {
        const QString file = request.query().queryItemValue("file");
        if (file == "/broken")
            return TestReply::text(404, "gone");
        return stall;
    });
    QStringList list = numbered(7);
    list.insert(3, "broken");

    QElapsedTimer clock;
    clock.start();
    QVERIFY(!runBatch(list));
    QVERIFY(clock.elapsed() < 20000);
    QVERIFY(!batch->isRunning());
    QTRY_COMPARE(threadCount(), baselineThreads);
    // Each stalled downloader removed its partial file before it reported.
    QCOMPARE(readTree(target->path() + "/App"), Files());
    QCOMPARE(launcherError, NoError);
}

void tst_DownloadBatch::userCancel()
{
    TestReply stall = TestReply::text(200, pattern(400000, 2));
    stall.stallAfterBytes = 10000;
    server->setRoute("/orvel/patch/download", stall);
    QTimer::singleShot(500, batch.get(), [this] {
        QVERIFY(batch->isRunning());
        batch->cancelByUser();
    });

    QVERIFY(!runBatch(numbered(20)));
    QVERIFY(!batch->isRunning());
    QTRY_COMPARE(threadCount(), baselineThreads);
    QCOMPARE(readTree(target->path() + "/App"), Files());
}

void tst_DownloadBatch::sslErrorsRecordCodeAndTexts()
{
    TestHttpsServer untrusted(TestHttpsServer::Trust::Untrusted);
    QVERIFY(untrusted.start());
    const bool ok =
        batch->downloadInParallel({"a"}, untrusted.urlText("orvel/patch/download?file=/"), target->path() + "/App");
    QVERIFY(!ok);
    QCOMPARE(launcherError, SslError);
    QVERIFY(!errorDetails.isEmpty() && !errorDetails.first().isEmpty());
}

void tst_DownloadBatch::emptyListStartsNothing()
{
    QVERIFY(runBatch({}));
    QTRY_COMPARE(threadCount(), baselineThreads);
    QCOMPARE(server->requestCount(), 0);
}

QTEST_GUILESS_MAIN(tst_DownloadBatch)
#include "tst_DownloadBatch.moc"
