// Where the services are: environment over deployment.ini over compiled defaults, and extra CA certificates.
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
}

void tst_DeploymentSettings::precedence_data()
{
    QTest::addColumn<QString>("winner"); // the file is written whenever the environment or the file wins
    QTest::newRow("environment over file") << "env";
    QTest::newRow("file when environment unset") << "ini";
    QTest::newRow("compiled default when neither") << QString();
}

void tst_DeploymentSettings::precedence()
{
    QFETCH(QString, winner);

    // The same rule for each of the four settings, checked on all at once. Base URLs end with one "/", the
    // connect page is used as given, a relative CA path is taken from the launcher's folder.
    const QStringList env = {"https://env.test/u", "https://env.test/a/", "https://env.test/c", "/env/ca.pem"};
    const QStringList ini = {"https://ini.test/u", "https://ini.test/a", "https://ini.test/c", "certs/ca.pem"};
    QStringList expected = {ORVEL_DEFAULT_UPDATE_SERVICE_URL, ORVEL_DEFAULT_ACCOUNT_SERVICE_URL,
                            ORVEL_DEFAULT_CONNECT_URL, ORVEL_DEFAULT_CA_CERTIFICATES};
    if (winner == "env")
        expected = QStringList{"https://env.test/u/", "https://env.test/a/", "https://env.test/c", "/env/ca.pem"};
    if (winner == "ini")
        expected = QStringList{"https://ini.test/u/", "https://ini.test/a/", "https://ini.test/c",
                               m_folder.filePath("certs/ca.pem")};
    QMap<QString, QString> file;
    for (int i = 0; i < 4; ++i) {
        if (winner == "env")
            qputenv(kVariables[i], env[i].toUtf8());
        if (!winner.isEmpty())
            file.insert(kKeys[i], ini[i]);
    }
    writeIni(m_folder.path(), file);

    const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
    QCOMPARE(QStringList({s.updateServiceUrl(), s.accountServiceUrl(), s.connectUrl(), s.caCertificatesPath()}),
             expected);
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
