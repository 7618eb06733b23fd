// Browser sign-in against a real HTTPS account service on loopback, with short poll intervals and limits.
#include <atomic>

#include <QRegularExpression>
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
    return makeTestToken("{\"instanceId\":\"" + instanceId.toUtf8() + "\",\"userId\":42}");
}

} // namespace

class tst_InstanceLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void mismatchThenSameIdSucceedsOnThirdPoll();
    void timeoutThenNewId();
    void neverAnsweredSendsLimitPlusOnePolls_data();
    void neverAnsweredSendsLimitPlusOnePolls();

private:
    QString base() const { return m_server.urlText("account/"); }
    // From the poll with this number on (1-based), answer "200" with this body.
    void answerFrom(int pollNumber, const QByteArray& body);

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
    m_server.setRoute(kPollPath, TestReply::text(401, "not yet"));
}

void tst_InstanceLogin::answerFrom(int pollNumber, const QByteArray& body)
{
    m_polls = 0;
    m_server.setHandler(kPollPath, [this, pollNumber, body](const TestRequest&) {
        return ++m_polls < pollNumber ? TestReply::text(401, "not yet") : TestReply::json(body);
    });
}

void tst_InstanceLogin::mismatchThenSameIdSucceedsOnThirdPoll()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, 600);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    answerFrom(2, tokenFor("someone-elses-instance"));
    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 10000);
    QCOMPARE(failure.at(0).at(0).value<LauncherError>(), SignInFailed);
    int polls = login.pollCount();
    QTest::qWait(8 * kIntervalMs);
    QCOMPARE(login.pollCount(), polls);

    // The next attempt keeps the id and the page; a quoted token on its third poll completes it.
    const QString id = login.instanceId();
    const QUrl page = login.loginUrl();
    answerFrom(3, "\"" + tokenFor(id) + "\"");
    QTest::ignoreMessage(QtDebugMsg, "successToInstanceLogin");
    login.startLogin();
    QTRY_COMPARE_WITH_TIMEOUT(success.count(), 1, 10000);
    QCOMPARE(success.at(0).at(0).toByteArray(), tokenFor(id));
    QCOMPARE(browser.openedUrls(), QList<QUrl>({page, page}));

    // No further polls once the token is in. (Polls sent before it may still be on their way and are cancelled.)
    polls = login.pollCount();
    QVERIFY2(polls >= 3, qPrintable(QString::number(polls)));
    QTest::qWait(8 * kIntervalMs);
    QCOMPARE(login.pollCount(), polls);
    QCOMPARE(success.count(), 1);
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
    QVERIFY(browser.openedUrls().at(1).toString().contains(login.instanceId()));
    QTRY_COMPARE_WITH_TIMEOUT(success.count(), 1, 10000);
    QCOMPARE(failure.count(), 1);
}

void tst_InstanceLogin::neverAnsweredSendsLimitPlusOnePolls_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("startAgain");
    QTest::newRow("limit 0") << 0 << false;
    // A second start while polling opens the same page again and starts no second timer.
    QTest::newRow("limit 4, started again while polling") << 4 << true;
}

void tst_InstanceLogin::neverAnsweredSendsLimitPlusOnePolls()
{
    QFETCH(int, limit);
    QFETCH(bool, startAgain);
    BrowserStandIn browser;
    InstanceLogin login(nullptr, base(), kIntervalMs, limit);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    if (startAgain) {
        QTRY_VERIFY_WITH_TIMEOUT(login.pollCount() >= 1, 10000);
        login.startLogin();
        QCOMPARE(browser.openedUrls().size(), 2);
        QCOMPARE(browser.openedUrls().at(1), browser.openedUrls().at(0));
    }
    const QString id = login.instanceId();
    QVERIFY(QRegularExpression("^[A-Za-z0-9]{32}$").match(id).hasMatch());
    QCOMPARE(browser.openedUrls().at(0).toEncoded(),
             base().toUtf8() + "Account/Login?InstanceId=" + id.toUtf8() + "&client=0&returnUrl=/account/signedin");

    // One attempt, one outcome, limit + 1 polls.
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 1, 20000);
    QCOMPARE(failure.at(0).at(0).value<LauncherError>(), SignInTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(kPollPath), limit + 1, 10000);
    QTest::qWait(6 * kIntervalMs);
    QCOMPARE(failure.count(), 1);
    QCOMPARE(login.pollCount(), limit + 1);

    const QByteArray body = "{\n    \"client\": 0,\n    \"instanceId\": \"" + id.toUtf8() + "\"\n}\n";
    for (const TestRequest& poll : m_server.requests(kPollPath)) {
        QCOMPARE(poll.method + ' ' + poll.target, QByteArray("POST /account/api/Accounts/Login/Instance"));
        QCOMPARE(poll.body, body);
        QCOMPARE(poll.header("api-version"), QByteArray("2.0"));
        QCOMPARE(poll.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!poll.hasHeader("Authorization"));
    }
}

QTEST_MAIN(tst_InstanceLogin)
#include "tst_InstanceLogin.moc"
