// The account service's calls, answered in-process, with a throwaway settings home.
#include <memory>

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
using Answer = InProcessNetwork::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {
const QString kBase = "https://account.test/";
const QByteArray kToken = makeTestToken("{\"instanceId\":\"i\",\"userId\":\"42\",\"email\":\"ana@example.org\"}");
} // namespace

class tst_AccountFlows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { NetworkWorker::setManagerFactory({}); }
    void verifyStoredToken_data();
    void verifyStoredToken();
    void signInStoresSealedToken();
    void fetchPicture_data();
    void fetchPicture();

private:
    InProcessNetwork m_network;
    std::unique_ptr<TempSettingsHome> m_home;
    WorkerOwner m_owner;
};

void tst_AccountFlows::init()
{
    m_home.reset(); // restore the previous home before the next one takes over
    m_home.reset(new TempSettingsHome);
    QVERIFY(m_home->isValid());
    AccountSession::release();
    m_network.clearRequests();
    NetworkWorker::setManagerFactory([this](QObject* parent) { return m_network.createManager(parent); });
    // The service accepts exactly kToken.
    m_network.setHandler("/api/accounts/Users/Info", [](const TestRequest& r) {
        return r.header("Authorization") == "Bearer " + kToken ? Answer{200, "{}"} : Answer{401, "invalid token"};
    });
}

void tst_AccountFlows::verifyStoredToken_data()
{
    QTest::addColumn<QByteArray>("storedToken"); // empty: nothing stored
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<Failure>("failure");

    const QString info = kBase + "api/accounts/Users/Info: ";
    QTest::newRow("valid token accepted") << kToken << QNetworkReply::NoError << Failure();
    QTest::newRow("nothing stored: Bearer and no token, refused")
        << QByteArray() << QNetworkReply::NoError << Failure{SignInFailed, info + "HTTP 401"};
    QTest::newRow("certificate refused") << kToken << QNetworkReply::SslHandshakeFailedError
                                         << Failure{SslError,
                                                    info + "The root CA certificate is not trusted for this purpose"};
}

void tst_AccountFlows::verifyStoredToken()
{
    QFETCH(QByteArray, storedToken);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(Failure, failure);

    if (!storedToken.isEmpty())
        AppSettings::setStoredToken(Verdant::CryptoUtil().encrypt(storedToken, SealingKey));
    if (error != QNetworkReply::NoError)
        m_network.setRoute("/api/accounts/Users/Info", {0, {}, error});
    const Failure outcome = Account::verifyStoredToken(&m_owner, kBase);
    QCOMPARE(outcome.code, failure.code);
    QCOMPARE(outcome.detail, failure.detail);
    QCOMPARE(AccountSession::instance()->token(), storedToken);

    const QList<TestRequest> sent = m_network.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].method + ' ' + sent[0].target, QByteArray("GET /api/accounts/Users/Info"));
    QCOMPARE(sent[0].header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(sent[0].header("Authorization"), "Bearer " + storedToken);
    QCOMPARE(sent[0].header("api-version"), QByteArray("2.0"));
}

void tst_AccountFlows::signInStoresSealedToken()
{
    AppSettings::setStoredToken(Verdant::CryptoUtil().encrypt(makeTestToken("{\"userId\":1}"), SealingKey));
    bool refreshed = false;
    Account::onSuccessToInstanceLogin(kToken, [&refreshed] {
        // The avatar refresh sees the new record, before the token is stored.
        QCOMPARE(AccountSession::instance()->userId(), 42);
        QCOMPARE(Verdant::CryptoUtil().decrypt(AppSettings::storedToken(), SealingKey),
                 makeTestToken("{\"userId\":1}"));
        refreshed = true;
    });
    QVERIFY(refreshed);
    QCOMPARE(AccountSession::instance()->token(), kToken);

    // Sealed with the key text the design application opens it with.
    const QByteArray blob = AppSettings::storedToken();
    QVERIFY(!blob.contains(kToken));
    QCOMPARE(Verdant::CryptoUtil().decrypt(blob, "Qz7#Lp2!Vw9$Rk4&"), kToken);

    // The next start opens it and the service accepts it.
    AccountSession::release();
    QVERIFY(!Account::verifyStoredToken(&m_owner, kBase).failed());
}

void tst_AccountFlows::fetchPicture_data()
{
    QTest::addColumn<bool>("artwork"); // the launcher artwork, else the user's photo
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<Answer>("address"); // the user record, or the artwork address
    QTest::addColumn<Answer>("picture");
    QTest::addColumn<int>("requests");   // 1: the picture is not asked for
    QTest::addColumn<QString>("detail"); // empty: the picture's bytes are fetched

    const Answer picture{200, "picture bytes"};
    const Answer record{200, "{\"photo\":\"https://photos.test/p/42.png\"}"};
    const Answer address{200, "\"https://cdn.test/a\"rt.png\""}; // quotes are removed anywhere
    const QString user = kBase + "api/PCS/Users/42: ";
    const QString art = kBase + "api/Orvel/LauncherArtwork: ";
    const QString noPhoto = user + "no \"photo\" in the user record";

    QTest::newRow("photo") << false << kToken << record << picture << 2 << QString();
    QTest::newRow("photo, token without userId") << false << makeTestToken("{}") << record << picture << 2 << QString();
    QTest::newRow("record without photo")
        << false << kToken << Answer{200, "{\"name\":\"Ana\"}"} << picture << 1 << noPhoto;
    QTest::newRow("record not JSON") << false << kToken << Answer{200, "<html>"} << picture << 1 << noPhoto;
    QTest::newRow("record refused") << false << kToken << Answer{404, "no such user"} << picture << 1
                                    << user + "HTTP 404";
    QTest::newRow("photo empty") << false << kToken << record << Answer{200, ""} << 2
                                 << "https://photos.test/p/42.png: empty picture";
    QTest::newRow("artwork") << true << kToken << address << picture << 2 << QString();
    QTest::newRow("artwork service unreachable")
        << true << kToken << Answer{0, {}, QNetworkReply::ConnectionRefusedError} << picture << 1
        << art + "ConnectionRefusedError";
    QTest::newRow("artwork address empty")
        << true << kToken << Answer{200, "\"\""} << picture << 1 << art + "no artwork address";
    QTest::newRow("artwork picture refused")
        << true << kToken << address << Answer{500, "down"} << 2 << "https://cdn.test/art.png: HTTP 500";
}

void tst_AccountFlows::fetchPicture()
{
    QFETCH(bool, artwork);
    QFETCH(QByteArray, token);
    QFETCH(Answer, address);
    QFETCH(Answer, picture);
    QFETCH(int, requests);
    QFETCH(QString, detail);

    AccountSession::instance()->setToken(token);
    const QString record = "/api/PCS/Users/" + AccountSession::instance()->userIdText();
    const QString second = artwork ? "/art.png" : "/p/42.png";
    m_network.setRoute(artwork ? "/api/Orvel/LauncherArtwork" : record, address);
    m_network.setRoute(second, picture);
    const Fetched<QByteArray> fetched =
        artwork ? Account::fetchArtwork(&m_owner, kBase) : Account::fetchUserPhoto(&m_owner, kBase);
    QCOMPARE(fetched.failure.detail, detail);
    QCOMPARE(fetched.ok(), detail.isEmpty());
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
