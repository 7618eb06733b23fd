#include <atomic>
#include <memory>

#include <QtTest>

#include "Downloader.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;
using namespace UpdateTest;
Q_DECLARE_METATYPE(TestReply)

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
} // namespace

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
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
        QTest::addColumn<QString>("failing"); // the entry between "first" and "last"
        QTest::addColumn<TestReply>("reply"); // what the failing entry is served
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("detail"); // a pattern
        QTest::addColumn<int>("requests");   // of the failing entry; -1: Qt may repeat a redirected first request

        const int failed = DownloadFailed;
        TestReply stall = TestReply::text(200, pattern(500000, 9));
        stall.stallAfterBytes = 100000;
        TestReply trickle = TestReply::text(200, pattern(4000, 11)); // 20 bytes every 50 ms: 400 bytes/s
        trickle.chunkSize = 20;
        trickle.chunkPauseMs = 50;
        const TestReply ok = TestReply::text(200, "12345");
        QTest::newRow("404: not retried")
            << "a" << TestReply::text(404, "error page") << failed << "^a: HTTP 404$" << 1;
        QTest::newRow("503: retried 3 times")
            << "a" << TestReply::text(503, "busy") << failed << "^a: HTTP 503 \\(after 3 retries\\)$" << 4;
        QTest::newRow("stall after data")
            << "a" << stall << failed << "^a: no data for 0.7 s \\(after 3 retries\\)$" << 4;
        QTest::newRow("slower than 1 KiB/s")
            << "a" << trickle << failed << "^a: less than 1024 bytes/s over 0.6 s \\(after 3 retries\\)$" << 4;
        // Fails at its first bytes, although the body is far longer.
        QTest::newRow("longer than its size")
            << "1000" << stall << failed << "^1000: expected 1000 bytes, received \\d+$" << 1;
        QTest::newRow("shorter than its size") << "6" << ok << failed << "^6: expected 6 bytes, received 5$" << 1;
        QTest::newRow("size beyond 32 bits")
            << "2^31" << ok << failed << "^2\\^31: expected 2147483649 bytes, received 5$" << 1;
        // Right size, other bytes; and a hash that is not 64 hex digits fails although nothing could match it.
        QTest::newRow("bytes differ from the hash")
            << "other" << ok << int(UpdateNotVerified) << "^other: SHA-256 [0-9a-f]{64}, the manifest says" << 1;
        QTest::newRow("hash not 64 hex digits")
            << "short" << ok << int(UpdateNotVerified) << "^short: SHA-256 .+\"abc\"$" << 1;
        QTest::newRow("no data ever: 10 requests")
            << "a" << TestReply::never() << int(NoResponse) << "^a: no data after 10 requests$" << 10;
        QTest::newRow("cancelled while waiting")
            << "cancel" << TestReply::never() << failed << "^cancel: cancelled$" << 1;
        // The redirect leads to a server whose certificate nobody trusts (no retry), or to a port nobody listens on.
        QTest::newRow("untrusted certificate") << "a" << TestReply::redirect(m_untrusted.urlText("x").toUtf8())
                                               << int(SslError) << "^a: .*certificate" << -1;
        QTest::newRow("closed port") << "a" << TestReply::redirect("https://127.0.0.1:1/x") << failed
                                     << "^a: Connection refused \\(after 3 retries\\)$" << -1;
        // A file stands where the entry's folder would go.
        QTest::newRow("unwritable target")
            << "blocker/a" << ok << failed << "^blocker/a: cannot create its folder$" << 0;
        QTest::newRow("disk full") << "full" << ok << failed << "^full: cannot write: .+" << 1;
        QTest::newRow("empty entry") << "" << ok << failed << "^empty file path$" << 0;
    }

    void failureStops()
    {
        QFETCH(QString, failing);
        QFETCH(TestReply, reply);
        QFETCH(int, error);
        QFETCH(QString, detail);
        QFETCH(int, requests);
        m_server.setRoute("/files/first", TestReply::redirect(m_server.urlText("elsewhere/first").toUtf8()));
        m_server.setRoute("/elsewhere/first", TestReply::text(200, "first"));
        m_server.setRoute("/files/" + failing, reply);
        m_server.setRoute("/files/last", TestReply::text(200, "last"));
        writeFile(dir() + "blocker", QByteArray());
        QVERIFY(QFile::link("/dev/full", dir() + "full"));

        Downloader downloader(nullptr, {"first", failing, "last"}, m_server.urlText("files/"), dir());
        downloader.setTimings({600, 700, 600, 20});
        downloader.setExpectedSizes({{"first", 5}, {"1000", 1000}, {"6", 6}, {"2^31", (1LL << 31) + 1}, {"other", 5}});
        // "first" arrives in every row: its hash in upper case matches.
        downloader.setExpectedHashes(
            {{"first", sha256("first").toUpper()}, {"other", sha256("54321")}, {"short", "abc"}});
        if (failing == "cancel") {
            m_server.setHandler("/files/cancel", [&downloader](const TestRequest&) {
                QMetaObject::invokeMethod(&downloader, &Downloader::Cancel, Qt::QueuedConnection);
                return TestReply::never();
            });
        }
        const Failure failure = download(downloader);
        QCOMPARE(int(failure.code), error);
        QVERIFY2(QRegularExpression(detail).match(failure.detail).hasMatch(), qPrintable(failure.detail));
        QCOMPARE(readFile(dir() + "first"), QByteArray("first"));
        // A transfer given up after its retries keeps what it got for a later run; any other failure leaves nothing.
        const QByteArray left = readFile(dir() + failing);
        QVERIFY(left == "<missing>" || (failure.detail.endsWith("retries)") && reply.body.startsWith(left)));
        QVERIFY(!QFile::exists(dir() + "last"));
        // The tenth request may still be on its way to the server when the downloader gives up.
        if (requests >= 0)
            QTRY_COMPARE(m_server.requestCount("/files/" + failing), requests);
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
        auto answered = std::make_shared<std::atomic<int>>(0);
        m_server.setHandler("/files/f", [body, server, answered](const TestRequest& request) {
            const bool first = answered->fetch_add(1) == 0;
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

private:
    QString dir() const { return m_target->path() + QLatin1Char('/'); }

    TestHttpsServer m_server;
    TestHttpsServer m_untrusted{TestHttpsServer::Trust::Untrusted};
    std::unique_ptr<QTemporaryDir> m_target;
};

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_Downloader.moc"
