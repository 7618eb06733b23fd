// The account operations against a real HTTPS account service on loopback, with a throwaway settings home.
#include <memory>

#include <QtTest>

#include "AccountFlows.h"
#include "AccountSession.h"
#include "AppSettings.h"
#include "CryptoUtil.h"
#include "SealingKey.h"
#include "TempSettingsHome.h"
#include "TestHttpsServer.h"
#include "TestToken.h"

using namespace OrvelTest;

namespace {

const QByteArray kToken = makeTestToken("{\"instanceId\":\"i\",\"userId\":\"42\",\"email\":\"ana@example.org\"}");

QByteArray sealed(const QByteArray& token)
{
    return Verdant::CryptoUtil().encrypt(token, SealingKey);
}

// The owner of the workers, as the launcher window and the avatar widget are.
class Owner : public QObject
{
    Q_OBJECT
signals:
    void abortReply();
};

} // namespace

class tst_AccountFlows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void verifyStoredToken_data();
    void verifyStoredToken();
    void signInStoresSealedToken();

private:
    QString base() const { return m_server.urlText("account/"); }

    TestHttpsServer m_server;
    std::unique_ptr<TempSettingsHome> m_home;
};

void tst_AccountFlows::initTestCase()
{
    // The service accepts exactly kToken.
    m_server.setHandler("/account/api/accounts/Users/Info", [](const TestRequest& r) {
        return r.header("Authorization") == "Bearer " + kToken ? TestReply::json("{\"name\":\"Ana\"}")
                                                               : TestReply::text(401, "invalid token");
    });
    QVERIFY(m_server.start());
}

void tst_AccountFlows::init()
{
    m_home.reset(); // restore the previous home before the next one takes over
    m_home.reset(new TempSettingsHome);
    QVERIFY(m_home->isValid());
    AccountSession::release();
    m_server.clearRequests();
}

void tst_AccountFlows::verifyStoredToken_data()
{
    QTest::addColumn<QByteArray>("storedToken"); // empty: nothing stored, and the service refuses "Bearer"
    QTest::newRow("valid token accepted") << kToken;
    QTest::newRow("nothing stored: Bearer and no token") << QByteArray();
}

void tst_AccountFlows::verifyStoredToken()
{
    QFETCH(QByteArray, storedToken);

    if (!storedToken.isEmpty())
        writeAppSetting("JWT", sealed(storedToken));
    Owner owner;
    QCOMPARE(Account::verifyStoredToken(&owner, base()), !storedToken.isEmpty());
    QCOMPARE(AccountSession::instance()->token(), storedToken);

    const QList<TestRequest> sent = m_server.requests("/account/api/accounts/Users/Info");
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].method, QByteArray("GET"));
    QCOMPARE(sent[0].header("Content-Type"), QByteArray("application/json"));
    // Servers drop whitespace at the end of a header value, so "Bearer " with no token arrives as "Bearer"
    // (tst_TokenClaims checks the exact value on the request).
    QCOMPARE(sent[0].header("Authorization"), QByteArray("Bearer " + storedToken).trimmed());
    QCOMPARE(sent[0].header("api-version"), QByteArray("2.0"));
}

void tst_AccountFlows::signInStoresSealedToken()
{
    writeAppSetting("JWT", sealed(makeTestToken("{\"userId\":1}")));
    bool refreshed = false;
    Account::onSuccessToInstanceLogin(kToken, [&refreshed] {
        // The avatar refresh sees the new record, before the token is stored.
        QCOMPARE(AccountSession::instance()->userId(), 42);
        QCOMPARE(Verdant::CryptoUtil().decrypt(readAppSetting("JWT", QByteArray()).toByteArray(), SealingKey),
                 makeTestToken("{\"userId\":1}"));
        refreshed = true;
    });
    QVERIFY(refreshed);
    QCOMPARE(AccountSession::instance()->token(), kToken);

    const QByteArray blob = readAppSetting("JWT", QByteArray()).toByteArray();
    QVERIFY(!blob.contains(kToken));
    QCOMPARE(Verdant::CryptoUtil().decrypt(blob, "Qz7#Lp2!Vw9$Rk4&"), kToken);

    // The next start opens it and the service accepts it.
    AccountSession::release();
    Owner owner;
    QVERIFY(Account::verifyStoredToken(&owner, base()));
}

QTEST_MAIN(tst_AccountFlows)
#include "tst_AccountFlows.moc"
