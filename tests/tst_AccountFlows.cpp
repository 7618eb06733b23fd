// The account operations against a real HTTPS account service on loopback, with a throwaway settings home.
#include <memory>

#include <QSettings>
#include <QtTest>

#include "AccountFlows.h"
#include "AccountSession.h"
#include "AppSettings.h"
#include "CryptoUtil.h"
#include "TempSettingsHome.h"
#include "TestHttpsServer.h"
#include "TestToken.h"

using namespace OrvelTest;

namespace {

const QByteArray kToken = makeTestToken("{\"instanceId\":\"i\",\"userId\":\"42\",\"email\":\"ana@example.org\"}");

QByteArray sealed(const QByteArray& token)
{
    return Verdant::CryptoUtil().encrypt(token, Account::SealingKey);
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
    void cleanup();

    void appSettingsRoundTrip();
    void verifyStoredToken_data();
    void verifyStoredToken();
    void verifyStoredTokenWithServiceDown();
    void signInStoresSealedToken_data();
    void signInStoresSealedToken();
    void photoUrl_data();
    void photoUrl();

private:
    QString base() const { return m_server.urlText("account/"); }
    void checkCommonHeaders(const TestRequest& request, const QByteArray& token);

    TestHttpsServer m_server;
    std::unique_ptr<TempSettingsHome> m_home;
    QByteArray m_userRecord;
};

void tst_AccountFlows::initTestCase()
{
    // The service accepts exactly kToken.
    m_server.setHandler("/account/api/accounts/Users/Info", [](const TestRequest& r) {
        return r.header("Authorization") == "Bearer " + kToken ? TestReply::json("{\"name\":\"Ana\"}")
                                                               : TestReply::text(401, "invalid token");
    });
    m_server.setHandler("/account/api/PCS/Users/*",
                        [this](const TestRequest&) { return TestReply::json(m_userRecord); });
    QVERIFY(m_server.start());
}

void tst_AccountFlows::init()
{
    m_home.reset(new TempSettingsHome);
    QVERIFY(m_home->isValid());
    AccountSession::release();
    m_server.clearRequests();
}

void tst_AccountFlows::cleanup()
{
    m_home.reset();
}

void tst_AccountFlows::checkCommonHeaders(const TestRequest& request, const QByteArray& token)
{
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    // Servers drop whitespace at the end of a header value, so "Bearer " with no token arrives as "Bearer"
    // (tst_TokenClaims checks the exact value on the request).
    QVERIFY(request.hasHeader("Authorization"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer " + token).trimmed());
    QCOMPARE(request.header("api-version"), QByteArray("2.0"));
}

void tst_AccountFlows::appSettingsRoundTrip()
{
    QCOMPARE(readAppSetting("StaySignedIn", false).toBool(), false);
    writeAppSetting("StaySignedIn", true);
    QCOMPARE(readAppSetting("StaySignedIn", false).toBool(), true);
    // The store is ("Orvel", "App"), in the per-user folder.
    QCOMPARE(QSettings("Orvel", "App").value("StaySignedIn").toBool(), true);
    QVERIFY(QFile::exists(m_home->configPath() + "/Orvel/App.conf"));
    QCOMPARE(readAppSetting("OrvelPath", "/fallback").toString(), QString("/fallback"));
}

void tst_AccountFlows::verifyStoredToken_data()
{
    QTest::addColumn<bool>("store");
    QTest::addColumn<QByteArray>("storedBlob");
    QTest::addColumn<QByteArray>("expectedToken");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("valid token accepted") << true << sealed(kToken) << kToken << true;
    QTest::newRow("nothing stored: Bearer and no token") << false << QByteArray() << QByteArray() << false;
    QTest::newRow("token the service rejects")
        << true << sealed(makeTestToken("{\"userId\":7}")) << makeTestToken("{\"userId\":7}") << false;
    QByteArray corrupted = sealed(kToken);
    corrupted[40] = static_cast<char>(corrupted[40] ^ 0x01);
    QTest::newRow("corrupted blob opens to nothing") << true << corrupted << QByteArray() << false;
    QTest::newRow("blob sealed with another key")
        << true << Verdant::CryptoUtil().encrypt(kToken, "another key text") << QByteArray() << false;
}

void tst_AccountFlows::verifyStoredToken()
{
    QFETCH(bool, store);
    QFETCH(QByteArray, storedBlob);
    QFETCH(QByteArray, expectedToken);
    QFETCH(bool, accepted);

    if (store)
        writeAppSetting("JWT", storedBlob);
    Owner owner;
    QCOMPARE(Account::verifyStoredToken(&owner, base()), accepted);
    QCOMPARE(AccountSession::instance()->token(), expectedToken);

    const QList<TestRequest> sent = m_server.requests("/account/api/accounts/Users/Info");
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].target, QByteArray("/account/api/accounts/Users/Info"));
    checkCommonHeaders(sent[0], expectedToken);
}

void tst_AccountFlows::verifyStoredTokenWithServiceDown()
{
    writeAppSetting("JWT", sealed(kToken));
    TestHttpsServer gone;
    QVERIFY(gone.start());
    const QString goneBase = gone.urlText("account/");
    gone.stop();
    Owner owner;
    QVERIFY(!Account::verifyStoredToken(&owner, goneBase));
    QCOMPARE(AccountSession::instance()->token(), kToken);
}

void tst_AccountFlows::signInStoresSealedToken_data()
{
    QTest::addColumn<bool>("staySignedIn");
    QTest::newRow("stay signed in") << true;
    QTest::newRow("not staying signed in: stored all the same") << false;
}

void tst_AccountFlows::signInStoresSealedToken()
{
    QFETCH(bool, staySignedIn);
    writeAppSetting("StaySignedIn", staySignedIn);
    writeAppSetting("JWT", sealed(makeTestToken("{\"userId\":1}")));

    bool refreshed = false;
    Account::onSuccessToInstanceLogin(kToken, [&refreshed] {
        // The avatar refresh sees the new record, before the token is stored.
        QCOMPARE(AccountSession::instance()->userId(), 42);
        QCOMPARE(Verdant::CryptoUtil().decrypt(readAppSetting("JWT", QByteArray()).toByteArray(), Account::SealingKey),
                 makeTestToken("{\"userId\":1}"));
        refreshed = true;
    });
    QVERIFY(refreshed);
    QCOMPARE(AccountSession::instance()->token(), kToken);
    QCOMPARE(AccountSession::instance()->email(), QString("ana@example.org"));

    const QByteArray blob = readAppSetting("JWT", QByteArray()).toByteArray();
    QVERIFY(blob.size() >= 80);
    QVERIFY(!blob.contains(kToken));
    QCOMPARE(Verdant::CryptoUtil().decrypt(blob, "Qz7#Lp2!Vw9$Rk4&"), kToken);
    QCOMPARE(readAppSetting("StaySignedIn", !staySignedIn).toBool(), staySignedIn);

    // The next start opens it and the service accepts it.
    AccountSession::release();
    Owner owner;
    QVERIFY(Account::verifyStoredToken(&owner, base()));
}

void tst_AccountFlows::photoUrl_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("expectedTarget");
    QTest::addColumn<QUrl>("photo");

    const QByteArray noUser = makeTestToken("{\"email\":\"x@y.z\"}");
    QTest::newRow("photo of user 42") << kToken << QByteArray("{\"photo\":\"https://127.0.0.1:1/p.png\"}")
                                      << QByteArray("/account/api/PCS/Users/42") << QUrl("https://127.0.0.1:1/p.png");
    QTest::newRow("no userId claim asks for -1")
        << noUser << QByteArray("{\"photo\":\"https://127.0.0.1:1/q.png\"}") << QByteArray("/account/api/PCS/Users/-1")
        << QUrl("https://127.0.0.1:1/q.png");
    QTest::newRow("record without photo")
        << kToken << QByteArray("{\"name\":\"Ana\"}") << QByteArray("/account/api/PCS/Users/42") << QUrl();
    // Refused and unreadable records: tst_Profile::refreshAvatar.
}

void tst_AccountFlows::photoUrl()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, expectedTarget);
    QFETCH(QUrl, photo);

    AccountSession::instance()->setToken(token);
    m_userRecord = record;
    Owner owner;
    QCOMPARE(Account::fetchUserPhotoUrl(&owner, base()), photo);

    const QList<TestRequest> sent = m_server.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].target, expectedTarget);
    checkCommonHeaders(sent[0], token);
}

QTEST_MAIN(tst_AccountFlows)
#include "tst_AccountFlows.moc"
