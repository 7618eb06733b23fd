// Browser sign-in against an in-process account service, with short poll intervals and limits.
#include <QRegularExpression>
#include <QtTest>

#include "BrowserStandIn.h"
#include "InProcessNetwork.h"
#include "InstanceLogin.h"
#include "NetworkWorker.h"
#include "TestToken.h"

using namespace OrvelTest;
using Answer = InProcessNetwork::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {

constexpr int kIntervalMs = 20;
const QString kBase = "https://account.test/";
const QString kPollPath = "/api/Accounts/Login/Instance";

QByteArray tokenFor(const QString& instanceId)
{
    return makeTestToken("{\"instanceId\":\"" + instanceId.toUtf8() + "\",\"userId\":42}");
}

Failure failureOf(const QSignalSpy& spy, int index)
{
    return spy.at(index).at(0).value<Failure>();
}

} // namespace

class tst_InstanceLogin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { NetworkWorker::setManagerFactory({}); }
    void mismatchThenSameIdSucceedsOnThirdPoll();
    void timeoutThenNewId();
    void neverAnsweredSendsLimitPlusOnePolls_data();
    void neverAnsweredSendsLimitPlusOnePolls();

private:
    InProcessNetwork m_network;
};

void tst_InstanceLogin::init()
{
    m_network.clearRequests();
    m_network.setRoute(kPollPath, {401, "not yet"});
    NetworkWorker::setManagerFactory([this](QObject* parent) { return m_network.createManager(parent); });
}

void tst_InstanceLogin::mismatchThenSameIdSucceedsOnThirdPoll()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, kBase, kIntervalMs, 600);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    m_network.setRoute(kPollPath, {200, tokenFor("someone-elses-instance")});
    login.startLogin();
    QTRY_COMPARE(failure.count(), 1);
    QCOMPARE(failureOf(failure, 0).code, SignInFailed);
    QCOMPARE(failureOf(failure, 0).detail, QString("instanceId in the token: \"someone-elses-instance\""));
    int polls = login.pollCount();
    QTest::qWait(8 * kIntervalMs);
    QCOMPARE(login.pollCount(), polls);

    // The next attempt keeps the id and the page. Its third poll answers at once with a quoted token; the two
    // before it would answer the same later on, but are cancelled: one attempt, one outcome.
    const QString id = login.instanceId();
    const QUrl page = login.loginUrl();
    int sent = 0;
    m_network.setHandler(kPollPath, [&sent, id](const TestRequest&) {
        return Answer{200, "\"" + tokenFor(id) + "\"", QNetworkReply::NoError, ++sent < 3 ? 10 * kIntervalMs : 0};
    });
    QTest::ignoreMessage(QtDebugMsg, "successToInstanceLogin");
    login.startLogin();
    QTRY_COMPARE(success.count(), 1);
    QCOMPARE(success.at(0).at(0).toByteArray(), tokenFor(id));
    QCOMPARE(browser.openedUrls(), QList<QUrl>({page, page}));
    polls = login.pollCount();
    QCOMPARE(polls, 3);
    QTest::qWait(15 * kIntervalMs);
    QCOMPARE(login.pollCount(), polls);
    QCOMPARE(success.count(), 1);
    QCOMPARE(failure.count(), 1);
}

void tst_InstanceLogin::timeoutThenNewId()
{
    BrowserStandIn browser;
    InstanceLogin login(nullptr, kBase, kIntervalMs, 2);
    QSignalSpy success(&login, &InstanceLogin::success);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    const QString firstId = login.instanceId();
    QTRY_COMPARE(failure.count(), 1);
    QCOMPARE(failureOf(failure, 0).code, SignInTimeout);

    // The next attempt invents a new id, and a token for it completes the sign-in.
    m_network.setHandler(kPollPath, [](const TestRequest& r) {
        const int start = r.body.indexOf("\"instanceId\": \"") + 15;
        return Answer{200, tokenFor(QString::fromUtf8(r.body.mid(start, 32)))};
    });
    login.startLogin();
    QVERIFY(login.instanceId() != firstId);
    QCOMPARE(browser.openedUrls().size(), 2);
    QVERIFY(browser.openedUrls().at(1).toString().contains(login.instanceId()));
    QTRY_COMPARE(success.count(), 1);
    QCOMPARE(failure.count(), 1);
}

void tst_InstanceLogin::neverAnsweredSendsLimitPlusOnePolls_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("startAgain");
    QTest::addColumn<Answer>("poll");
    QTest::addColumn<QString>("detail"); // what the last poll met, after the address

    QTest::newRow("limit 0, refused") << 0 << false << Answer{401, "not yet"} << "HTTP 401";
    // A second start while polling opens the same page again and starts no second timer.
    QTest::newRow("limit 4, started again while polling, certificate refused")
        << 4 << true << Answer{0, {}, QNetworkReply::SslHandshakeFailedError}
        << "The root CA certificate is not trusted for this purpose";
}

void tst_InstanceLogin::neverAnsweredSendsLimitPlusOnePolls()
{
    QFETCH(int, limit);
    QFETCH(bool, startAgain);
    QFETCH(Answer, poll);
    QFETCH(QString, detail);

    m_network.setRoute(kPollPath, poll);
    BrowserStandIn browser;
    InstanceLogin login(nullptr, kBase, kIntervalMs, limit);
    QSignalSpy failure(&login, &InstanceLogin::failure);
    login.startLogin();
    if (startAgain) {
        QTRY_VERIFY(login.pollCount() >= 1);
        login.startLogin();
        QCOMPARE(browser.openedUrls().size(), 2);
        QCOMPARE(browser.openedUrls().at(1), browser.openedUrls().at(0));
    }
    const QString id = login.instanceId();
    QVERIFY(QRegularExpression("^[A-Za-z0-9]{32}$").match(id).hasMatch());
    QCOMPARE(browser.openedUrls().at(0).toEncoded(),
             kBase.toUtf8() + "Account/Login?InstanceId=" + id.toUtf8() + "&client=0&returnUrl=/account/signedin");

    // One attempt, one outcome, limit + 1 polls; the time-out names what the polls met.
    QTRY_COMPARE(failure.count(), 1);
    QCOMPARE(failureOf(failure, 0).code, SignInTimeout);
    QCOMPARE(failureOf(failure, 0).detail, kBase + "api/Accounts/Login/Instance: " + detail);
    QTest::qWait(6 * kIntervalMs);
    QCOMPARE(failure.count(), 1);
    QCOMPARE(login.pollCount(), limit + 1);

    const QList<TestRequest> polls = m_network.requests(kPollPath);
    QCOMPARE(polls.size(), limit + 1);
    const QByteArray body = "{\n    \"client\": 0,\n    \"instanceId\": \"" + id.toUtf8() + "\"\n}\n";
    for (const TestRequest& sent : polls) {
        QCOMPARE(sent.method + ' ' + sent.target, QByteArray("POST /api/Accounts/Login/Instance"));
        QCOMPARE(sent.body, body);
        QCOMPARE(sent.header("api-version"), QByteArray("2.0"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!sent.hasHeader("Authorization"));
    }
}

QTEST_MAIN(tst_InstanceLogin)
#include "tst_InstanceLogin.moc"
