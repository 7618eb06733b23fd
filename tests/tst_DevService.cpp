// The dev kit's OrvelDevService, started as a program and spoken to over real HTTPS on loopback.
#include <csignal>

#include <QCryptographicHash>
#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QUuid>
#include <QtTest>

#include "DevServiceProcess.h"
#include "HttpsFetch.h"
#include "TestCertificateAuthority.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;
using namespace UpdateTest;

namespace {
QJsonObject claimsOf(const QByteArray& token)
{
    const QList<QByteArray> segments = token.split('.');
    if (segments.size() != 3)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromBase64(segments.at(1), QByteArray::Base64UrlEncoding)).object();
}

// Changes one character in the middle of a segment, keeping the token well-formed.
QByteArray tamper(const QByteArray& token, int segment)
{
    QList<QByteArray> segments = token.split('.');
    QByteArray& part = segments[segment];
    const int middle = part.size() / 2;
    part[middle] = part[middle] == 'A' ? 'B' : 'A';
    return segments.join('.');
}
} // namespace

class tst_DevService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    // Update service
    void manifestDescribesTheFiles();
    void versionPolicy_data();
    void versionPolicy();
    void downloadBytes_data();
    void downloadBytes();
    void downloadRefusals_data();
    void downloadRefusals();
    void redirectMode();
    void refusesBadOptions_data();
    void refusesBadOptions();
    void fileOf2GiBIsPublishedWhole();

    // Account web service
    void signInRoundTrip();
    void signInFormRejectsBadInput_data();
    void signInFormRejectsBadInput();
    void pollRejectsBadInput_data();
    void pollRejectsBadInput();
    void userInfo_data();
    void userInfo();
    void photoIsADecodableImage();
    void artworkIsADecodableImage();
    void pagesForTheBrowser_data();
    void pagesForTheBrowser();

    // Serving
    void parallelKeepAliveConnectionsAreServed();
    void stopsCleanlyOnSignals_data();
    void stopsCleanlyOnSignals();
    void operatorSettings();

private:
    FetchResult get(const QString& url, const HeaderList& headers = {})
    {
        return httpsFetch(m_service.sslConfiguration(), "GET", QUrl(url), headers);
    }
    FetchResult poll(const QString& instanceId, DevServiceProcess* service = nullptr);
    FetchResult submitSignIn(const QString& instanceId, const QString& email, const QString& returnUrl,
                             DevServiceProcess* service = nullptr);
    QByteArray signIn(const QString& email, DevServiceProcess* service = nullptr);

    QTemporaryDir m_dir;
    QString m_build10;
    QString m_build11;
    DevServiceProcess m_service;
};

void tst_DevService::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_build10 = m_dir.filePath("builds/1.0");
    m_build11 = m_dir.filePath("builds/1.1");
    for (const QString& build : {m_build10, m_build11}) {
        writeFile(build + "/Orvel", pattern(20000, 1));
        writeFile(build + "/Data/Brushes/round brush.dat", pattern(3000, 2));
        writeFile(build + "/Data/a+b.txt", "plus stays a plus\n");
        writeFile(build + "/Data/large.bin", pattern(3 * 1024 * 1024 + 17, 3));
    }
    writeFile(m_build10 + "/version.txt", "1.0\n");
    writeFile(m_build11 + "/version.txt", "1.1\n");
    writeFile(m_build11 + "/Data/Brushes/flat brush.dat", pattern(5000, 4));
    // The launcher keeps its own manifest here; a published build must not list it.
    writeFile(m_build11 + "/liveupdate.json", "{}");
    writeFile(m_dir.filePath("builds/secret.txt"), "outside every build\n");
    // A link out of the build must not make the file behind it downloadable.
    QVERIFY(QFile::link(m_dir.filePath("builds/secret.txt"), m_build11 + "/Data/link.txt"));

    QVERIFY2(
        m_service.start(m_dir.filePath("state"), {"--publish", "1.0=" + m_build10, "--publish", "1.1=" + m_build11}),
        qPrintable(m_service.failure()));
    QCOMPARE(m_service.connectUrl(), QString("https://127.0.0.1:%1/account/connect").arg(m_service.port()));
}

void tst_DevService::cleanupTestCase()
{
    QVERIFY(m_service.stop());
}

FetchResult tst_DevService::poll(const QString& instanceId, DevServiceProcess* service)
{
    service = service ? service : &m_service;
    // As the launcher sends it: indented JSON, "client" first.
    const QByteArray body = QJsonDocument(QJsonObject{{"client", 0}, {"instanceId", instanceId}}).toJson();
    return httpsFetch(service->sslConfiguration(), "POST", QUrl(service->accountUrl() + "api/Accounts/Login/Instance"),
                      {{"Content-Type", "application/json"}, {"api-version", "2.0"}}, body);
}

FetchResult tst_DevService::submitSignIn(const QString& instanceId, const QString& email, const QString& returnUrl,
                                         DevServiceProcess* service)
{
    service = service ? service : &m_service;
    QUrlQuery form;
    form.addQueryItem("InstanceId", instanceId);
    form.addQueryItem("client", "0");
    form.addQueryItem("returnUrl", returnUrl);
    form.addQueryItem("email", QString::fromLatin1(QUrl::toPercentEncoding(email)));
    return httpsFetch(service->sslConfiguration(), "POST", QUrl(service->accountUrl() + "Account/Login"),
                      {{"Content-Type", "application/x-www-form-urlencoded"}},
                      form.toString(QUrl::FullyEncoded).toLatin1());
}

QByteArray tst_DevService::signIn(const QString& email, DevServiceProcess* service)
{
    const QString instanceId = QUuid::createUuid().toString(QUuid::Id128);
    if (submitSignIn(instanceId, email, "/account/signedin", service).status != 303)
        return {};
    const FetchResult answer = poll(instanceId, service);
    return answer.status == 200 ? QByteArray(answer.body).replace('"', "") : QByteArray();
}

void tst_DevService::manifestDescribesTheFiles()
{
    const FetchResult answer = get(m_service.updateUrl() + "orvel/patch?version=0.0.0.0&os=1&output=json");
    const QJsonObject manifest = QJsonDocument::fromJson(answer.body).object();
    QCOMPARE(manifest.value("version").toString(), QString("1.1"));

    Files expected = readTree(m_build11);
    expected.remove("liveupdate.json");
    expected.remove("Data/link.txt");
    Files listed;
    qint64 total = 0;
    for (const QJsonValue& value : manifest.value("fileList").toArray()) {
        const QString path = value["path"].toString();
        const QByteArray content = expected.value(path);
        listed.insert(path, content);
        QCOMPARE(value["size"].toInt(), content.size());
        QCOMPARE(value["hash"].toString(),
                 QString(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
        total += content.size();
    }
    QCOMPARE(listed.keys(), expected.keys());
    QCOMPARE(manifest.value("totalFileSize").toDouble(), double(total));
}

void tst_DevService::versionPolicy_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("expected"); // "" empty body, "Not Found", or the version of the manifest

    QTest::newRow("newest installed: empty") << QString("version=1.1&os=1") << "";
    QTest::newRow("older installed: newest manifest") << QString("version=1.0&os=1") << "1.1";
    QTest::newRow("nothing installed: newest manifest") << QString("version=0.0.0.0&os=255") << "1.1";
    QTest::newRow("unknown version") << QString("version=0.9&os=1") << "Not Found";
    QTest::newRow("daily pinned to older build") << QString("version=1.0.t&vt=daily&os=1") << "1.0";
    QTest::newRow("daily pinned to unknown build") << QString("version=3.0.t&vt=daily&os=1") << "Not Found";
    QTest::newRow("daily text without the channel") << QString("version=1.0.t&os=1") << "Not Found";
}

void tst_DevService::versionPolicy()
{
    QFETCH(QString, query);
    QFETCH(QString, expected);
    const FetchResult answer = get(m_service.updateUrl() + "orvel/patch?" + query + "&output=json");
    QCOMPARE(answer.status, 200);
    if (expected.isEmpty() || expected == "Not Found")
        QCOMPARE(QString::fromUtf8(answer.body), expected);
    else
        QCOMPARE(QJsonDocument::fromJson(answer.body)["version"].toString(), expected);
}

void tst_DevService::downloadBytes_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("file");

    QTest::newRow("nested name with a blank")
        << "version=1.1&file=/Data/Brushes/flat%20brush.dat" << m_build11 + "/Data/Brushes/flat brush.dat";
    QTest::newRow("blank sent unencoded")
        << "version=1.1&file=/Data/Brushes/round brush.dat" << m_build11 + "/Data/Brushes/round brush.dat";
    QTest::newRow("plus stays a plus") << "version=1.1&file=/Data/a+b.txt" << m_build11 + "/Data/a+b.txt";
    QTest::newRow("large file streamed") << "version=1.1&file=/Data/large.bin" << m_build11 + "/Data/large.bin";
    QTest::newRow("daily channel") << "version=1.0.t&vt=daily&file=/version.txt" << m_build10 + "/version.txt";
}

void tst_DevService::downloadBytes()
{
    QFETCH(QString, query);
    QFETCH(QString, file);
    const FetchResult answer = get(m_service.updateUrl() + "orvel/patch/download?os=1&" + query);
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.body == readFile(file));
}

void tst_DevService::downloadRefusals_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");

    QTest::newRow("parent segment") << "version=1.1&file=/Data/../../secret.txt" << 400;
    QTest::newRow("parent segment encoded") << "version=1.1&file=/%2e%2e/secret.txt" << 400;
    QTest::newRow("backslash encoded") << "version=1.1&file=/..%5Csecret.txt" << 400;
    QTest::newRow("control character") << "version=1.1&file=/Data/a+b.txt%00" << 400;
    QTest::newRow("no leading slash") << "version=1.1&file=Orvel" << 400;
    QTest::newRow("file of a later build") << "version=1.0&file=/Data/Brushes/flat%20brush.dat" << 404;
    QTest::newRow("manifest is not published") << "version=1.1&file=/liveupdate.json" << 404;
    QTest::newRow("symbolic link out of the build") << "version=1.1&file=/Data/link.txt" << 404;
}

void tst_DevService::downloadRefusals()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    const FetchResult answer = get(m_service.updateUrl() + "orvel/patch/download?os=1&" + query);
    QCOMPARE(answer.status, status);
    QVERIFY(!answer.body.contains("outside every build"));
}

void tst_DevService::redirectMode()
{
    DevServiceProcess redirecting;
    QVERIFY2(redirecting.start(m_dir.filePath("state"), {"--publish", "1.1=" + m_build11, "--redirect-downloads",
                                                         "https://files.example.invalid/builds/"}),
             qPrintable(redirecting.failure()));
    const FetchResult answer =
        httpsFetch(redirecting.sslConfiguration(), "GET",
                   QUrl(redirecting.updateUrl() + "orvel/patch/download?version=1.1.t&vt=daily&os=1&file=/Data/Brushes/"
                                                  "round%20brush.dat"));
    QCOMPARE(answer.status, 302);
    QCOMPARE(answer.location, QByteArray("https://files.example.invalid/builds/1.1/Data/Brushes/round%20brush.dat"));
    QVERIFY(redirecting.stop());
}

void tst_DevService::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing folder") << QStringList{"--publish", "1.0=" + m_dir.filePath("nowhere")} << "no such folder";
}

void tst_DevService::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess service;
    service.start(ORVEL_BIN_DIR "/OrvelDevService",
                  QStringList{"--state", m_dir.filePath("state"), "--port", "0"} + arguments);
    QVERIFY(service.waitForFinished(60000));
    QVERIFY(service.exitCode() != 0);
    const QString errors = QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

void tst_DevService::fileOf2GiBIsPublishedWhole()
{
    // Sparse, so it costs no disk; hashing it takes a few seconds.
    QFile file(m_dir.filePath("huge/disk.img"));
    QVERIFY(QDir().mkpath(m_dir.filePath("huge")) && file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize((qint64(1) << 31) + 1));
    QProcess service;
    service.start(ORVEL_BIN_DIR "/OrvelDevService", {"--manifest", "1.0=" + m_dir.filePath("huge")});
    QVERIFY(service.waitForFinished(120000));
    const QJsonObject manifest = QJsonDocument::fromJson(service.readAllStandardOutput()).object();
    QCOMPARE(manifest["fileList"][0]["size"].toDouble(), 2147483649.0);
    QCOMPARE(manifest["totalFileSize"].toDouble(), 2147483649.0);
    QVERIFY(file.remove());
}

void tst_DevService::signInRoundTrip()
{
    const QString instanceId = "Zq3ExampleInstance0000000000000A";
    const FetchResult page = get(m_service.accountUrl() + "Account/Login?InstanceId=" + instanceId +
                                 "&client=0&returnUrl=/account/signedin");
    QVERIFY(page.body.contains("<form method=\"post\""));
    QVERIFY(page.body.contains("value=\"" + instanceId.toLatin1() + "\""));
    QCOMPARE(poll(instanceId).status, 404);

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const FetchResult submitted = submitSignIn(instanceId, " Ann.Example@Example.com ", "/account/signedin");
    QCOMPARE(submitted.status, 303);
    QCOMPARE(submitted.location, QByteArray("/account/signedin"));
    const FetchResult returned = get(QUrl(m_service.accountUrl()).resolved(QUrl("/account/signedin")).toString());
    QVERIFY(returned.body.contains("You are signed in. You can return to the launcher."));

    const FetchResult answer = poll(instanceId);
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.body.startsWith('"') && answer.body.endsWith('"'));
    const QJsonObject claims = claimsOf(answer.body.mid(1, answer.body.size() - 2));
    QCOMPARE(claims.value("instanceId").toString(), instanceId);
    QCOMPARE(claims.value("email").toString(), QString("ann.example@example.com"));
    QVERIFY(claims.value("iat").toDouble() >= before - 1);
    QCOMPARE(claims.value("exp").toDouble() - claims.value("iat").toDouble(), 7 * 24 * 3600.0);
    // The same address, written differently, is the same user.
    QCOMPARE(claimsOf(signIn("ANN.example@example.com")).value("userId"), claims.value("userId"));
    QCOMPARE(poll(instanceId).status, 404); // handed out once
}

void tst_DevService::signInFormRejectsBadInput_data()
{
    QTest::addColumn<QString>("instanceId");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("returnUrl");
    QTest::addColumn<int>("status");

    QTest::newRow("not an e-mail") << QString("FormCase1") << "<b>@x" << QString("/account/signedin") << 400;
    QTest::newRow("no instance id") << QString("") << "ann@example.com" << QString("/account/signedin") << 400;
    // Never a redirect away from this origin; the sign-in itself counts.
    QTest::newRow("return url elsewhere")
        << QString("FormCase2") << "ann@example.com" << QString("https://example.invalid/") << 200;
    QTest::newRow("return url protocol-relative")
        << QString("FormCase3") << "ann@example.com" << QString("//example.invalid/") << 200;
}

void tst_DevService::signInFormRejectsBadInput()
{
    QFETCH(QString, instanceId);
    QFETCH(QString, email);
    QFETCH(QString, returnUrl);
    QFETCH(int, status);
    const FetchResult answer = submitSignIn(instanceId, email, returnUrl);
    QCOMPARE(answer.status, status);
    QVERIFY(answer.location.isEmpty());
    QVERIFY(!answer.body.contains("<b>"));
    QCOMPARE(answer.body.contains("You are signed in."), status == 200);
    if (!instanceId.isEmpty())
        QCOMPARE(poll(instanceId).status, status == 200 ? 200 : 404);
}

void tst_DevService::pollRejectsBadInput_data()
{
    QTest::addColumn<HeaderList>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const HeaderList json{{"Content-Type", "application/json"}, {"api-version", "2.0"}};
    QTest::newRow("no api-version") << HeaderList{{"Content-Type", "application/json"}}
                                    << QByteArray("{\"client\": 0, \"instanceId\": \"Abc\"}") << 400;
    QTest::newRow("malformed json") << json << QByteArray("{\"instanceId\": ") << 400;
    QTest::newRow("instance id not text") << json << QByteArray("{\"instanceId\": 12}") << 400;
    QTest::newRow("oversized body") << json << QByteArray(200 * 1024, ' ') << 413;
    QTest::newRow("unknown instance") << json << QByteArray("{\"client\": 0, \"instanceId\": \"Unknown1\"}") << 404;
}

void tst_DevService::pollRejectsBadInput()
{
    QFETCH(HeaderList, headers);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const FetchResult answer = httpsFetch(m_service.sslConfiguration(), "POST",
                                          QUrl(m_service.accountUrl() + "api/Accounts/Login/Instance"), headers, body);
    QCOMPARE(answer.status, status);
}

void tst_DevService::userInfo_data()
{
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QByteArray>("apiVersion");
    QTest::addColumn<int>("status");

    const QByteArray token = signIn("dee@example.com");
    QVERIFY(!token.isEmpty());
    QTest::newRow("valid") << "Bearer " + token << QByteArray("2.0") << 200;
    QTest::newRow("tampered claims") << "Bearer " + tamper(token, 1) << QByteArray("2.0") << 401;
    QTest::newRow("tampered signature") << "Bearer " + tamper(token, 2) << QByteArray("2.0") << 401;
    QTest::newRow("no authorization") << QByteArray() << QByteArray("2.0") << 401;
    QTest::newRow("no api-version") << "Bearer " + token << QByteArray() << 400;

    // From a second instance on the same state folder (same secret) that issues tokens already expired.
    DevServiceProcess expiring;
    QVERIFY2(expiring.start(m_dir.filePath("state"), {"--token-lifetime", "-60"}), qPrintable(expiring.failure()));
    const QByteArray expired = signIn("eve@example.com", &expiring);
    QVERIFY(claimsOf(expired).value("exp").toDouble() < QDateTime::currentSecsSinceEpoch());
    QTest::newRow("expired") << "Bearer " + expired << QByteArray("2.0") << 401;
}

void tst_DevService::userInfo()
{
    QFETCH(QByteArray, authorization);
    QFETCH(QByteArray, apiVersion);
    QFETCH(int, status);
    HeaderList headers{{"Content-Type", "application/json"}};
    if (!authorization.isEmpty())
        headers.append({"Authorization", authorization});
    if (!apiVersion.isEmpty())
        headers.append({"api-version", apiVersion});
    const FetchResult answer = get(m_service.accountUrl() + "api/accounts/Users/Info", headers);
    QCOMPARE(answer.status, status);
    if (status == 200)
        QCOMPARE(QJsonDocument::fromJson(answer.body)["email"].toString(), QString("dee@example.com"));
}

void tst_DevService::photoIsADecodableImage()
{
    const QByteArray token = signIn("fay@example.com");
    const QString record =
        m_service.accountUrl() + "api/PCS/Users/" + QString::number(claimsOf(token)["userId"].toInt());
    const FetchResult answer = get(record, {{"Authorization", "Bearer " + token}, {"api-version", "2.0"}});
    QCOMPARE(answer.status, 200);
    const FetchResult picture = get(QJsonDocument::fromJson(answer.body)["photo"].toString());
    QCOMPARE(picture.contentType, QByteArray("image/png"));
    QVERIFY(!QImage::fromData(picture.body).isNull());
    QCOMPARE(get(record, {{"api-version", "2.0"}}).status, 401);
}

void tst_DevService::artworkIsADecodableImage()
{
    const FetchResult address = get(m_service.accountUrl() + "api/Orvel/LauncherArtwork?api-version=2");
    QVERIFY(address.body.startsWith('"') && address.body.endsWith('"'));
    const QImage image = QImage::fromData(get(QString::fromUtf8(address.body).remove('"')).body);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() > image.height());
    QCOMPARE(get(m_service.accountUrl() + "api/Orvel/LauncherArtwork").status, 400);
}

void tst_DevService::pagesForTheBrowser_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("archive") << "/update/orvel/archive/55?pagesize=1" << 200 << QByteArray("\"2.0.32\"");
    QTest::newRow("connect page") << "/account/connect" << 200 << QByteArray("2.0.32");
    QTest::newRow("sign-in page escapes what it echoes")
        << "/account/Account/Login?InstanceId=Abc&client=%3Cscript%3E&returnUrl=%22%3E%3Cscript%3E" << 200
        << QByteArray("&quot;&gt;&lt;script&gt;");
    QTest::newRow("unknown path") << "/account/api/Nothing" << 404 << QByteArray("Not Found");
}

void tst_DevService::pagesForTheBrowser()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, text);
    const FetchResult page = get(QUrl(m_service.accountUrl()).resolved(QUrl(path)).toString());
    QCOMPARE(page.status, status);
    QVERIFY2(page.body.contains(text), page.body.constData());
    QVERIFY(!page.body.contains("<script>"));
}

void tst_DevService::parallelKeepAliveConnectionsAreServed()
{
    // 20 clients at once, each keeping its connection open after its answer, as the launcher's downloaders do,
    // then one more: all must be answered without waiting for a worker to come free.
    QList<QNetworkAccessManager*> clients;
    QList<QNetworkReply*> replies;
    QElapsedTimer elapsed;
    elapsed.start();
    QNetworkRequest request(QUrl(m_service.updateUrl() + "orvel/archive/55?pagesize=1"));
    request.setSslConfiguration(m_service.sslConfiguration());
    for (int i = 0; i < 20; ++i) {
        clients << new QNetworkAccessManager(this);
        replies << clients.last()->get(request);
    }
    for (QNetworkReply* reply : replies) {
        if (!reply->isFinished())
            QVERIFY(QSignalSpy(reply, &QNetworkReply::finished).wait(20000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    }
    QCOMPARE(get(request.url().toString()).status, 200);
    // Far below the 10 s keep-alive timeout that a starved pool would have to wait out at least once.
    QVERIFY2(elapsed.elapsed() < 8000, qPrintable(QString::number(elapsed.elapsed())));
    qDeleteAll(clients);
}

void tst_DevService::stopsCleanlyOnSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void tst_DevService::stopsCleanlyOnSignals()
{
    QFETCH(int, signal);
    DevServiceProcess service;
    QVERIFY2(service.start(m_dir.filePath("state")), qPrintable(service.failure()));
    // An idle keep-alive connection must not hold the exit up.
    QNetworkAccessManager client;
    QNetworkRequest request(QUrl(service.updateUrl() + "orvel/archive/55?pagesize=1"));
    request.setSslConfiguration(service.sslConfiguration());
    QNetworkReply* reply = client.get(request);
    QVERIFY(QSignalSpy(reply, &QNetworkReply::finished).wait(20000));
    QCOMPARE(service.stopWith(signal), 0);
}

void tst_DevService::operatorSettings()
{
    // An operator's certificate and public address from a configuration file with relative paths; the command line's
    // --port 0 wins over the file's port.
    TestCertificateAuthority authority("Operator CA");
    writeFile(m_dir.filePath("operator/tls.pem"), authority.serverCertificatePem());
    writeFile(m_dir.filePath("operator/tls.key"), authority.serverKeyPem());
    const QString config = m_dir.filePath("operator/devservice.ini");
    const auto writeConfig = [&](const QByteArray& publish) {
        writeFile(config, "port=1\npublic-url=https://updates.example.test:9443/\ntls-cert=tls.pem\ntls-key=tls.key\n"
                          "launcher-version=2.0.40\npublish=" +
                              publish + "\n");
    };
    writeConfig("1.0=../builds/1.0");
    DevServiceProcess service;
    QVERIFY2(service.start(m_dir.filePath("state"), {"--config", config}), qPrintable(service.failure()));
    QCOMPARE(service.connectUrl(), QString("https://updates.example.test:9443/account/connect"));
    QCOMPARE(service.caCertificatesPath(), QString());

    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslCertificate::fromPath(authority.caCertificatePath()));
    const auto fetch = [&](const QString& path) {
        return httpsFetch(ssl, "GET", QUrl(QString("https://127.0.0.1:%1%2").arg(service.port()).arg(path)));
    };
    QVERIFY(fetch("/update/orvel/archive/55?pagesize=1").body.contains("\"2.0.40\""));
    QVERIFY(fetch("/account/api/Orvel/LauncherArtwork?api-version=2")
                .body.startsWith("\"https://updates.example.test:9443/account/artwork/"));

    // 1.0 is the newest build until the file names 1.1 too and SIGHUP publishes it, without a restart.
    const QString patch = "/update/orvel/patch?version=1.0&os=1&output=json";
    QCOMPARE(fetch(patch).body, QByteArray());
    writeConfig("1.0=../builds/1.0, 1.1=../builds/1.1");
    ::kill(static_cast<pid_t>(service.processId()), SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(QJsonDocument::fromJson(fetch(patch).body)["version"] == "1.1", 20000);

    // Access log lines: time (UTC), client address, request, status.
    const QRegularExpression line(
        R"(\n\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 127\.0\.0\.1 GET /update/orvel/archive/55\?pagesize=1 200 )");
    QVERIFY2(line.match(service.accessLog()).hasMatch(), service.accessLog().constData());
    QVERIFY(service.stop());
}

QTEST_MAIN(tst_DevService)
#include "tst_DevService.moc"
