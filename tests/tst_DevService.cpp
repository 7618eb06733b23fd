// The dev kit's OrvelDevService, started as a program and spoken to over real HTTPS on loopback, and the stand-in
// design application Orvel from the build it publishes.
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QtTest>

#include "CryptoUtil.h"
#include "DevServiceProcess.h"
#include "SealingKey.h"
#include "SignInRegistry.h"
#include "TestCertificateAuthority.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;
using namespace UpdateTest;

namespace {
const HeaderList kJsonApi{{"Content-Type", "application/json"}, {"api-version", "2.0"}};

// Of a token, bare or as the JSON string a poll answers.
QJsonObject claimsOf(const QByteArray& token)
{
    const QByteArray claims = QByteArray::fromBase64(token.split('.').value(1), QByteArray::Base64UrlEncoding);
    return QJsonDocument::fromJson(claims).object();
}

// `target` is a path on the service's origin or a whole address; a request with a body is a POST.
FetchResult fetch(const DevServiceProcess& service, const QString& target, const HeaderList& headers = {},
                  const QByteArray& body = {})
{
    return httpsFetch(service.sslConfiguration(), body.isEmpty() ? "GET" : "POST",
                      QUrl(service.updateUrl()).resolved(QUrl(target)), headers, body);
}

// As the launcher sends it: indented JSON, "client" first.
FetchResult poll(const DevServiceProcess& service, const QString& instanceId)
{
    return fetch(service, "/account/api/Accounts/Login/Instance", kJsonApi,
                 QJsonDocument(QJsonObject{{"client", 0}, {"instanceId", instanceId}}).toJson());
}

FetchResult submitSignIn(const DevServiceProcess& service, const QString& id, const QString& email, const QString& back)
{
    const QByteArray form = "InstanceId=" + id.toLatin1() + "&client=0&returnUrl=" + QUrl::toPercentEncoding(back) +
                            "&email=" + QUrl::toPercentEncoding(email);
    return fetch(service, "/account/Account/Login", {{"Content-Type", "application/x-www-form-urlencoded"}}, form);
}

QByteArray signIn(const DevServiceProcess& service, const QString& email)
{
    const QString instanceId = QUuid::createUuid().toString(QUuid::Id128);
    submitSignIn(service, instanceId, email, "/account/signedin");
    return QJsonDocument::fromJson("[" + poll(service, instanceId).body + "]")[0].toString().toLatin1();
}
} // namespace

class tst_DevService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const QString& build : {m_build10, m_build11}) {
            writeFile(build + "/Data/Brushes/round brush.dat", pattern(3000, 2));
            writeFile(build + "/Data/a+b.txt", "plus stays a plus\n");
            writeFile(build + "/Data/large.bin", pattern(3 * 1024 * 1024 + 17, 3));
            writeFile(build + "/version.txt", QFileInfo(build).fileName().toLatin1() + "\n");
            QVERIFY(QFile::copy(ORVEL_BIN_DIR "/Orvel", build + "/Orvel"));
        }
        writeFile(m_build11 + "/Data/Brushes/flat brush.dat", pattern(5000, 4));
        // The launcher keeps its own manifest in an installation; a published build lists neither it nor a link out.
        writeFile(m_build11 + "/liveupdate.json", "{}");
        writeFile(m_dir.filePath("builds/secret.txt"), "outside every build\n");
        QVERIFY(QFile::link(m_dir.filePath("builds/secret.txt"), m_build11 + "/Data/link.txt"));

        QVERIFY2(m_service.start(m_dir.filePath("state"),
                                 {"--publish", "1.0=" + m_build10, "--publish", "1.1=" + m_build11}),
                 qPrintable(m_service.failure()));
    }

    void manifestSignedAndListsThePublishedFiles()
    {
        // With the key it made in its state folder, and with --sign-key made by the openssl tool: the printed key is
        // the PEM file's, and as Ed25519 is deterministic, openssl signs the body just as the service.
        const QString pem = m_dir.filePath("key.pem");
        openssl({"genpkey", "-algorithm", "ed25519", "-out", pem});
        DevServiceProcess operatorKey;
        QVERIFY(operatorKey.start(m_dir.filePath("signing"), {"--publish", "1.1=" + m_build11, "--sign-key", pem}));
        Files files = readTree(m_build11);
        files.remove("liveupdate.json");
        files.remove("Data/link.txt");
        for (const auto& [service, key] :
             {std::pair<DevServiceProcess*, QString>{&m_service, m_dir.filePath("state/manifest-key.pem")},
              {&operatorKey, pem}}) {
            const FetchResult answer = fetch(*service, "/update/orvel/patch?version=0.0.0.0&os=1&output=json");
            writeFile(m_dir.filePath("body"), answer.body);
            QCOMPARE(answer.headers.value("x-orvel-signature"),
                     openssl({"pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", m_dir.filePath("body")}).toBase64());
            QCOMPARE(service->value("ORVEL_MANIFEST_PUBLIC_KEY").toLatin1(),
                     openssl({"pkey", "-in", key, "-pubout", "-outform", "DER"}).right(32).toBase64());
            QCOMPARE(service->value("ORVEL_HASH_ALGORITHM"), QString("sha256"));
            QJsonObject manifest = QJsonDocument::fromJson(answer.body).object();
            QCOMPARE(manifest.take("version"), QJsonValue("1.1"));
            QCOMPARE(manifest, manifestOf(files));
        }
    }

    void answers_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<HeaderList>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected"); // part of the answer: its Content-Range, a space, its body
        const auto row = [](const char* name, const QString& target, int status, const QByteArray& expected,
                            const HeaderList& headers = {}, const QByteArray& body = {}) {
            QTest::newRow(name) << target << headers << body << status << expected;
        };
        const QString patch = "/update/orvel/patch?output=json&os=1&version=";
        row("daily pinned to an older build", patch + "1.0.t&vt=daily", 200, "\"version\":\"1.0\"");
        row("daily pinned to an unknown build", patch + "3.0.t&vt=daily", 200, "Not Found");
        row("daily text without the channel", patch + "1.0.t", 200, "Not Found");

        const QString download = "/update/orvel/patch/download?os=1&version=";
        const QString aPlusB = download + "1.1&file=/Data/a+b.txt";
        row("range continues a download", aPlusB, 206, "bytes 5-17/18 stays a plus\n", {{"Range", "bytes=5-"}});
        row("range beyond the end", aPlusB, 416, "bytes */18 ", {{"Range", "bytes=18-"}});
        row("large file streamed", download + "1.1&file=/Data/large.bin", 200, readFile(m_build11 + "/Data/large.bin"));
        row("parent segment", download + "1.1&file=/Data/../../secret.txt", 400, "Invalid file path");
        row("backslash encoded", download + "1.1&file=/..%5Csecret.txt", 400, "Invalid file path");
        row("NUL ending the name", download + "1.1&file=/Data/a+b.txt%00", 400, "Invalid file path");
        row("no leading slash", download + "1.1&file=Orvel", 400, "file=/PATH");
        row("file of a later build", download + "1.0&file=/Data/Brushes/flat%20brush.dat", 404, "No such file");
        row("manifest is not published", download + "1.1&file=/liveupdate.json", 404, "No such file");
        row("symbolic link out of the build", download + "1.1&file=/Data/link.txt", 404, "No such file");

        row("sign-in page escapes what it echoes",
            "/account/Account/Login?InstanceId=Abc&client=%3Cscript%3E&returnUrl=%22%3E%3Cscript%3E", 200,
            "&quot;&gt;&lt;script&gt;");
        row("page after signing in", "/account/signedin", 200, "You are signed in. You can return to the launcher.");
        row("connect page", m_service.value("ORVEL_CONNECT_URL"), 200, "2.0.32");
        row("unknown path", "/account/api/Nothing", 404, "Not Found");
        row("artwork address", "/account/api/Orvel/LauncherArtwork?api-version=2", 200,
            '"' + m_service.updateUrl().replace("/update/", "/account/artwork/background.png\"").toUtf8());
        row("artwork address without api-version", "/account/api/Orvel/LauncherArtwork", 400, "api-version=2");
        const QString login = "/account/api/Accounts/Login/Instance";
        row("poll without api-version", login, 400, "api-version", {{"Content-Type", "application/json"}},
            "{\"client\": 0, \"instanceId\": \"Abc\"}");
        row("poll with malformed JSON", login, 400, "instanceId", kJsonApi, "{\"instanceId\": ");
        row("poll with an oversized body", login, 413, "Payload Too Large", kJsonApi, QByteArray(200 * 1024, ' '));

        const QByteArray token = signIn(m_service, "dee@example.com");
        const auto bearer = [](QByteArray t) { return HeaderList{{"Authorization", "Bearer " + t}, kJsonApi[1]}; };
        // One character changed in the middle of the claims or of the signature: still a well-formed token.
        const auto tampered = [&](int at) { return QByteArray(token).replace(at, 1, token[at] == 'A' ? "B" : "A"); };
        DevServiceProcess expiring; // the same secret, tokens already expired
        QVERIFY2(expiring.start(m_dir.filePath("state"), {"--token-lifetime", "-60"}), qPrintable(expiring.failure()));
        const QString info = "/account/api/accounts/Users/Info";
        row("user info, claims changed", info, 401, "invalid", bearer(tampered(token.indexOf('.') + 8)));
        row("user info, signature changed", info, 401, "invalid", bearer(tampered(token.size() - 20)));
        row("user info, token expired", info, 401, "expired", bearer(signIn(expiring, "eve@example.com")));
        row("user info without a token", info, 401, "missing", {kJsonApi[1]});
        row("user info without api-version", info, 400, "api-version", {bearer(token)[0]});
        row("user record", "/account/api/PCS/Users/1", 200, "/account/avatars/1.png\"", bearer(token));
        row("user record without a token", "/account/api/PCS/Users/1", 401, "missing", {kJsonApi[1]});
    }

    void answers()
    {
        QFETCH(QString, target);
        QFETCH(HeaderList, headers);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        const FetchResult answer = fetch(m_service, target, headers, body);
        QCOMPARE(answer.status, status);
        const QByteArray shown = answer.headers.value("content-range") + ' ' + answer.body;
        QVERIFY2(shown.contains(expected), shown.left(300).constData());
        QVERIFY(!answer.body.contains("outside every build") && !answer.body.contains("<script>"));
    }

    void signInForm_data()
    {
        QTest::addColumn<QString>("instanceId");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("returnUrl");
        QTest::addColumn<int>("status");
        const auto row = [](const char* name, const char* id, const char* email, const char* returnUrl, int status) {
            QTest::newRow(name) << QString(id) << QString(email) << QString(returnUrl) << status;
        };
        // Never a redirect away from this server; the sign-in itself counts.
        row("back to this server", "FormSame", " Ann.Example@Example.com ", "/account/signedin", 303);
        row("return elsewhere", "FormElsewhere", "ann@example.com", "https://example.invalid/", 200);
        row("return protocol-relative", "FormRelative", "ann@example.com", "//example.invalid/", 200);
        row("return with a backslash", "FormBackslash", "ann@example.com", "/\\example.invalid/", 200);
        row("not an e-mail address", "FormBad", "<b>@x", "/account/signedin", 400);
        row("no instance id", "", "ann@example.com", "/account/signedin", 400);
    }

    void signInForm()
    {
        QFETCH(QString, instanceId);
        QFETCH(QString, email);
        QFETCH(QString, returnUrl);
        QFETCH(int, status);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const FetchResult answer = submitSignIn(m_service, instanceId, email, returnUrl);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.headers.value("location"), status == 303 ? returnUrl.toLatin1() : QByteArray());
        QVERIFY(!answer.body.contains("<b>"));
        QCOMPARE(answer.body.contains("You are signed in."), status == 200);
        if (status == 400) {
            QCOMPARE(poll(m_service, instanceId).status, instanceId.isEmpty() ? 400 : 404);
            return;
        }
        // The same address, written differently, is the same user.
        const QJsonValue userId = claimsOf(signIn(m_service, email.toUpper()))["userId"];
        QJsonObject claims = claimsOf(poll(m_service, instanceId).body);
        const double issued = claims.take("iat").toDouble();
        QVERIFY(issued >= before - 1);
        QCOMPARE(claims.take("exp").toDouble(), issued + 7 * 24 * 3600);
        QCOMPARE(claims,
                 QJsonObject({{"instanceId", instanceId}, {"email", email.trimmed().toLower()}, {"userId", userId}}));
        QCOMPARE(poll(m_service, instanceId).status, 404); // handed out once
    }

    void signInTableIsBounded()
    {
        // Sign-ins that nobody collects must not fill the memory: beyond the capacity, one makes room for the next.
        SignInRegistry registry;
        for (int i = 0; i <= SignInRegistry::kCapacity; ++i)
            registry.complete(QString::number(i), "ann@example.com", 1000);
        int waiting = 0;
        for (int i = 0; i <= SignInRegistry::kCapacity; ++i)
            waiting += registry.collect(QString::number(i), 1000).isEmpty() ? 0 : 1;
        QCOMPARE(waiting, SignInRegistry::kCapacity);
    }

    void picturesDecode()
    {
        for (const char* picture : {"/account/avatars/583817.png", "/account/artwork/background.png"})
            QVERIFY2(!QImage::fromData(fetch(m_service, picture).body).isNull(), picture);
    }

    void filesBeyond2GiBAndMissingFolders()
    {
        DevServiceProcess refused;
        QVERIFY(!refused.start(m_dir.filePath("state"), {"--publish", "1.0=" + m_dir.filePath("nowhere")}));
        QVERIFY2(refused.failure().contains("no such folder"), qPrintable(refused.failure()));
        // 2 GiB and a byte, sparse, so it costs no disk; hashing it takes a few seconds. Its size stays whole.
        QFile huge(m_dir.filePath("huge/disk.img"));
        QVERIFY(QDir().mkpath(m_dir.filePath("huge")) && huge.open(QIODevice::WriteOnly) &&
                huge.resize((1LL << 31) + 1));
        QProcess manifest;
        manifest.start(ORVEL_BIN_DIR "/OrvelDevService", {"--manifest", "1.0=" + m_dir.filePath("huge")});
        QVERIFY(manifest.waitForFinished(120000));
        QVERIFY(manifest.readAllStandardOutput().contains("\"size\": 2147483649"));
    }

    void operatorSettings()
    {
        // An operator's certificate, public address and file server from a configuration file with relative paths; the
        // command line's --port 0 wins over the file's port, which is taken.
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::Any));
        TestCertificateAuthority& authority = TestCertificateAuthority::trusted();
        writeFile(m_dir.filePath("operator/tls.pem"), authority.serverCertificatePem());
        writeFile(m_dir.filePath("operator/tls.key"), authority.serverKeyPem());
        const QString config = m_dir.filePath("operator/devservice.ini");
        const QByteArray settings = "port=" + QByteArray::number(taken.serverPort()) +
                                    "\npublic-url=https://updates.example.test:9443/\ntls-cert=tls.pem\n"
                                    "tls-key=tls.key\nlauncher-version=2.0.40\n"
                                    "redirect-downloads=https://files.example.test/builds/\npublish=1.0=../builds/1.0";
        writeFile(config, settings + "\n");
        DevServiceProcess service;
        QVERIFY2(service.start(m_dir.filePath("state"), {"--config", config}), qPrintable(service.failure()));
        QCOMPARE(service.value("ORVEL_CONNECT_URL"), QString("https://updates.example.test:9443/account/connect"));
        QCOMPARE(service.value("ORVEL_CA_CERTIFICATES"), QString());

        const auto get = [&](const QString& path) {
            return httpsFetch(QSslConfiguration::defaultConfiguration(), "GET",
                              QUrl("https://127.0.0.1:" + service.value("ORVEL_DEV_SERVICE_PORT") + path));
        };
        QVERIFY(get("/update/orvel/archive/55?pagesize=1").body.contains("\"2.0.40\""));
        QVERIFY(get("/account/api/Orvel/LauncherArtwork?api-version=2")
                    .body.startsWith("\"https://updates.example.test:9443/account/artwork/"));
        const FetchResult redirect = get("/update/orvel/patch/download?version=1.0.t&vt=daily&os=1&file=/Data/a+b.txt");
        QCOMPARE(redirect.status, 302);
        QCOMPARE(redirect.headers.value("location"),
                 QByteArray("https://files.example.test/builds/1.0/Data/a%2Bb.txt"));

        // 1.0 is the newest build until the file names 1.1 too and SIGHUP publishes it, without a restart.
        const QString patch = "/update/orvel/patch?version=1.0&os=1&output=json";
        QCOMPARE(get(patch).body, QByteArray());
        writeFile(config, settings + ", 1.1=../builds/1.1\n");
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(get(patch).body.contains("\"version\":\"1.1\""), 20000);

        // Access log lines: time (UTC), client address, request, status.
        const QRegularExpression line(
            R"(\n\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 127\.0\.0\.1 GET /update/orvel/archive/55\?pagesize=1 200 )");
        QVERIFY2(line.match(service.accessLog()).hasMatch(), service.accessLog().constData());
        QCOMPARE(service.stop(), 0);
    }

    void parallelKeepAliveConnectionsThenStop()
    {
        // 20 clients at once, each keeping its connection open after its answer as the launcher's downloaders do, then
        // one more: all are answered without waiting for a worker to come free.
        QElapsedTimer elapsed;
        elapsed.start();
        QNetworkRequest request(QUrl(m_service.updateUrl() + "orvel/archive/55?pagesize=1"));
        request.setSslConfiguration(m_service.sslConfiguration());
        QObject clients;
        QList<QNetworkReply*> replies;
        for (int i = 0; i < 20; ++i)
            replies << (new QNetworkAccessManager(&clients))->get(request);
        for (QNetworkReply* reply : replies) {
            QVERIFY(reply->isFinished() || QSignalSpy(reply, &QNetworkReply::finished).wait(20000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        }
        QCOMPARE(fetch(m_service, request.url().toString()).status, 200);
        // Far below the 10 s keep-alive timeout that a starved pool would have to wait out at least once.
        QVERIFY2(elapsed.elapsed() < 8000, qPrintable(QString::number(elapsed.elapsed())));
        // The idle connections do not hold the exit up either.
        QCOMPARE(m_service.stop(SIGINT), 0);
    }

    // Orvel, started as "Orvel /token TEXT", refuses what is not a signed-in token. (A sealed token that it reads, the
    // launcher's own start with the text in ORVEL_TOKEN, and the demo builds are checked by the end-to-end test, which
    // updates one to the next and signs in.)
    void appStatusLine_data()
    {
        QTest::addColumn<QByteArray>("blob"); // handed over as Base64url with the padding kept
        QTest::newRow("plain token, not sealed")
            << makeTestToken("{\"instanceId\":\"X\",\"userId\":482913,\"email\":\"ann@example.com\"}");
        QTest::newRow("sealed token without e-mail")
            << Verdant::CryptoUtil().encrypt(makeTestToken("{\"userId\":482913}"), SealingKey);
    }

    void appStatusLine()
    {
        QFETCH(QByteArray, blob);
        qputenv("ORVEL_APP_EXIT_AFTER_MS", "0");
        QProcess app;
        app.start(m_build11 + "/Orvel", {"/token", blob.toBase64(QByteArray::Base64UrlEncoding)});
        QVERIFY(app.waitForFinished(60000));
        QVERIFY(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(app.readAllStandardOutput()), QString("Orvel 1.1: not signed in\n"));
    }

private:
    QTemporaryDir m_dir;
    const QString m_build10 = m_dir.filePath("builds/1.0");
    const QString m_build11 = m_dir.filePath("builds/1.1");
    DevServiceProcess m_service;
};

QTEST_MAIN(tst_DevService)
#include "tst_DevService.moc"
