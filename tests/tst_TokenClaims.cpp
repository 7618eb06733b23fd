// Reading the claims of a token, and the account record and headers built from them.
#include <QtTest>

#include "AccountSession.h"
#include "TestToken.h"
#include "TokenClaims.h"

using OrvelTest::makeTestToken;

namespace {
QByteArray b64url(const QByteArray& bytes, bool padded)
{
    return bytes.toBase64(padded ? QByteArray::Base64UrlEncoding
                                 : QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}
} // namespace

class tst_TokenClaims : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void unparsablePayloadIsLogged();

    void sessionReadsClaims_data();
    void sessionReadsClaims();
    void authHeaders_data();
    void authHeaders();
    void releaseStartsOver();
};

void tst_TokenClaims::decode_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QVariantMap>("claims");

    const QByteArray payload = "{\"instanceId\":\"abcd\",\"userId\":\"42\",\"email\":\"ana@example.org\"}";
    const QVariantMap full{{"instanceId", "abcd"}, {"userId", "42"}, {"email", "ana@example.org"}};
    // The rows below leave out two padding characters, one, and none.
    QVERIFY(payload.toBase64().endsWith("=="));

    QTest::newRow("unpadded Base64url") << makeTestToken(payload) << full;
    QTest::newRow("padded Base64url") << QByteArray("h." + b64url(payload, true) + ".s") << full;
    QTest::newRow("payload with one padding char")
        << makeTestToken("{\"userId\":7,\"n\":\"x\"}") << QVariantMap{{"userId", 7}, {"n", "x"}};
    QTest::newRow("payload without padding")
        << makeTestToken("{\"userId\":7,\"n\":\"xy\"}") << QVariantMap{{"userId", 7}, {"n", "xy"}};
    QTest::newRow("four segments read the second") << QByteArray(makeTestToken(payload) + ".extra") << full;
    QTest::newRow("empty token") << QByteArray() << QVariantMap();
    QTest::newRow("two segments") << QByteArray("h." + b64url(payload, false)) << QVariantMap();
    QTest::newRow("one segment") << b64url(payload, false) << QVariantMap();
    QTest::newRow("empty payload segment") << QByteArray("h..s") << QVariantMap();
    QTest::newRow("payload is a JSON array") << makeTestToken("[1,2]") << QVariantMap();
    // "~~~" and "???" encode to characters that differ between the two alphabets.
    const QByteArray urlSafe = b64url("{\"a\":\"~~~\?\?\?>>>\"}", false);
    QVERIFY(urlSafe.contains('-') || urlSafe.contains('_'));
    QTest::newRow("url-safe alphabet") << QByteArray("h." + urlSafe + ".s") << QVariantMap({{"a", "~~~\?\?\?>>>"}});
    QTest::newRow("UTF-8 text in claims") << makeTestToken("{\"email\":\"zo\xc3\xab@example.org\"}")
                                          << QVariantMap{{"email", QString::fromUtf8("zo\xc3\xab@example.org")}};
}

void tst_TokenClaims::decode()
{
    QFETCH(QByteArray, token);
    QFETCH(QVariantMap, claims);
    QCOMPARE(decodeTokenClaims(token), claims);
}

void tst_TokenClaims::unparsablePayloadIsLogged()
{
    QTest::ignoreMessage(QtDebugMsg, "Failed to Parse Json File");
    QCOMPARE(decodeTokenClaims(makeTestToken("not json")), QVariantMap());
}

void tst_TokenClaims::sessionReadsClaims_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("userId");
    QTest::addColumn<QString>("userIdText");
    QTest::addColumn<QString>("email");

    QTest::newRow("userId as text 42") << makeTestToken("{\"userId\":\"42\",\"email\":\"a@b.c\"}") << 42 << "42"
                                       << QString("a@b.c");
    QTest::newRow("userId as number") << makeTestToken("{\"userId\":1234567}") << 1234567 << "1234567" << QString("");
    QTest::newRow("no userId") << makeTestToken("{\"email\":\"a@b.c\"}") << -1 << "-1" << QString("a@b.c");
    QTest::newRow("empty token") << QByteArray() << -1 << "-1" << QString("");
    QTest::newRow("not a token") << QByteArray("garbage") << -1 << "-1" << QString("");
}

void tst_TokenClaims::sessionReadsClaims()
{
    QFETCH(QByteArray, token);
    QFETCH(int, userId);
    QFETCH(QString, userIdText);
    QFETCH(QString, email);

    AccountSession* session = AccountSession::instance();
    session->setToken(makeTestToken("{\"userId\":99,\"email\":\"old@b.c\"}"));
    session->setToken(token);
    QCOMPARE(session->token(), token);
    QCOMPARE(session->userId(), userId);
    QCOMPARE(session->userIdText(), userIdText);
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

void tst_TokenClaims::releaseStartsOver()
{
    AccountSession::instance()->setToken(makeTestToken("{\"userId\":5}"));
    AccountSession::release();
    QVERIFY(AccountSession::instance()->token().isEmpty());
    QCOMPARE(AccountSession::instance()->userId(), -1);
}

QTEST_GUILESS_MAIN(tst_TokenClaims)
#include "tst_TokenClaims.moc"
