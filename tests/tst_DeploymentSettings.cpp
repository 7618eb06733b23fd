// Where the services are: environment over deployment.ini (beside the program, then in the system's configuration
// folders) over compiled defaults, and extra CA certificates.
#include <QSslConfiguration>
#include <QtTest>

#include "DeploymentSettings.h"
#include "NetworkWorker.h"
#include "TestHttpsServer.h"

using namespace OrvelTest;

namespace {

const char* const kVariables[] = {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL", "ORVEL_CONNECT_URL",
                                  "ORVEL_CA_CERTIFICATES",    "ORVEL_MANIFEST_PUBLIC_KEY", "ORVEL_HASH_ALGORITHM"};

// `values` by "group/key".
void writeIni(const QString& folder, const QMap<QString, QString>& values)
{
    QDir().mkpath(folder);
    QSettings ini(folder + "/deployment.ini", QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        ini.setValue(it.key(), it.value());
}

} // namespace

class tst_DeploymentSettings : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (const char* v : kVariables)
            qunsetenv(v);
        QFile::remove(m_folder.filePath("deployment.ini"));
        // Never the machine's own /etc/xdg; a relative entry would be looked for from here.
        QDir(m_folder.filePath("xdg")).removeRecursively();
        QDir::setCurrent(m_folder.path());
        qputenv("XDG_CONFIG_DIRS",
                (m_folder.filePath("xdg/first") + ":relative:" + m_folder.filePath("xdg/second")).toUtf8());
    }

    void precedence()
    {
        // Each setting from the first source that has it: the environment, deployment.ini, the compiled default. Base
        // URLs end with one "/", the connect page is used as given, a relative CA path is taken from the launcher's
        // folder, and a manifest key means SHA-256 content checks. A key that is not 32 bytes is reported.
        const auto load = [this] {
            const DeploymentSettings s = DeploymentSettings::load(m_folder.path());
            return QStringList{s.updateServiceUrl(),   s.accountServiceUrl(), s.connectUrl(),
                               s.caCertificatesPath(), s.manifestPublicKey(), s.hashAlgorithm()};
        };
        QCOMPARE(load().mid(0, 5), QStringList({ORVEL_DEFAULT_UPDATE_SERVICE_URL, ORVEL_DEFAULT_ACCOUNT_SERVICE_URL,
                                                ORVEL_DEFAULT_CONNECT_URL, ORVEL_DEFAULT_CA_CERTIFICATES,
                                                ORVEL_DEFAULT_MANIFEST_PUBLIC_KEY}));
        writeIni(m_folder.path(), {{"services/update", "https://ini.test/u"},
                                   {"services/account", "https://ini.test/a"},
                                   {"services/connect", "https://ini.test/c"},
                                   {"services/caCertificates", "certs/ca.pem"},
                                   {"update/manifestPublicKey", QByteArray(32, 'i').toBase64()}});
        QCOMPARE(load(), QStringList({"https://ini.test/u/", "https://ini.test/a/", "https://ini.test/c",
                                      m_folder.filePath("certs/ca.pem"), QByteArray(32, 'i').toBase64(), "sha256"}));
        const QStringList environment = {"https://env.test/u/", "https://env.test/a/", "https://env.test/c",
                                         "/env/ca.pem", QByteArray(31, 'e').toBase64()};
        for (int i = 0; i < environment.size(); ++i)
            qputenv(kVariables[i], environment[i].toUtf8());
        QTest::ignoreMessage(QtDebugMsg,
                             "The manifest public key is not the standard Base64 of 32 bytes: every manifest "
                             "will be refused");
        QCOMPARE(load(), environment + QStringList{"sha256"});
    }

    void besideThenSystemFolders()
    {
        // The first file found is the deployment's, in the order: beside the program, then XDG_CONFIG_DIRS in order
        // (a relative entry is not a configuration folder). An unknown hash algorithm still asks for SHA-256 checks.
        writeIni(m_folder.filePath("relative/orvel"), {{"services/update", "https://relative/"}});
        writeIni(m_folder.filePath("xdg/second/orvel"), {{"services/update", "https://second/"},
                                                         {"services/caCertificates", "ca.pem"},
                                                         {"update/hashAlgorithm", "md5"}});
        DeploymentSettings s = DeploymentSettings::load(m_folder.path());
        QCOMPARE(QStringList({s.updateServiceUrl(), s.caCertificatesPath(), s.hashAlgorithm()}),
                 QStringList({"https://second/", m_folder.filePath("xdg/second/orvel/ca.pem"), "sha256"}));
        writeIni(m_folder.filePath("xdg/first/orvel"), {{"services/connect", "https://first/c"}});
        s = DeploymentSettings::load(m_folder.path());
        // Files are not merged.
        QCOMPARE(QStringList({s.connectUrl(), s.updateServiceUrl()}),
                 QStringList({"https://first/c", ORVEL_DEFAULT_UPDATE_SERVICE_URL}));
        writeIni(m_folder.path(), {{"services/connect", "https://beside/c"}});
        QCOMPARE(DeploymentSettings::load(m_folder.path()).connectUrl(), QString("https://beside/c"));
    }

    void caFileTrustsServer_data()
    {
        QTest::addColumn<bool>("caFile");
        QTest::addColumn<bool>("preload"); // the launcher parses the system's roots ahead, on a worker thread

        QTest::newRow("CA file missing") << false << false;
        QTest::newRow("CA file") << true << false;
        QTest::newRow("CA file, system roots preloaded") << true << true;
    }

    void caFileTrustsServer()
    {
        QFETCH(bool, caFile);
        QFETCH(bool, preload);
        // Without the roots an earlier row installed, so each row shows its own way of keeping them.
        QSslConfiguration none = QSslConfiguration::defaultConfiguration();
        none.setCaCertificates({});
        QSslConfiguration::setDefaultConfiguration(none);
        TestHttpsServer server(TestHttpsServer::Trust::Untrusted);
        server.setRoute("/ok", TestReply::text(200, "ok"));
        QVERIFY(server.start());
        writeIni(m_folder.path(), {{"services/caCertificates", caFile ? server.caCertificatePath() : "missing.pem"}});
        const DeploymentSettings settings = DeploymentSettings::load(m_folder.path());
        if (preload)
            settings.preloadSystemCaCertificates();
        QCOMPARE(settings.installCaCertificates(), caFile);
        NetworkWorker worker(nullptr, false);
        worker.get(QNetworkRequest(server.url("ok")));
        QCOMPARE(worker.isSuccess(), caFile);
        if (!caFile)
            return;

        // The system's own roots stay trusted next to the extra one, and a second install adds nothing.
        const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
        for (const QSslCertificate& root : QSslConfiguration::systemCaCertificates())
            QVERIFY(trusted.contains(root));
        settings.installCaCertificates();
        QCOMPARE(QSslConfiguration::defaultConfiguration().caCertificates().size(), trusted.size());
    }

private:
    QTemporaryDir m_folder;
};

QTEST_MAIN(tst_DeploymentSettings)
#include "tst_DeploymentSettings.moc"
