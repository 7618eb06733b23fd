// The account record's claims and the account service's calls, answered in-process, with a throwaway settings home.
#include <QtTest>

#include "AccountFlows.h"
#include "AccountSession.h"
#include "AppSettings.h"
#include "CryptoUtil.h"
#include "InProcessNetwork.h"
#include "NetworkWorker.h"
#include "SealingKey.h"
#include "TempSettingsHome.h"
#include "TestToken.h"
#include "WorkerOwner.h"

using namespace OrvelTest;
Q_DECLARE_METATYPE(TestReply)

namespace {
const QString kBase = "https://account.test/";
const QByteArray kToken = makeTestToken("{\"userId\":\"42\",\"email\":\"ana@example.org\"}");
} // namespace

class tst_AccountFlows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { NetworkWorker::setManagerFactory({}); }
    void sessionReadsClaims_data();
    void sessionReadsClaims();
    void signInThenVerifyStoredToken_data();
    void signInThenVerifyStoredToken();
    void fetchPicture_data();
    void fetchPicture();

private:
    InProcessNetwork m_network;
    WorkerOwner m_owner;
};

void tst_AccountFlows::init()
{
    AccountSession::release();
    m_network.clearRequests();
    NetworkWorker::setManagerFactory([this](QObject* parent) { return m_network.createManager(parent); });
    // The service accepts exactly kToken.
    m_network.setHandler("/api/accounts/Users/Info", [](const TestRequest& r) {
        return TestReply::text(r.header("Authorization") == "Bearer " + kToken ? 200 : 401, "{}");
    });
}

void tst_AccountFlows::sessionReadsClaims_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("userId");
    QTest::addColumn<QString>("email");

    // The first payload needs two padding characters, which tokens leave out; "~~~" and "???" encode to characters
    // that differ between the two Base64 alphabets.
    const QByteArray urlSafe = makeTestToken("{\"userId\":7,\"email\":\"~~~\?\?\?>>>\"}");
    QTest::newRow("unpadded Base64url, userId as text")
        << makeTestToken("{\"userId\":\"42\",\"email\":\"ana.b@example.org\"}") << 42 << "ana.b@example.org";
    QTest::newRow("url-safe alphabet") << urlSafe << 7 << "~~~\?\?\?>>>";
    QTest::newRow("two segments") << urlSafe.left(urlSafe.lastIndexOf('.')) << -1 << QString();
    QTest::newRow("missing claims") << makeTestToken("{}") << -1 << QString();
}

void tst_AccountFlows::sessionReadsClaims()
{
    QFETCH(QByteArray, token);
    QFETCH(int, userId);
    QFETCH(QString, email);

    // A new token replaces every claim of the previous one.
    AccountSession* session = AccountSession::instance();
    session->setToken(makeTestToken("{\"userId\":99,\"email\":\"old@b.c\"}"));
    session->setToken(token);
    QCOMPARE(session->userId(), userId);
    QCOMPARE(session->userIdText(), QString::number(userId));
    QCOMPARE(session->email(), email);
}

void tst_AccountFlows::signInThenVerifyStoredToken_data()
{
    QTest::addColumn<QByteArray>("token"); // taken over from a browser sign-in; empty: nothing stored
    QTest::addColumn<QString>("detail");   // empty: accepted at the next start
    QTest::newRow("token of a sign-in accepted") << kToken << QString();
    QTest::newRow("nothing stored: Bearer and no token") << QByteArray() << "HTTP 401";
}

void tst_AccountFlows::signInThenVerifyStoredToken()
{
    QFETCH(QByteArray, token);
    QFETCH(QString, detail);

    TempSettingsHome home;
    QVERIFY(home.isValid());
    if (!token.isEmpty()) {
        AppSettings::setStoredToken(Verdant::CryptoUtil().encrypt(QByteArray("older"), SealingKey));
        bool refreshed = false;
        Account::onSuccessToInstanceLogin(token, [&refreshed, token] {
            // The avatar refresh sees the new record, before the token is stored.
            QCOMPARE(AccountSession::instance()->token(), token);
            QCOMPARE(Verdant::CryptoUtil().decrypt(AppSettings::storedToken(), SealingKey), QByteArray("older"));
            refreshed = true;
        });
        QVERIFY(refreshed);
        // Sealed with the key text the design application opens it with.
        QCOMPARE(Verdant::CryptoUtil().decrypt(AppSettings::storedToken(), "Qz7#Lp2!Vw9$Rk4&"), token);
        // Readable by this user only, folder included: the key that opens the blob is in every copy of the program.
        const QFileInfo file(QSettings("Orvel", "App").fileName());
        QCOMPARE(file.permissions() & 0x0fff, QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QFileInfo(file.absolutePath()).permissions() & 0x0fff,
                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        AccountSession::release();
    }

    const Failure outcome = Account::verifyStoredToken(&m_owner, kBase);
    QCOMPARE(outcome.code, detail.isEmpty() ? NoError : SignInFailed);
    QCOMPARE(outcome.detail, detail.isEmpty() ? QString() : kBase + "api/accounts/Users/Info: " + detail);
    QCOMPARE(AccountSession::instance()->token(), token);
    const QList<TestRequest> sent = m_network.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].method + ' ' + sent[0].target, QByteArray("GET /api/accounts/Users/Info"));
    QCOMPARE(sent[0].header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(sent[0].header("Authorization"), "Bearer " + token);
    QCOMPARE(sent[0].header("api-version"), QByteArray("2.0"));
}

void tst_AccountFlows::fetchPicture_data()
{
    QTest::addColumn<bool>("artwork"); // the launcher artwork, else the user's photo
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<TestReply>("address"); // the user record, or the artwork address
    QTest::addColumn<TestReply>("picture");
    QTest::addColumn<int>("requests");   // 1: the picture is not asked for
    QTest::addColumn<QString>("detail"); // empty: the picture's bytes are fetched

    const TestReply picture = TestReply::text(200, "picture bytes");
    const TestReply record = TestReply::json("{\"photo\":\"https://photos.test/p/42.png\"}");
    const TestReply address = TestReply::json("\"https://cdn.test/a\"rt.png\""); // quotes are removed anywhere
    TestReply closed;
    closed.dropAfterBytes = 0;
    const QString user = kBase + "api/PCS/Users/42: ";

    QTest::newRow("photo") << false << kToken << record << picture << 2 << QString();
    QTest::newRow("photo, token without userId") << false << makeTestToken("{}") << record << picture << 2 << QString();
    QTest::newRow("record without photo") << false << kToken << TestReply::json("{\"name\":\"Ana\"}") << picture << 1
                                          << user + "no \"photo\" in the user record";
    QTest::newRow("record refused") << false << kToken << TestReply::json(record.body, 404) << picture << 1
                                    << user + "HTTP 404";
    QTest::newRow("artwork") << true << kToken << address << picture << 2 << QString();
    QTest::newRow("artwork service unreachable")
        << true << kToken << closed << picture << 1 << kBase + "api/Orvel/LauncherArtwork: Connection closed";
    // An empty picture would blank the background: the built-in one stays.
    QTest::newRow("artwork picture empty")
        << true << kToken << address << TestReply() << 2 << "https://cdn.test/art.png: empty picture";
    QTest::newRow("artwork picture refused")
        << true << kToken << address << TestReply::text(500, "down") << 2 << "https://cdn.test/art.png: HTTP 500";
}

void tst_AccountFlows::fetchPicture()
{
    QFETCH(bool, artwork);
    QFETCH(QByteArray, token);
    QFETCH(TestReply, address);
    QFETCH(TestReply, picture);
    QFETCH(int, requests);
    QFETCH(QString, detail);

    AccountSession::instance()->setToken(token);
    const QString record = QString("/api/PCS/Users/") + (token == kToken ? "42" : "-1");
    const QString second = artwork ? "/art.png" : "/p/42.png";
    m_network.setRoute(artwork ? "/api/Orvel/LauncherArtwork" : record, address);
    m_network.setRoute(second, picture);
    const Fetched<QByteArray> fetched =
        artwork ? Account::fetchArtwork(&m_owner, kBase) : Account::fetchUserPhoto(&m_owner, kBase);
    QCOMPARE(fetched.failure.detail, detail);
    QCOMPARE(fetched.value, detail.isEmpty() ? QByteArray("picture bytes") : QByteArray());

    // The record carries the common header set, the artwork address request and the picture none.
    const QList<TestRequest> sent = m_network.requests();
    QCOMPARE(sent.size(), requests);
    QCOMPARE(sent[0].method + ' ' + sent[0].target,
             "GET " + (artwork ? "/api/Orvel/LauncherArtwork?api-version=2" : record).toUtf8());
    QCOMPARE(sent[0].header("Authorization"), artwork ? QByteArray() : "Bearer " + token);
    if (requests == 2) {
        QCOMPARE(sent[1].method + ' ' + sent[1].path, "GET " + second.toUtf8());
        QVERIFY(sent[1].headers.isEmpty());
    }
}

QTEST_MAIN(tst_AccountFlows)
#include "tst_AccountFlows.moc"
