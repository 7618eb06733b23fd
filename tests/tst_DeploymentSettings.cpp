// Where the services are: environment over deployment.ini (beside the program, then in the system's configuration
// folders) over compiled defaults, and extra CA certificates.
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
                                  "ORVEL_CA_CERTIFICATES",    "ORVEL_MANIFEST_PUBLIC_KEY", "ORVEL_HASH_ALGORITHM"};

void writeIni(const QString& folder, const QMap<QString, QString>& services)
{
    QDir().mkpath(folder);
    QSettings ini(folder + "/deployment.ini", QSettings::IniFormat);
    ini.beginGroup("services");
    for (auto it = services.cbegin(); it != services.cend(); ++it)
        ini.setValue(it.key(), it.value());
}

} // namespace

class tst_DeploymentSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { init(); }
    void precedence();
    void updateChecks_data();
    void updateChecks();
    void besideThenSystemFolders();
    void caFileTrustsServer_data();
    void caFileTrustsServer();

private:
    QTemporaryDir m_folder;
};

void tst_DeploymentSettings::init()
{
    for (const char* v : kVariables)
        qunsetenv(v);
    QFile::remove(m_folder.filePath("deployment.ini"));
    // Never the machine's own /etc/xdg.
    QDir(m_folder.filePath("xdg")).removeRecursively();
    qputenv("XDG_CONFIG_DIRS",
            (m_folder.filePath("xdg/first") + ":relative:" + m_folder.filePath("xdg/second")).toUtf8());
}

void tst_DeploymentSettings::precedence()
{
    // Each of the four settings from the first source that has it: the environment, deployment.ini, the compiled
    // default. Base URLs end with one "/", the connect page is used as given, a relative CA path is taken from the
    // launcher's folder.
    const auto load = [this] {
        const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
        return QStringList{s.updateServiceUrl(), s.accountServiceUrl(), s.connectUrl(), s.caCertificatesPath()};
    };
    QCOMPARE(load(), QStringList({ORVEL_DEFAULT_UPDATE_SERVICE_URL, ORVEL_DEFAULT_ACCOUNT_SERVICE_URL,
                                  ORVEL_DEFAULT_CONNECT_URL, ORVEL_DEFAULT_CA_CERTIFICATES}));
    writeIni(m_folder.path(), {{"update", "https://ini.test/u"},
                               {"account", "https://ini.test/a"},
                               {"connect", "https://ini.test/c"},
                               {"caCertificates", "certs/ca.pem"}});
    QCOMPARE(load(), QStringList({"https://ini.test/u/", "https://ini.test/a/", "https://ini.test/c",
                                  m_folder.filePath("certs/ca.pem")}));
    const QStringList environment = {"https://env.test/u/", "https://env.test/a/", "https://env.test/c", "/env/ca.pem"};
    for (int i = 0; i < 4; ++i)
        qputenv(kVariables[i], environment[i].toUtf8());
    QCOMPARE(load(), environment);
}

void tst_DeploymentSettings::updateChecks_data()
{
    QTest::addColumn<QStringList>("given");    // ORVEL_MANIFEST_PUBLIC_KEY, [update] manifestPublicKey, hashAlgorithm
    QTest::addColumn<QStringList>("expected"); // hashAlgorithm(), manifestPublicKey()

    QTest::newRow("key in file implies sha256") << QStringList{"", "a2V5", ""} << QStringList{"sha256", "a2V5"};
    QTest::newRow("environment over file") << QStringList{"ZW52", "a2V5", ""} << QStringList{"sha256", "ZW52"};
    QTest::newRow("unknown algorithm still checks")
        << QStringList{"", "", "md5"} << QStringList{"sha256", ORVEL_DEFAULT_MANIFEST_PUBLIC_KEY};
}

void tst_DeploymentSettings::updateChecks()
{
    QFETCH(QStringList, given);
    QFETCH(QStringList, expected);

    qputenv("ORVEL_MANIFEST_PUBLIC_KEY", given[0].toUtf8());
    QSettings ini(m_folder.filePath("deployment.ini"), QSettings::IniFormat);
    ini.setValue("update/manifestPublicKey", given[1]);
    ini.setValue("update/hashAlgorithm", given[2]);
    ini.sync();
    const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    QCOMPARE(QStringList({s.hashAlgorithm(), s.manifestPublicKey()}), expected);
}

void tst_DeploymentSettings::besideThenSystemFolders()
{
    // The first file found is the deployment's, in the order: beside the program, then XDG_CONFIG_DIRS in order
    // (a relative entry is not a configuration folder).
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(m_folder.path());
    const auto restore = qScopeGuard([&] { QDir::setCurrent(cwd); });
    writeIni(m_folder.filePath("relative/orvel"), {{"update", "https://relative/"}});
    writeIni(m_folder.filePath("xdg/second/orvel"), {{"update", "https://second/"}, {"caCertificates", "ca.pem"}});
    DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    QCOMPARE(s.updateServiceUrl(), QString("https://second/"));
    QCOMPARE(s.caCertificatesPath(), m_folder.filePath("xdg/second/orvel/ca.pem"));
    writeIni(m_folder.filePath("xdg/first/orvel"), {{"connect", "https://first/c"}});
    s = DeploymentSettings::load(m_folder.path());
    QCOMPARE(s.connectUrl(), QString("https://first/c"));
    QCOMPARE(s.updateServiceUrl(), QString(ORVEL_DEFAULT_UPDATE_SERVICE_URL)); // files are not merged
    writeIni(m_folder.path(), {{"connect", "https://beside/c"}});
    QCOMPARE(DeploymentSettings::load(m_folder.path()).connectUrl(), QString("https://beside/c"));
}

void tst_DeploymentSettings::caFileTrustsServer_data()
{
    QTest::addColumn<bool>("caFile");
    QTest::addColumn<bool>("preload"); // the launcher parses the system's roots ahead, on a worker thread

    QTest::newRow("CA file missing") << false << false;
    QTest::newRow("CA file") << true << false;
    QTest::newRow("CA file, system roots preloaded") << true << true;
}

void tst_DeploymentSettings::caFileTrustsServer()
{
    QFETCH(bool, caFile);
    QFETCH(bool, preload);
    TestHttpsServer server(TestHttpsServer::Trust::Untrusted);
    server.setRoute("/ok", TestReply::text(200, "ok"));
    QVERIFY(server.start());
    const auto fetches = [&server] {
        NetworkWorker worker(nullptr, false);
        worker.get(QNetworkRequest(server.url("ok")));
        return worker.isSuccess();
    };
    QVERIFY(!fetches());

    writeIni(m_folder.path(), {{"caCertificates", caFile ? server.caCertificatePath() : "missing.pem"}});
    const DeploymentSettings settings = DeploymentSettings::load(m_folder.path());
    if (preload)
        settings.preloadSystemCaCertificates();
    QCOMPARE(settings.installCaCertificates(), caFile);
    QCOMPARE(fetches(), caFile);
    if (!caFile)
        return;

    // The system's own roots stay trusted next to the extra one, and a second install adds nothing.
    const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
    for (const QSslCertificate& root : QSslConfiguration::systemCaCertificates())
        QVERIFY(trusted.contains(root));
    settings.installCaCertificates();
    QCOMPARE(QSslConfiguration::defaultConfiguration().caCertificates().size(), trusted.size());
}

QTEST_MAIN(tst_DeploymentSettings)
#include "tst_DeploymentSettings.moc"
