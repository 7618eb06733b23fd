// Browser sign-in against a real HTTPS account service on loopback, with short poll intervals and limits.
#include <atomic>

#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include "BrowserStandIn.h"
#include "InstanceLogin.h"
#include "TestHttpsServer.h"
#include "TestToken.h"

using namespace OrvelTest;

namespace {

constexpr int kIntervalMs = 40;
const QString kPollPath = "/account/api/Accounts/Login/Instance";

QByteArray tokenFor(const QString& instanceId)
{
    return makeTestToken("{\"instanceId\":\"" + instanceId.toUtf8() +
                         "\",\"userId\":42,\"email\":\"ana@example.org\"}");
}

} // namespace

class tst_InstanceLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void browserAddressAndInstanceId();
    void successOnThirdPoll();
    void mismatchThenSameId();
    void timeoutThenNewId();
    void neverAnsweredSendsLimitPlusOnePolls_data();
    void neverAnsweredSendsLimitPlusOnePolls();
    void startWhilePollingReopensPageOnly();
    void unusableAnswerIsRejected_data();
    void unusableAnswerIsRejected();

private:
    QString base() const { return m_server.urlText("account/"); }
    // From the poll with this number on (1-based), answer "200" with the body the function gives.
    void answerFrom(int pollNumber, std::function<QByteArray(const TestRequest&)> body);

    TestHttpsServer m_server;
    std::atomic<int> m_polls{0};
};

void tst_InstanceLogin::initTestCase()
{
    qRegisterMetaType<LauncherError>("LauncherError");
    QVERIFY(m_server.start());
}

void tst_InstanceLogin::init()
{
    m_server.clearRequests();
    m_polls = 0;
    m_server.setRoute(kPollPath, TestReply::text(401, "not yet"));
}

void tst_InstanceLogin::answerFrom(int pollNumber, std::function<QByteArray(const TestRequest&)> body)
{
    m_polls = 0;
    m_server.setHandler(kPollPath, [this, pollNumber, body](const TestRequest& r) {
        if (++m_polls < pollNumber)
            return TestReply::text(401, "not yet");
        return TestReply::json(body(r));
    });
}

void tst_InstanceLogin::browserAddressAndInstanceId()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 3);
    QCOMPARE(login.pollCount(), -1);
    login.startLogin();

    const QString id = login.instanceId();
    QVERIFY(QRegularExpression("^[A-Za-z0-9]{32}$").match(id).hasMatch());
    QCOMPARE(browser.openedUrls().size(), 1);
    const QByteArray expected =
        base().toUtf8() + "Account/Login?InstanceId=" + id.toUtf8() + "&client=0&returnUrl=/account/signedin";
    QCOMPARE(browser.openedUrls().at(0).toEncoded(), expected);
    QCOMPARE(login.loginUrl().toEncoded(), expected);

    // Two sign-in objects invent two different ids.
    InstanceLogin other(nullptr, base());
    QVERIFY(other.loginUrl() != login.loginUrl());
}

void tst_InstanceLogin::successOnThirdPoll()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 600);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.loginUrl();
    const QByteArray token = tokenFor(login.instanceId());
    answerFrom(3, [token](const TestRequest&) { return "\"" + token + "\""; });

    QTest::ignoreMessage(QtDebugMsg, "successToInstanceLogin");
    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(success.count(), 1, 10000);
    QCOMPARE(success.at(0).at(0).toByteArray(), token);

    // No further polls once the token is in. (Polls sent before it may still be on their way and are cancelled.)
    const int polls = login.pollCount();
    QVERIFY2(polls >= 3, qPrintable(QString::number(polls)));
    QTest::qWait(8 * kIntervalMs);
    QCOMPARE(login.pollCount(), polls);
    QVERIFY(m_server.requestCount(kPollPath) <= polls);
    QCOMPARE(success.count(), 1);
    QCOMPARE(failure.count(), 0);
    QVERIFY(!login.isPolling());
}

void tst_InstanceLogin::mismatchThenSameId()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 600);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    answerFrom(2, [](const TestRequest&) { return tokenFor("someone-elses-instance"); });

    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 10000);
    QCOMPARE(failure.at(0).at(0).value<LauncherError>(), SignInFailed);
    const int polls = login.pollCount();
    QTest::qWait(8 * kIntervalMs);
    QCOMPARE(login.pollCount(), polls);

    const QString id = login.instanceId();
    const QUrl page = login.loginUrl();
    answerFrom(2, [id](const TestRequest&) { return tokenFor(id); });
    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(success.count(), 1, 10000);
    QCOMPARE(login.instanceId(), id);
    QCOMPARE(browser.openedUrls(), QList<QUrl>({page, page}));
    QCOMPARE(success.at(0).at(0).toByteArray(), tokenFor(id));
    QCOMPARE(failure.count(), 1);
}

void tst_InstanceLogin::timeoutThenNewId()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 2);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    const QString firstId = login.instanceId();
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 10000);
    QCOMPARE(failure.at(0).at(0).value<LauncherError>(), SignInTimeout);

    // The next attempt invents a new id, and a token for it completes the sign-in.
    // (Late polls of the first attempt, still on their way, keep getting 401.)
    m_server.setHandler(kPollPath, [firstId](const TestRequest& r) {
        const int start = r.body.indexOf("\"instanceId\": \"") + 15;
        const QString id = QString::fromUtf8(r.body.mid(start, 32));
        return id == firstId ? TestReply::text(401, "not yet") : TestReply::json(tokenFor(id));
    });
    login.startLogin();
    QVERIFY(login.instanceId() != firstId);
    QCOMPARE(browser.openedUrls().size(), 2);
    QVERIFY(browser.openedUrls().at(1) != browser.openedUrls().at(0));
    QVERIFY(browser.openedUrls().at(1).toString().contains(login.instanceId()));
    QTRY_COMPARE_WITH_TIMEOUT(success.count(), 1, 10000);
    QCOMPARE(failure.count(), 1);
}

void tst_InstanceLogin::neverAnsweredSendsLimitPlusOnePolls_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("serviceUp");
    QTest::newRow("limit 0, service answers 401") << 0 << true;
    QTest::newRow("limit 5, service answers 401") << 5 << true;
    QTest::newRow("limit 3, service down") << 3 << false;
}

void tst_InstanceLogin::neverAnsweredSendsLimitPlusOnePolls()
{
    QFETCH(int, limit);
    QFETCH(bool, serviceUp);

    TestHttpsServer down;
    QVERIFY(down.start());
    const QString downBase = down.urlText("account/");
    down.stop();

    BrowserStandIn browser;
    InstanceLogin login(nullptr, serviceUp ? base() : downBase, kIntervalMs, limit);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 20000);
    QCOMPARE(failure.at(0).at(0).value<LauncherError>(), SignInTimeout);
    QCOMPARE(login.pollCount(), limit + 1);
    if (serviceUp)
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(kPollPath), limit + 1, 10000);
    QTest::qWait(6 * kIntervalMs);
    QCOMPARE(failure.count(), 1);
    QCOMPARE(login.pollCount(), limit + 1);
    if (!serviceUp)
        return;
    const QList<TestRequest> polls = m_server.requests(kPollPath);
    QCOMPARE(polls.size(), limit + 1);
    const QByteArray body = "{\n    \"client\": 0,\n    \"instanceId\": \"" + login.instanceId().toUtf8() + "\"\n}\n";
    QCOMPARE(login.requestBody(), body);
    for (const TestRequest& poll : polls) {
        QCOMPARE(poll.method + ' ' + poll.target, QByteArray("POST /account/api/Accounts/Login/Instance"));
        QCOMPARE(poll.body, body);
        QCOMPARE(poll.header("api-version"), QByteArray("2.0"));
        QCOMPARE(poll.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!poll.hasHeader("Authorization"));
    }
}

void tst_InstanceLogin::startWhilePollingReopensPageOnly()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 4);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    QTRY_VERIFY_WITH_TIMEOUT(login.pollCount() >= 1, 10000);
    login.startLogin();
    login.startLogin();

    QCOMPARE(browser.openedUrls().size(), 3);
    QCOMPARE(browser.openedUrls().at(1), browser.openedUrls().at(0));
    QCOMPARE(browser.openedUrls().at(2), browser.openedUrls().at(0));
    QCOMPARE(login.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);

    // One attempt, one outcome, limit + 1 polls.
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 10000);
    QTest::qWait(6 * kIntervalMs);
    QCOMPARE(failure.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(kPollPath), 5, 10000);
}

void tst_InstanceLogin::unusableAnswerIsRejected_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not a token") << QByteArray("\"hello\"");
    QTest::newRow("empty body") << QByteArray();
    QTest::newRow("payload not JSON") << makeTestToken("nope");
    QTest::newRow("no instanceId claim") << makeTestToken("{\"userId\":1}");
}

void tst_InstanceLogin::unusableAnswerIsRejected()
{
    QFETCH(QByteArray, body);
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 600);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    answerFrom(1, [body](const TestRequest&) { return body; });
    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 10000);
    QCOMPARE(failure.at(0).at(0).value<LauncherError>(), SignInFailed);
    QCOMPARE(success.count(), 0);
}

QTEST_MAIN(tst_InstanceLogin)
#include "tst_InstanceLogin.moc"
