// The request worker, single downloads and parallel batches against real HTTPS servers on loopback.
#include <memory>

#include <QtTest>

#include "DownloadBatch.h"
#include "Downloader.h"
#include "NetworkWorker.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"
#include "WorkerOwner.h"

using namespace OrvelTest;
using namespace UpdateTest;

// How a synchronous wait ends.
enum class Ends { Answered, OwnerAborts, TimesOut, OwnerDeleted };

// One synchronous request of a reused worker, and what the worker holds when the wait ends.
struct WaitCase
{
    QUrl url;
    QString status;
    QByteArray body;
    QString detail{}; // after the address
    LauncherError code = VersionCheckFailed;
    Ends ends = Ends::Answered;
};
Q_DECLARE_METATYPE(WaitCase)

// A list whose middle entry fails; `requests` of that entry, -1: Qt may repeat a redirected first request.
struct FailureCase
{
    QString failing; // the entry between "first" and "last"
    TestReply reply; // what the failing entry is served
    QString detail;  // a pattern
    int requests = 1;
    LauncherError error = DownloadFailed;
};
Q_DECLARE_METATYPE(FailureCase)

namespace {
QString sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// What one Download() call reported (it reports exactly once).
Failure download(Downloader& downloader)
{
    QSignalSpy results(&downloader, &Downloader::resultReady);
    downloader.Download();
    return results.size() == 1 ? results.first().first().value<Failure>() : Failure{NoError, "reported twice"};
}

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

class tst_HttpsTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server.setRoute("/json", TestReply::json("{\"v\":\"2.0\"}"));
        m_server.setRoute("/created", TestReply::text(201, "created body"));
        m_server.setRoute("/bad", TestReply::text(400, "bad request"));
        m_server.setRoute("/broken", TestReply::text(500, "internal"));
        m_server.setRoute("/moved", TestReply::redirect("/json"));
        TestReply headersOnly = TestReply::json("{\"v\":\"2.0\"}");
        headersOnly.stallAfterBytes = 0;
        m_server.setRoute("/headers-only", headersOnly);
        m_server.setRoute("/never", TestReply::never());
        QVERIFY(m_server.start());
        QVERIFY(m_untrusted.start());
    }

    void init()
    {
        m_server.clearRequests();
        m_target.reset(new QTemporaryDir);
        QVERIFY(m_target->isValid());
    }

    // Redirects are followed. Transfers failing on the way are retried, nothing else is. The list ends at the first
    // failure, the failure names file and reason, and the failed file keeps only bytes a later run can continue from.

    void failureStops_data()
    {
        QTest::addColumn<FailureCase>("c");

        TestReply stall = TestReply::text(200, pattern(500000, 9));
        stall.stallAfterBytes = 100000;
        TestReply trickle = TestReply::text(200, pattern(4000, 11)); // 20 bytes every 50 ms: 400 bytes/s
        trickle.chunkSize = 20;
        trickle.chunkPauseMs = 50;
        const TestReply ok = TestReply::text(200, "12345");
        const QString retried = " \\(after 3 retries\\)$";
        QTest::newRow("404: not retried") << FailureCase{"a", TestReply::text(404, "error page"), "^a: HTTP 404$"};
        QTest::newRow("503: retried 3 times")
            << FailureCase{"a", TestReply::text(503, "busy"), "^a: HTTP 503" + retried, 4};
        QTest::newRow("stall after data") << FailureCase{"a", stall, "^a: no data for 0.7 s" + retried, 4};
        QTest::newRow("slower than 1 KiB/s")
            << FailureCase{"a", trickle, "^a: less than 1024 bytes/s over 0.6 s" + retried, 4};
        // Fails at its first bytes, although the body is far longer.
        QTest::newRow("longer than its size")
            << FailureCase{"1000", stall, "^1000: expected 1000 bytes, received \\d+$"};
        QTest::newRow("shorter than its size") << FailureCase{"6", ok, "^6: expected 6 bytes, received 5$"};
        QTest::newRow("size beyond 32 bits")
            << FailureCase{"2^31", ok, "^2\\^31: expected 2147483649 bytes, received 5$"};
        // Right size, other bytes; and a hash that is not 64 hex digits fails although nothing could match it.
        QTest::newRow("bytes differ from the hash")
            << FailureCase{"other", ok, "^other: SHA-256 [0-9a-f]{64}, the manifest says", 1, UpdateNotVerified};
        QTest::newRow("hash not 64 hex digits")
            << FailureCase{"short", ok, "^short: SHA-256 .+\"abc\"$", 1, UpdateNotVerified};
        QTest::newRow("no data ever: 10 requests")
            << FailureCase{"a", TestReply::never(), "^a: no data after 10 requests$", 10, NoResponse};
        QTest::newRow("cancelled while waiting") << FailureCase{"cancel", TestReply::never(), "^cancel: cancelled$"};
        // The redirect leads to a server whose certificate nobody trusts (no retry), or to a port nobody listens on.
        QTest::newRow("untrusted certificate") << FailureCase{
            "a", TestReply::redirect(m_untrusted.urlText("x").toUtf8()), "^a: .*certificate", -1, SslError};
        QTest::newRow("closed port") << FailureCase{"a", TestReply::redirect("https://127.0.0.1:1/x"),
                                                    "^a: Connection refused" + retried, -1};
        // A file stands where the entry's folder would go.
        QTest::newRow("unwritable target") << FailureCase{"blocker/a", ok, "^blocker/a: cannot create its folder$", 0};
        QTest::newRow("disk full") << FailureCase{"full", ok, "^full: cannot write: .+"};
        QTest::newRow("empty entry") << FailureCase{"", ok, "^empty file path$", 0};
    }

    void failureStops()
    {
        QFETCH(FailureCase, c);
        m_server.setRoute("/files/first", TestReply::redirect(m_server.urlText("elsewhere/first").toUtf8()));
        m_server.setRoute("/elsewhere/first", TestReply::text(200, "first"));
        m_server.setRoute("/files/" + c.failing, c.reply);
        m_server.setRoute("/files/last", TestReply::text(200, "last"));
        writeFile(dir() + "blocker", QByteArray());
        QVERIFY(QFile::link("/dev/full", dir() + "full"));

        Downloader downloader(nullptr, {"first", c.failing, "last"}, m_server.urlText("files/"), dir());
        downloader.setTimings({600, 700, 600, 20});
        downloader.setExpectedSizes({{"first", 5}, {"1000", 1000}, {"6", 6}, {"2^31", (1LL << 31) + 1}, {"other", 5}});
        // "first" arrives in every row: its hash in upper case matches.
        downloader.setExpectedHashes(
            {{"first", sha256("first").toUpper()}, {"other", sha256("54321")}, {"short", "abc"}});
        if (c.failing == "cancel") {
            m_server.setHandler("/files/cancel", [&downloader](const TestRequest&) {
                QMetaObject::invokeMethod(&downloader, &Downloader::Cancel, Qt::QueuedConnection);
                return TestReply::never();
            });
        }
        const Failure failure = download(downloader);
        QCOMPARE(failure.code, c.error);
        QVERIFY2(QRegularExpression(c.detail).match(failure.detail).hasMatch(), qPrintable(failure.detail));
        QCOMPARE(readFile(dir() + "first"), QByteArray("first"));
        // A transfer given up after its retries keeps what it got for a later run; any other failure leaves nothing.
        const QByteArray left = readFile(dir() + c.failing);
        QVERIFY(left == "<missing>" || (failure.detail.endsWith("retries)") && c.reply.body.startsWith(left)));
        QVERIFY(!QFile::exists(dir() + "last"));
        // The tenth request may still be on its way to the server when the downloader gives up.
        if (c.requests >= 0)
            QTRY_COMPARE(m_server.requestCount("/files/" + c.failing), c.requests);
        QCOMPARE(m_server.requestCount("/files/last"), 0);
    }

    // What an earlier run or attempt left in the folder is kept, continued with a Range request, or fetched again; a
    // first answer later than 3 s is asked for again.

    void continuesFromWhatIsThere_data()
    {
        QTest::addColumn<QByteArray>("there"); // in the folder before the download
        QTest::addColumn<QString>("server");   // how the server answers
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("range"); // the last request's Range header, a pattern

        const QByteArray body = pattern(300000, 5);
        QTest::newRow("complete: kept, not fetched") << body << "" << 0 << "";
        QTest::newRow("right size, other bytes: fetched whole") << pattern(300000, 6) << "" << 1 << "^$";
        QTest::newRow("longer than its size: fetched whole") << body + "x"
                                                             << "" << 1 << "^$";
        QTest::newRow("partial: only the rest fetched") << body.left(100000) << "" << 1 << "^bytes=100000-$";
        QTest::newRow("partial, range not served: starts over") << body.left(100000) << "200" << 1 << "^bytes=100000-$";
        QTest::newRow("dropped halfway: the retry continues") << QByteArray() << "drop" << 2 << "^bytes=[1-9][0-9]*-$";
        QTest::newRow("503 once: the retry fetches it") << QByteArray() << "503" << 2 << "^$";
        QTest::newRow("first data after 4 s: asked again") << QByteArray() << "late" << 2 << "^$";
    }

    void continuesFromWhatIsThere()
    {
        QFETCH(QByteArray, there);
        QFETCH(QString, server);
        QFETCH(int, requests);
        QFETCH(QString, range);
        const QByteArray body = pattern(300000, 5);
        if (!there.isNull())
            writeFile(dir() + "f", there);
        m_server.setHandler("/files/f", [this, body, server](const TestRequest& request) {
            const bool first = m_server.requestCount("/files/f") == 1; // recorded before it is answered
            if (server == "503" && first)
                return TestReply::text(503, "busy");
            const QByteArray asked = request.header("Range");
            const qint64 from = asked.mid(6).chopped(1).toLongLong();
            TestReply reply = TestReply::text(200, body);
            reply.dropAfterBytes = server == "drop" && first ? 120000 : -1;
            reply.delayMs = server == "late" && first ? 4000 : 0;
            if (from > 0 && server != "200") {
                reply = TestReply::text(206, body.mid(from));
                reply.headers = {
                    {"Content-Range", "bytes " + asked.mid(6) + QByteArray::number(body.size() - 1) + "/300000"}};
            }
            return reply;
        });
        Downloader downloader(nullptr, {"f"}, m_server.urlText("files/"), dir());
        downloader.setTimings({3000, 3000, 3000, 20});
        downloader.setExpectedSizes({{"f", body.size()}});
        downloader.setExpectedHashes({{"f", sha256(body)}});
        // The whole file is reported done exactly once, whatever an earlier attempt got.
        qint64 completed = 0;
        connect(&downloader, &Downloader::updateDownloadProgress,
                [&completed](qint64 received, qint64 total) { completed += received == total ? total : 0; });

        QCOMPARE(download(downloader).code, NoError);
        QCOMPARE(readFile(dir() + "f"), body);
        QCOMPARE(completed, qint64(body.size()));
        QCOMPARE(m_server.requestCount("/files/f"), requests);
        if (requests > 0)
            QVERIFY(QRegularExpression(range).match(m_server.requests("/files/f").last().header("Range")).hasMatch());
        // A Cancel after Download() returned changes nothing.
        QSignalSpy results(&downloader, &Downloader::resultReady);
        downloader.Cancel();
        QCOMPARE(readFile(dir() + "f"), body);
        QCOMPARE(results.count(), 0);
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
        Files bodies;
        for (int i = 0; i < paths; ++i)
            bodies.insert(QStringLiteral("f%1").arg(i) + (i % 3 ? QStringLiteral("/file %1.bin").arg(i) : QString()),
                          pattern(1000 + i * 7919, i));
        TestReply stall = TestReply::text(200, pattern(400000, 1));
        stall.stallAfterBytes = 50000;
        m_server.setHandler("/orvel/patch/download", [bodies, failure, stall](const TestRequest& request) {
            const QString file =
                QUrlQuery(QUrl::fromEncoded(request.target)).queryItemValue("file", QUrl::FullyDecoded).mid(1);
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
            bodies.keys(), m_server.urlText("orvel/patch/download?version=2.0&os=255&file=/"), dir() + "App");
        m_batch.disconnect(this);
        QCOMPARE(result.code, failure.isEmpty() ? NoError : DownloadFailed);
        QCOMPARE(result.detail, failure);
        QVERIFY(clock.elapsed() < 20000);
        QVERIFY(!m_batch.isRunning());
        // A finished QThread's system thread may take a moment to vanish.
        QTRY_COMPARE(threadCount(), baselineThreads);
        // Cancelled downloaders keep what they got for a later run: beginnings of the served bodies only.
        const Files left = readTree(dir() + "App");
        QVERIFY(failure.isEmpty() ? left == bodies
                                  : std::all_of(left.cbegin(), left.cend(),
                                                [&](const QByteArray& part) { return stall.body.startsWith(part); }));
        if (failure.isEmpty()) {
            QCOMPARE(completed, qint64(bodies.values().join().size()));
            QCOMPARE(m_server.requestCount(), paths);
        }
    }

    // The request worker: a synchronous wait ends with the answer, the owner's abort, the time limit, or the owner's
    // end; an asynchronous worker gives each reply one outcome.

    void synchronousOutcome_data()
    {
        QTest::addColumn<WaitCase>("c");

        // Rows without an answer keep the body of the worker's earlier 200, but not its status.
        const QByteArray earlier = "{\"v\":\"2.0\"}";
        const QString selfSigned = "The root certificate of the certificate chain is self-signed, and untrusted";
        QTest::newRow("200 with JSON") << WaitCase{m_server.url("json"), "200", earlier, {}, NoError};
        QTest::newRow("201 with a body") << WaitCase{m_server.url("created"), "201", "created body", "HTTP 201"};
        // Error answers keep their status and body.
        QTest::newRow("500") << WaitCase{m_server.url("broken"), "500", "internal", "HTTP 500"};
        // Redirects are not followed.
        QTest::newRow("redirect") << WaitCase{m_server.url("moved"), "302", {}, "HTTP 302"};
        QTest::newRow("closed port") << WaitCase{QUrl("https://127.0.0.1:1/"), {}, earlier, "Connection refused"};
        // The handshake is refused, so the request never reaches the server.
        QTest::newRow("untrusted certificate") << WaitCase{m_untrusted.url("json"), {}, earlier, selfSigned, SslError};
        // A 200 whose body never comes does not count.
        QTest::newRow("owner's abortReply after the headers") << WaitCase{
            m_server.url("headers-only"), {}, earlier, "Operation canceled", VersionCheckFailed, Ends::OwnerAborts};
        QTest::newRow("silent server, transfer timeout")
            << WaitCase{m_server.url("never"), {}, earlier, "Operation canceled", VersionCheckFailed, Ends::TimesOut};
        QTest::newRow("owner deleted during the wait")
            << WaitCase{m_server.url("never"), {}, {}, {}, NoError, Ends::OwnerDeleted};
    }

    void synchronousOutcome()
    {
        QFETCH(WaitCase, c);

        // The worker is reused, so every row also checks that nothing of the earlier answer leaks into the outcome.
        // Every worker's requests get a time limit, shortened here.
        NetworkWorker::setDefaultTransferTimeout(c.ends == Ends::TimesOut ? 600
                                                                          : NetworkWorker::DefaultTransferTimeoutMs);
        auto* owner = new WorkerOwner;
        QPointer<NetworkWorker> worker = new NetworkWorker(owner, false);
        NetworkWorker::setDefaultTransferTimeout(NetworkWorker::DefaultTransferTimeoutMs);
        worker->get(QNetworkRequest(m_server.url("json")));
        const int earlierRequests = m_server.requestCount("/json");
        QSignalSpy success(worker, &NetworkWorker::success);
        QSignalSpy failure(worker, &NetworkWorker::failure);
        if (c.code != NoError && !c.status.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, qPrintable("error log: " + QString::fromUtf8(c.body)));
        // Without the owner's abort the wait ends by itself, at the latest when the shortened time limit runs out.
        QTimer::singleShot(c.ends == Ends::OwnerAborts ? 300 : 8000, owner, &WorkerOwner::abortReply);
        QTimer watchdog; // for a wait that outlives its owner
        connect(&watchdog, &QTimer::timeout, [] { qFatal("The synchronous wait did not return"); });
        watchdog.start(10000);
        if (c.ends == Ends::OwnerDeleted)
            QTimer::singleShot(100, [owner] { delete owner; });
        QElapsedTimer clock;
        clock.start();
        worker->get(QNetworkRequest(c.url));
        QVERIFY(clock.elapsed() < 6000);
        if (c.ends == Ends::OwnerDeleted) {
            // The call came back without touching the dead worker.
            QVERIFY(!worker);
            return;
        }

        // Everything is settled when the call returns.
        QCOMPARE(worker->isSuccess(), c.code == NoError);
        QCOMPARE(worker->statusCode(), c.status);
        QCOMPARE(worker->responseData(), c.body);
        QCOMPARE(qMakePair(success.count(), failure.count()), c.code == NoError ? qMakePair(1, 0) : qMakePair(0, 1));
        const Failure outcome = worker->lastFailure(VersionCheckFailed);
        QCOMPARE(outcome.code, c.code);
        QCOMPARE(outcome.detail, c.detail.isEmpty() ? QString() : c.url.toString(QUrl::RemoveQuery) + ": " + c.detail);
        QCOMPARE(m_untrusted.requestCount(), 0);
        QCOMPARE(m_server.requestCount("/json"), earlierRequests + (c.url == m_server.url("json") ? 1 : 0));
        delete owner;
    }

    void asynchronousOneOutcomePerReply()
    {
        WorkerOwner owner;
        auto* worker = new NetworkWorker(&owner, true);
        QSignalSpy success(worker, &NetworkWorker::success);
        QSignalSpy failure(worker, &NetworkWorker::failure);
        QTest::ignoreMessage(QtDebugMsg, "error log: bad request");
        worker->get(QNetworkRequest(m_server.url("json")));
        worker->get(QNetworkRequest(m_server.url("bad")));
        worker->post(QNetworkRequest(m_server.url("json")), "x");
        QCOMPARE(success.count() + failure.count(), 0);
        // The 400 fails twice: once as the reply's error, once when the reply is handled.
        QTRY_COMPARE_WITH_TIMEOUT(success.count() + failure.count(), 4, 20000);
        QTest::qWait(100);
        QCOMPARE(qMakePair(success.count(), failure.count()), qMakePair(2, 2));
    }

private:
    QString dir() const { return m_target->path() + QLatin1Char('/'); }

    TestHttpsServer m_server;
    TestHttpsServer m_untrusted{TestHttpsServer::Trust::Untrusted};
    std::unique_ptr<QTemporaryDir> m_target;
    DownloadBatch m_batch;
};

QTEST_GUILESS_MAIN(tst_HttpsTransport)
#include "tst_HttpsTransport.moc"
