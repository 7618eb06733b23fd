#include "DeploymentSettings.h"

#include <future>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkProxyFactory>
#include <QSet>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>

#include "InstallLayout.h"
#include "ManifestSignature.h"
#include "NetworkAccess.h"
#include "ServiceLogging.h"

namespace {

QString withTrailingSlash(QString url)
{
    if (!url.isEmpty() && !url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url;
}

// Environment first, then deployment.ini, then the compiled default.
QString pick(const char* variable, const QSettings& ini, const char* key, const char* compiledDefault,
             const char* group = "services")
{
    const QString fromEnvironment = qEnvironmentVariable(variable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString fromFile = ini.value(QLatin1String(group) + QLatin1Char('/') + QLatin1String(key)).toString();
    if (!fromFile.isEmpty())
        return fromFile;
    return QString::fromUtf8(compiledDefault);
}

// The system's roots. Where they are kept as one bundle beside one file each (Debian's /etc/ssl/certs, both written by
// update-ca-certificates), Qt's own list parses every root twice; the bundle alone is the same roots at half the cost,
// which the launcher's start waits for.
QList<QSslCertificate> loadSystemRoots()
{
#ifdef Q_OS_LINUX
    const QList<QSslCertificate> bundle =
        QSslCertificate::fromPath(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"), QSsl::Pem);
    if (!bundle.isEmpty())
        return bundle;
#endif
    return QSslConfiguration::systemCaCertificates();
}

std::future<QList<QSslCertificate>>& systemRootsLoading()
{
    static std::future<QList<QSslCertificate>> loading;
    return loading;
}

} // namespace

DeploymentSettings DeploymentSettings::load(const QString& programDir)
{
    // The first file found is the deployment's; none at all leaves the compiled defaults.
    const QStringList candidates = InstallLayout::deploymentFileCandidates(programDir);
    QString file = candidates.first();
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            file = candidate;
            break;
        }
    }
    const QDir dir = QFileInfo(file).absoluteDir();
    const QSettings ini(file, QSettings::IniFormat);
    DeploymentSettings s;
    s.m_updateServiceUrl =
        withTrailingSlash(pick("ORVEL_UPDATE_SERVICE_URL", ini, "update", ORVEL_DEFAULT_UPDATE_SERVICE_URL));
    s.m_accountServiceUrl =
        withTrailingSlash(pick("ORVEL_ACCOUNT_SERVICE_URL", ini, "account", ORVEL_DEFAULT_ACCOUNT_SERVICE_URL));
    s.m_connectUrl = pick("ORVEL_CONNECT_URL", ini, "connect", ORVEL_DEFAULT_CONNECT_URL);
    const QString ca = pick("ORVEL_CA_CERTIFICATES", ini, "caCertificates", ORVEL_DEFAULT_CA_CERTIFICATES);
    s.m_caCertificatesPath = ca.isEmpty() ? QString() : QDir::cleanPath(dir.absoluteFilePath(ca));
    if (!qEnvironmentVariableIsEmpty("ORVEL_CA_CERTIFICATES"))
        s.m_caCertificatesPath = QDir::cleanPath(QDir::current().absoluteFilePath(ca));
    s.m_manifestPublicKey =
        pick("ORVEL_MANIFEST_PUBLIC_KEY", ini, "manifestPublicKey", ORVEL_DEFAULT_MANIFEST_PUBLIC_KEY, "update")
            .trimmed();
    // A key means signed manifests, whose hashes are SHA-256. Any other value than "sha256" still asks for content
    // checks, so a typing error never switches them off.
    const QString algorithm =
        pick("ORVEL_HASH_ALGORITHM", ini, "hashAlgorithm", ORVEL_DEFAULT_HASH_ALGORITHM, "update").trimmed();
    if (!algorithm.isEmpty() && algorithm.compare(QLatin1String("sha256"), Qt::CaseInsensitive) != 0)
        qCDebug(lcService).noquote() << "Unknown hash algorithm" << algorithm << "- checking SHA-256";
    if (!s.m_manifestPublicKey.isEmpty() && !ManifestSignature::isWellFormedPublicKey(s.m_manifestPublicKey))
        qCDebug(lcService).noquote() << "The manifest public key is not the standard Base64 of 32 bytes: every "
                                        "manifest will be refused";
    s.m_hashAlgorithm = algorithm.isEmpty() && s.m_manifestPublicKey.isEmpty() ? QString() : QStringLiteral("sha256");
    return s;
}

const DeploymentSettings& DeploymentSettings::current()
{
    static const DeploymentSettings settings = load(QCoreApplication::applicationDirPath());
    return settings;
}

bool DeploymentSettings::installCaCertificates() const
{
    static QSet<QString> installed;
    if (m_caCertificatesPath.isEmpty() || installed.contains(m_caCertificatesPath))
        return true;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(m_caCertificatesPath, QSsl::Pem);
    if (extra.isEmpty()) {
        qCDebug(lcService).noquote() << "No CA certificates in" << m_caCertificatesPath;
        return false;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    // Setting the list explicitly ends Qt's on-demand loading of the system's roots: keep them in the list.
    QList<QSslCertificate> authorities = config.caCertificates();
    std::future<QList<QSslCertificate>>& loading = systemRootsLoading();
    const QList<QSslCertificate> systemRoots = loading.valid() ? loading.get() : loadSystemRoots();
    for (const QSslCertificate& c : systemRoots + extra) {
        if (!authorities.contains(c))
            authorities.append(c);
    }
    config.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(config);
    // Connections kept from earlier requests still trust the old list.
    NetworkAccess::clearThreadConnections();
    installed.insert(m_caCertificatesPath);
    qCDebug(lcService).noquote() << "Trusting" << extra.size() << "CA certificate(s) from" << m_caCertificatesPath;
    return true;
}

void DeploymentSettings::applyToProcess()
{
    static bool applied = false;
    if (applied)
        return;
    applied = true;
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    current().installCaCertificates();
}

void DeploymentSettings::preloadSystemCaCertificates() const
{
    std::future<QList<QSslCertificate>>& loading = systemRootsLoading();
    if (loading.valid() || m_caCertificatesPath.isEmpty())
        return;
    loading = std::async(std::launch::async, &loadSystemRoots);
}
