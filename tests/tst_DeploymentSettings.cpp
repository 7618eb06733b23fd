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
                                  "ORVEL_CA_CERTIFICATES"};
const char* const kKeys[] = {"update", "account", "connect", "caCertificates"};

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
    void precedence_data();
    void precedence();
    void trailingSlashAndRelativeCaPath();
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

void tst_DeploymentSettings::precedence_data()
{
    QTest::addColumn<QString>("winner"); // the prefix of the values read; the file is set whenever one wins
    QTest::newRow("environment over file") << "/env/";
    QTest::newRow("file when environment unset") << "/ini/";
    QTest::newRow("compiled default when neither") << QString();
}

void tst_DeploymentSettings::precedence()
{
    QFETCH(QString, winner);

    // The same rule for each of the four settings, checked on all at once, with values read back unchanged.
    const auto value = [](const QString& prefix, int i) {
        return prefix + QString::number(i) + (i < 3 ? "/" : ".pem");
    };
    QMap<QString, QString> file;
    for (int i = 0; i < 4; ++i) {
        if (winner == "/env/")
            qputenv(kVariables[i], value("/env/", i).toUtf8());
        if (!winner.isEmpty())
            file.insert(kKeys[i], value("/ini/", i));
    }
    writeIni(m_folder.path(), file);

    const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    const QStringList actual = {s.updateServiceUrl(), s.accountServiceUrl(), s.connectUrl(), s.caCertificatesPath()};
    const QStringList defaults = {ORVEL_DEFAULT_UPDATE_SERVICE_URL, ORVEL_DEFAULT_ACCOUNT_SERVICE_URL,
                                  ORVEL_DEFAULT_CONNECT_URL, ORVEL_DEFAULT_CA_CERTIFICATES};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(actual[i], winner.isEmpty() ? defaults[i] : value(winner, i));
}

void tst_DeploymentSettings::trailingSlashAndRelativeCaPath()
{
    writeIni(m_folder.path(),
             {{"update", "https://svc.test/u"}, {"connect", "https://svc.test/c"}, {"caCertificates", "certs/a.pem"}});
    qputenv("ORVEL_ACCOUNT_SERVICE_URL", "https://svc.test/a/");
    const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    // Base URLs end with one "/"; the connect page is opened as given.
    QCOMPARE(s.updateServiceUrl(), QString("https://svc.test/u/"));
    QCOMPARE(s.accountServiceUrl(), QString("https://svc.test/a/"));
    QCOMPARE(s.connectUrl(), QString("https://svc.test/c"));
    // A relative CA path is taken from the launcher's folder.
    QCOMPARE(s.caCertificatesPath(), m_folder.filePath("certs/a.pem"));
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

    QTest::newRow("CA file missing: untrusted") << false << false;
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
