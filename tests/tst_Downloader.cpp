#include <atomic>
#include <functional>
#include <memory>

#include <QtTest>

#include "Downloader.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;

using namespace UpdateTest;

namespace {
// What one Download() call reported.
struct Run
{
    QList<bool> results;
    int noResponse = 0;
    QList<QSslError> sslErrors;
};

void watch(Downloader& downloader, Run& run)
{
    QObject::connect(&downloader, &Downloader::resultReady, [&run](bool ok) { run.results.append(ok); });
    QObject::connect(&downloader, &Downloader::noResponse, [&run] { ++run.noResponse; });
    QObject::connect(&downloader, &Downloader::mySslErrors,
                     [&run](const QList<QSslError>& errors) { run.sslErrors += errors; });
}
// Runs one Download() of `files`; `before` adjusts the downloader first.
Run download(const QStringList& files, const QString& base, const QString& dir,
             const std::function<void(Downloader&)>& before = {})
{
    Downloader downloader(nullptr, files, base, dir);
    Run run;
    watch(downloader, run);
    if (before)
        before(downloader);
    downloader.Download();
    return run;
}
} // namespace

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Files arrive as served.
    void followsRedirect();

    // The list ends at the first failure (a status, a dropped or stalled body, no data ever, a file in the way), and
    // the failed file is removed.
    void failureRemovesFileAndStops_data();
    void failureRemovesFileAndStops();
    void untrustedCertificateFails();

    // A first byte that comes late is asked for again.
    void slowFirstByteIsRequestedAgain();

    // Cancellation.
    void cancelMidTransfer();
    void cancelAfterReturnChangesNothing();

private:
    QString base() const { return server->urlText("files/"); }
    QString dir() const { return target->path() + QLatin1Char('/'); }

    std::unique_ptr<TestHttpsServer> server;
    std::unique_ptr<QTemporaryDir> target;
};

void tst_Downloader::init()
{
    server.reset(new TestHttpsServer);
    QVERIFY(server->start());
    target.reset(new QTemporaryDir);
    QVERIFY(target->isValid());
}

void tst_Downloader::cleanup()
{
    server.reset();
    target.reset();
}

void tst_Downloader::followsRedirect()
{
    const QByteArray body = pattern(70000, 4);
    server->setRoute("/files/moved.bin", TestReply::redirect(server->urlText("elsewhere/final.bin").toUtf8()));
    server->setRoute("/elsewhere/final.bin", TestReply::text(200, body));

    const Run run = download({"moved.bin"}, base(), dir());

    QCOMPARE(run.results, QList<bool>{true});
    QCOMPARE(readFile(dir() + "moved.bin"), body);
    QCOMPARE(server->requestCount("/elsewhere/final.bin"), 1);
}

void tst_Downloader::failureRemovesFileAndStops_data()
{
    QTest::addColumn<QString>("failing");      // the entry between "first" and "last"
    QTest::addColumn<QStringList>("messages"); // debug lines, as patterns
    QTest::addColumn<int>("requests");         // of the failing entry
    QTest::addColumn<int>("noResponse");

    const QString reply = "^QNetworkReply::\\w+ : .+";
    QTest::newRow("404") << "404" << QStringList{reply, "^while downloading 404$"} << 1 << 0;
    QTest::newRow("connection dropped in the body") << "cut" << QStringList{reply, "^while downloading cut$"} << 1 << 0;
    QTest::newRow("stall after data") << "stalls" << QStringList{"^no data for 700 ms, giving up on stalls$"} << 1 << 0;
    // Fails at its first bytes, although the body is far longer and then stalls.
    QTest::newRow("longer than its size")
        << "long" << QStringList{"^downloaded file has the wrong size: long expected 1000 bytes, got \\d+$"} << 1 << 0;
    // 20 bytes every 50 ms: data keeps coming, but at 400 bytes/s.
    QTest::newRow("slower than 1 KiB/s")
        << "trickle" << QStringList{"^transfer slower than 1024 bytes/s for 600 ms, giving up on trickle$"} << 1 << 0;
    QTest::newRow("no data ever: 10 requests")
        << "silent" << QStringList{"^no data after 10 requests for silent$"} << 10 << 1;
    // A file where the folder of the entry would go.
    QTest::newRow("unwritable target") << "blocker/inside" << QStringList{"^Failed to create directory.$"} << 0 << 0;
}

void tst_Downloader::failureRemovesFileAndStops()
{
    QFETCH(QString, failing);
    QFETCH(QStringList, messages);
    QFETCH(int, requests);
    QFETCH(int, noResponse);
    server->setRoute("/files/first", TestReply::text(200, "first"));
    server->setRoute("/files/404", TestReply::text(404, "error page body"));
    TestReply cut = TestReply::text(200, pattern(200000, 7));
    cut.dropAfterBytes = 50000;
    server->setRoute("/files/cut", cut);
    TestReply stall = TestReply::text(200, pattern(500000, 9));
    stall.stallAfterBytes = 100000;
    server->setRoute("/files/stalls", stall);
    server->setRoute("/files/silent", TestReply::never());
    server->setRoute("/files/long", stall);
    TestReply trickle = TestReply::text(200, pattern(4000, 11));
    trickle.chunkSize = 20;
    trickle.chunkPauseMs = 50;
    server->setRoute("/files/trickle", trickle);
    server->setRoute("/files/last", TestReply::text(200, "last"));
    writeFile(dir() + "blocker", QByteArray());
    for (const QString& message : messages)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));

    const Run run = download({"first", failing, "last"}, base(), dir(), [](Downloader& d) {
        d.setResponseInterval(600);
        d.setStallTimeout(700);
        d.setSlowTransferWindow(600);
        d.setExpectedSizes({{"first", 5}, {"long", 1000}});
    });
    QCOMPARE(run.results, QList<bool>{false});
    QCOMPARE(run.noResponse, noResponse);
    QCOMPARE(readFile(dir() + "first"), QByteArray("first"));
    QVERIFY(!QFileInfo(dir() + failing).isFile());
    QVERIFY(!QFile::exists(dir() + "last"));
    // The tenth request may still be on its way to the server when the downloader gives up.
    QTRY_COMPARE(server->requestCount("/files/" + failing), requests);
    QCOMPARE(server->requestCount("/files/last"), 0);
}

void tst_Downloader::untrustedCertificateFails()
{
    TestHttpsServer untrusted(TestHttpsServer::Trust::Untrusted);
    QVERIFY(untrusted.start());
    untrusted.setRoute("/files/a", TestReply::text(200, "secret"));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^SSL error: .+"));
    const Run run = download({"a", "b"}, untrusted.urlText("files/"), dir());

    QCOMPARE(run.results, QList<bool>{false});
    QVERIFY(!run.sslErrors.isEmpty());
    QVERIFY(!QFile::exists(dir() + "a"));
    QCOMPARE(untrusted.requestCount(), 0);
}

void tst_Downloader::slowFirstByteIsRequestedAgain()
{
    // The first request answers after 4 s; the downloader asks again at 3 s and takes the second answer.
    const QByteArray body = pattern(100000, 8);
    auto answered = std::make_shared<std::atomic<int>>(0);
    server->setHandler("/files/slow", [body, answered](const TestRequest&) {
        TestReply reply = TestReply::text(200, body);
        if (answered->fetch_add(1) == 0)
            reply.delayMs = 4000;
        return reply;
    });

    const Run run = download({"slow"}, base(), dir());

    QCOMPARE(run.results, QList<bool>{true});
    QCOMPARE(server->requestCount("/files/slow"), 2);
    QCOMPARE(readFile(dir() + "slow"), body);
    QCOMPARE(run.noResponse, 0);
}

void tst_Downloader::cancelMidTransfer()
{
    TestReply stall = TestReply::text(200, pattern(500000, 10));
    stall.stallAfterBytes = 100000;
    server->setRoute("/files/a", TestReply::text(200, "done"));
    server->setRoute("/files/b", stall);
    server->setRoute("/files/c", TestReply::text(200, "never"));

    Downloader downloader(nullptr, {"a", "b", "c"}, base(), dir());
    Run run;
    watch(downloader, run);
    // Cancel once the second file has its first 100000 bytes on disk (the server then stalls). The stall guard is
    // set far beyond the time this may take, so only the cancel can end the transfer in time.
    downloader.setStallTimeout(60000);
    QTimer poll;
    connect(&poll, &QTimer::timeout, &downloader, [&downloader, this] {
        if (QFileInfo(dir() + "b").size() >= 100000)
            downloader.Cancel();
    });
    QElapsedTimer clock;
    clock.start();
    poll.start(20);
    downloader.Download();

    QVERIFY(clock.elapsed() < 30000);
    QCOMPARE(run.results, QList<bool>{false});
    QCOMPARE(readFile(dir() + "a"), QByteArray("done"));
    QVERIFY(!QFile::exists(dir() + "b"));
    QVERIFY(!QFile::exists(dir() + "c"));
    QCOMPARE(server->requestCount("/files/c"), 0);
}

void tst_Downloader::cancelAfterReturnChangesNothing()
{
    server->setRoute("/files/a", TestReply::text(200, "kept"));
    Downloader downloader(nullptr, {"a"}, base(), dir());
    Run run;
    watch(downloader, run);
    downloader.Download();
    QSignalSpy exitloop(&downloader, &Downloader::exitloop);
    downloader.Cancel();
    downloader.Cancel();

    QCOMPARE(run.results, QList<bool>{true});
    QCOMPARE(readFile(dir() + "a"), QByteArray("kept"));
    QCOMPARE(exitloop.count(), 1);
}

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_Downloader.moc"
