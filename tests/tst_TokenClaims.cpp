// Reading the claims of a token, and the account record and headers built from them.
#include <QtTest>

#include "AccountSession.h"
#include "TestToken.h"
#include "TokenClaims.h"

using OrvelTest::makeTestToken;

class tst_TokenClaims : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void sessionReadsClaims_data();
    void sessionReadsClaims();
    void authHeaders_data();
    void authHeaders();
};

void tst_TokenClaims::decode_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QVariantMap>("claims");

    // This payload needs two padding characters, which tokens leave out.
    const QByteArray payload = "{\"instanceId\":\"abcd\",\"userId\":\"42\",\"email\":\"ana@example.org\"}";
    const QVariantMap full{{"instanceId", "abcd"}, {"userId", "42"}, {"email", "ana@example.org"}};
    const QByteArray padded = payload.toBase64(QByteArray::Base64UrlEncoding);
    QVERIFY(padded.endsWith("=="));

    QTest::newRow("unpadded Base64url") << makeTestToken(payload) << full;
    // "~~~" and "???" encode to characters that differ between the two alphabets.
    const QByteArray urlSafe = makeTestToken("{\"a\":\"~~~\?\?\?>>>\"}");
    QVERIFY(urlSafe.contains('-') || urlSafe.contains('_'));
    QTest::newRow("url-safe alphabet") << urlSafe << QVariantMap({{"a", "~~~\?\?\?>>>"}});
    QTest::newRow("two segments") << QByteArray("h." + padded) << QVariantMap();
}

void tst_TokenClaims::decode()
{
    QFETCH(QByteArray, token);
    QFETCH(QVariantMap, claims);
    QCOMPARE(decodeTokenClaims(token), claims);
}

void tst_TokenClaims::sessionReadsClaims_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("userId");
    QTest::addColumn<QString>("email");

    QTest::newRow("userId as text 42") << makeTestToken("{\"userId\":\"42\",\"email\":\"a@b.c\"}") << 42
                                       << QString("a@b.c");
    QTest::newRow("missing claims") << makeTestToken("{}") << -1 << QString();
}

void tst_TokenClaims::sessionReadsClaims()
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

void tst_TokenClaims::authHeaders_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::newRow("token") << makeTestToken("{\"userId\":1}");
    QTest::newRow("no token") << QByteArray();
}

void tst_TokenClaims::authHeaders()
{
    QFETCH(QByteArray, token);
    AccountSession::instance()->setToken(token);
    QNetworkRequest request(QUrl("https://127.0.0.1/x"));
    AccountSession::instance()->applyAuthHeaders(request);
    QCOMPARE(request.header(QNetworkRequest::ContentTypeHeader).toString(), QString("application/json"));
    QCOMPARE(request.rawHeader("Authorization"), "Bearer " + token);
    QCOMPARE(request.rawHeader("api-version"), QByteArray("2.0"));
    QCOMPARE(request.rawHeaderList().size(), 3);
}

QTEST_GUILESS_MAIN(tst_TokenClaims)
#include "tst_TokenClaims.moc"
