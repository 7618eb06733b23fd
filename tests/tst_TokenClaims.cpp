// The claims the account record reads from a token (the headers built from it are checked on the wire in
// tst_AccountFlows).
#include <QtTest>

#include "AccountSession.h"
#include "TestToken.h"

using OrvelTest::makeTestToken;

class tst_TokenClaims : public QObject
{
    Q_OBJECT

private slots:
    void sessionReadsClaims_data();
    void sessionReadsClaims();
};

void tst_TokenClaims::sessionReadsClaims_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("userId");
    QTest::addColumn<QString>("email");

    // This payload needs two padding characters, which tokens leave out.
    const QByteArray payload = "{\"userId\":\"42\",\"email\":\"ana.b@example.org\"}";
    QVERIFY(payload.toBase64(QByteArray::Base64UrlEncoding).endsWith("=="));
    QTest::newRow("unpadded Base64url, userId as text") << makeTestToken(payload) << 42 << "ana.b@example.org";
    // "~~~" and "???" encode to characters that differ between the two alphabets.
    const QByteArray urlSafe = makeTestToken("{\"userId\":7,\"email\":\"~~~\?\?\?>>>\"}");
    QVERIFY(urlSafe.contains('-') && urlSafe.contains('_'));
    QTest::newRow("url-safe alphabet") << urlSafe << 7 << "~~~\?\?\?>>>";
    QTest::newRow("two segments") << urlSafe.left(urlSafe.lastIndexOf('.')) << -1 << QString();
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

QTEST_GUILESS_MAIN(tst_TokenClaims)
#include "tst_TokenClaims.moc"
