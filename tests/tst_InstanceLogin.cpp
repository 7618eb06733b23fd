// Browser sign-in against an in-process account service, with short poll intervals and limits.
#include <QRegularExpression>
#include <QtTest>

#include "BrowserStandIn.h"
#include "InProcessNetwork.h"
#include "InstanceLogin.h"
#include "NetworkWorker.h"
#include "TestToken.h"

using namespace OrvelTest;
Q_DECLARE_METATYPE(TestReply)

namespace {
constexpr int kIntervalMs = 20;
constexpr int kLimit = 4;
const QString kBase = "https://account.test/";

QByteArray tokenFor(const QByteArray& instanceId)
{
    return makeTestToken("{\"instanceId\":\"" + instanceId + "\",\"userId\":42}");
}
} // namespace

class tst_InstanceLogin : public QObject
{
    Q_OBJECT

private slots:
    void attemptThenNextAttempt_data();
    void attemptThenNextAttempt();
};

void tst_InstanceLogin::attemptThenNextAttempt_data()
{
    QTest::addColumn<TestReply>("poll");
    QTest::addColumn<bool>("startAgain"); // while polling: the same page again, no second timer
    QTest::addColumn<LauncherError>("code");
    QTest::addColumn<QString>("detail");

    const QString address = kBase + "api/Accounts/Login/Instance: ";
    TestReply closed;
    closed.dropAfterBytes = 0;
    // After a token of another sign-in the next attempt keeps the id; after a time-out it invents a new one.
    QTest::newRow("token of another id") << TestReply::text(200, tokenFor("someone-elses-instance")) << false
                                         << SignInFailed << "instanceId in the token: \"someone-elses-instance\"";
    QTest::newRow("refused until the limit")
        << TestReply::text(401, "not yet") << false << SignInTimeout << address + "HTTP 401";
    QTest::newRow("connection closed, started again while polling")
        << closed << true << SignInTimeout << address + "Connection closed";
}

void tst_InstanceLogin::attemptThenNextAttempt()
{
    QFETCH(TestReply, poll);
    QFETCH(bool, startAgain);
    QFETCH(LauncherError, code);
    QFETCH(QString, detail);

    InProcessNetwork network;
    network.setRoute("/api/Accounts/Login/Instance", poll);
    NetworkWorker::setManagerFactory([&network](QObject* parent) { return network.createManager(parent); });
    BrowserStandIn browser;
    InstanceLogin login(nullptr, kBase, kIntervalMs, kLimit);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    if (startAgain) {
        QTRY_VERIFY(login.pollCount() >= 1);
        login.startLogin();
        QCOMPARE(browser.openedUrls().at(1), browser.openedUrls().at(0));
    }
    const QByteArray id = login.instanceId().toUtf8();
    QVERIFY(QRegularExpression("^[A-Za-z0-9]{32}$").match(id).hasMatch());
    const QByteArray page = kBase.toUtf8() + "Account/Login?InstanceId=" + id + "&client=0&returnUrl=/account/signedin";
    QCOMPARE(browser.openedUrls().at(0).toEncoded(), page);

    // One attempt, one outcome; a time-out after limit + 1 polls names what the polls met.
    QTRY_COMPARE(failure.count(), 1);
    QCOMPARE(failure.at(0).at(0).value<Failure>().code, code);
    QCOMPARE(failure.at(0).at(0).value<Failure>().detail, detail);
    QTest::qWait(6 * kIntervalMs);
    QCOMPARE(failure.count(), 1);
    const QList<TestRequest> polls = network.requests();
    QCOMPARE(polls.size(), code == SignInTimeout ? kLimit + 1 : login.pollCount());
    for (const TestRequest& sent : polls) {
        QCOMPARE(sent.method + ' ' + sent.target, QByteArray("POST /api/Accounts/Login/Instance"));
        QCOMPARE(sent.body, "{\n    \"client\": 0,\n    \"instanceId\": \"" + id + "\"\n}\n");
        QCOMPARE(sent.header("api-version"), QByteArray("2.0"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!sent.hasHeader("Authorization"));
    }

    // The next attempt's third poll answers at once with a quoted token for the poll's id; the two before it would
    // answer the same later on, but are cancelled.
    int sent = 0;
    network.setHandler("/api/Accounts/Login/Instance", [&sent](const TestRequest& r) {
        TestReply reply = TestReply::text(200, "\"" + tokenFor(r.body.mid(r.body.indexOf("\": \"") + 4, 32)) + "\"");
        reply.delayMs = ++sent < 3 ? 10 * kIntervalMs : 0;
        return reply;
    });
    QTest::ignoreMessage(QtDebugMsg, "successToInstanceLogin");
    login.startLogin();
    QCOMPARE(login.instanceId() == id, code == SignInFailed);
    QCOMPARE(browser.openedUrls().last().toEncoded() == page, code == SignInFailed);
    QTRY_COMPARE(success.count(), 1);
    QCOMPARE(success.at(0).at(0).toByteArray(), tokenFor(login.instanceId().toUtf8()));
    QCOMPARE(login.pollCount(), 3);
    QTest::qWait(15 * kIntervalMs);
    QCOMPARE(login.pollCount(), 3);
    QCOMPARE(success.count(), 1);
    QCOMPARE(failure.count(), 1);
    NetworkWorker::setManagerFactory({});
}

QTEST_MAIN(tst_InstanceLogin)
#include "tst_InstanceLogin.moc"
