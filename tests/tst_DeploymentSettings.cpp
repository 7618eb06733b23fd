// Where the services are: environment over deployment.ini over compiled defaults, and extra CA certificates.
#include <QNetworkProxyFactory>
#include <QSettings>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QtTest>

#include "DeploymentSettings.h"
#include "NetworkWorker.h"
#include "TestHttpsServer.h"

using namespace OrvelTest;

namespace {

const char* const kVariables[] = {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL", "ORVEL_CONNECT_URL",
                                  "ORVEL_CA_CERTIFICATES"};

void writeIni(const QString& folder, const QMap<QString, QString>& services)
{
    QSettings ini(folder + "/deployment.ini", QSettings::IniFormat);
    ini.beginGroup("services");
    for (auto it = services.cbegin(); it != services.cend(); ++it)
        ini.setValue(it.key(), it.value());
}

bool fetches(const TestHttpsServer& server)
{
    NetworkWorker worker(nullptr, false);
    worker.get(QNetworkRequest(server.url("ok")));
    return worker.isSuccess();
}

} // namespace

class tst_DeploymentSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void precedence_data();
    void precedence();
    void trailingSlash_data();
    void trailingSlash();
    void caPathRelativeToLauncherFolder();

    void missingCaFileLeavesServerUntrusted();
    void caFileMakesServerTrusted();
    void preloadedSystemRootsAreKept();
    void applyToProcessUsesSystemProxy();

private:
    QTemporaryDir m_folder;
};

void tst_DeploymentSettings::init()
{
    for (const char* v : kVariables)
        qunsetenv(v);
    QFile::remove(m_folder.filePath("deployment.ini"));
}

void tst_DeploymentSettings::cleanup()
{
    init();
}

void tst_DeploymentSettings::precedence_data()
{
    QTest::addColumn<QString>("env");
    QTest::addColumn<QString>("ini");
    QTest::addColumn<int>("winner"); // 0 environment, 1 file, 2 compiled default

    QTest::newRow("environment over file") << QString("https://env.test/u/") << "https://ini.test/u/" << 0;
    QTest::newRow("environment alone") << QString("https://env.test/u/") << "" << 0;
    QTest::newRow("file when environment unset") << QString("") << "https://ini.test/u/" << 1;
    QTest::newRow("compiled default when neither") << QString("") << "" << 2;
}

void tst_DeploymentSettings::precedence()
{
    QFETCH(QString, env);
    QFETCH(QString, ini);
    QFETCH(int, winner);

    // The same rule for each of the four settings, checked on all at once.
    const QStringList keys = {"update", "account", "connect", "caCertificates"};
    const QStringList defaults = {ORVEL_DEFAULT_UPDATE_SERVICE_URL, ORVEL_DEFAULT_ACCOUNT_SERVICE_URL,
                                  ORVEL_DEFAULT_CONNECT_URL, ORVEL_DEFAULT_CA_CERTIFICATES};
    QMap<QString, QString> file;
    for (int i = 0; i < 4; ++i) {
        const QString suffix = QString::number(i);
        if (!env.isEmpty())
            qputenv(kVariables[i], (i == 3 ? "/env/ca" + suffix + ".pem" : env + suffix + "/").toUtf8());
        if (!ini.isEmpty())
            file.insert(keys[i], i == 3 ? "/ini/ca" + suffix + ".pem" : ini + suffix + "/");
    }
    writeIni(m_folder.path(), file);

    const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    const QStringList actual = {s.updateServiceUrl(), s.accountServiceUrl(), s.connectUrl(), s.caCertificatesPath()};
    for (int i = 0; i < 4; ++i) {
        const QString suffix = QString::number(i);
        QString expected;
        if (winner == 0)
            expected = i == 3 ? "/env/ca" + suffix + ".pem" : env + suffix + "/";
        else if (winner == 1)
            expected = i == 3 ? "/ini/ca" + suffix + ".pem" : ini + suffix + "/";
        else
            expected = defaults[i];
        QCOMPARE(actual[i], expected);
    }
}

void tst_DeploymentSettings::trailingSlash_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("connect");

    QTest::newRow("base without slash") << QString("https://svc.test/update") << QString("https://svc.test/update/")
                                        << "https://svc.test/update";
    QTest::newRow("base with slash") << QString("https://svc.test/update/") << QString("https://svc.test/update/")
                                     << "https://svc.test/update/";
    QTest::newRow("host only") << QString("https://svc.test") << QString("https://svc.test/") << "https://svc.test";
}

void tst_DeploymentSettings::trailingSlash()
{
    QFETCH(QString, given);
    QFETCH(QString, base);
    QFETCH(QString, connect);

    // From the file as from the environment.
    writeIni(m_folder.path(), {{"update", given}, {"connect", given}});
    qputenv("ORVEL_ACCOUNT_SERVICE_URL", given.toUtf8());
    const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    QCOMPARE(s.updateServiceUrl(), base);
    QCOMPARE(s.accountServiceUrl(), base);
    // The connect page is opened as given.
    QCOMPARE(s.connectUrl(), connect);
    QVERIFY(DeploymentSettings::load(m_folder.path() + "/nowhere").updateServiceUrl().endsWith('/'));
}

void tst_DeploymentSettings::caPathRelativeToLauncherFolder()
{
    writeIni(m_folder.path(), {{"caCertificates", "certs/extra.pem"}});
    QCOMPARE(DeploymentSettings::load(m_folder.path()).caCertificatesPath(), m_folder.filePath("certs/extra.pem"));
}

void tst_DeploymentSettings::missingCaFileLeavesServerUntrusted()
{
    TestHttpsServer server(TestHttpsServer::Trust::Untrusted);
    server.setRoute("/ok", TestReply::text(200, "ok"));
    QVERIFY(server.start());

    qputenv("ORVEL_CA_CERTIFICATES", QFile::encodeName(m_folder.filePath("missing.pem")));
    QVERIFY(!DeploymentSettings::load(m_folder.path()).installCaCertificates());
    QVERIFY(!fetches(server));

    QFile empty(m_folder.filePath("empty.pem"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    qputenv("ORVEL_CA_CERTIFICATES", QFile::encodeName(empty.fileName()));
    QVERIFY(!DeploymentSettings::load(m_folder.path()).installCaCertificates());
    QVERIFY(!fetches(server));
}

void tst_DeploymentSettings::caFileMakesServerTrusted()
{
    TestHttpsServer server(TestHttpsServer::Trust::Untrusted);
    server.setRoute("/ok", TestReply::text(200, "ok"));
    QVERIFY(server.start());
    QVERIFY(!fetches(server));

    const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    writeIni(m_folder.path(), {{"caCertificates", server.caCertificatePath()}});
    const DeploymentSettings settings = DeploymentSettings::load(m_folder.path());
    QVERIFY(settings.installCaCertificates());
    QVERIFY(fetches(server));

    // The system's own roots stay trusted next to the extra one, and a second install adds nothing.
    const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
    for (const QSslCertificate& root : system)
        QVERIFY(trusted.contains(root));
    QVERIFY(settings.installCaCertificates());
    QCOMPARE(QSslConfiguration::defaultConfiguration().caCertificates().size(), trusted.size());
}

void tst_DeploymentSettings::preloadedSystemRootsAreKept()
{
    TestHttpsServer server(TestHttpsServer::Trust::Untrusted);
    server.setRoute("/ok", TestReply::text(200, "ok"));
    QVERIFY(server.start());

    writeIni(m_folder.path(), {{"caCertificates", server.caCertificatePath()}});
    const DeploymentSettings settings = DeploymentSettings::load(m_folder.path());
    settings.preloadSystemCaCertificates();
    settings.preloadSystemCaCertificates(); // one load at a time; the second call is a no-op
    QVERIFY(settings.installCaCertificates());
    QVERIFY(fetches(server));
    const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
    for (const QSslCertificate& root : QSslConfiguration::systemCaCertificates())
        QVERIFY(trusted.contains(root));
}

void tst_DeploymentSettings::applyToProcessUsesSystemProxy()
{
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    DeploymentSettings::applyToProcess();
    QVERIFY(QNetworkProxyFactory::usesSystemConfiguration());
}

QTEST_MAIN(tst_DeploymentSettings)
#include "tst_DeploymentSettings.moc"
