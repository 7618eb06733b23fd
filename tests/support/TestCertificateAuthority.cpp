#include "TestCertificateAuthority.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

#include "DevCertificates.h"

namespace OrvelTest {

namespace {
QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TestCertificateAuthority::TestCertificateAuthority(const QString& commonName)
{
    DevCertificates certificates(m_dir.path(), commonName);
    QString error;
    m_valid = m_dir.isValid() && certificates.ensure(&error);
    if (!m_valid)
        qWarning("Test certificate authority: %s", qPrintable(error));
    m_serverCertificate = fileBytes(certificates.serverCertificatePath());
    m_serverKey = fileBytes(certificates.serverKeyPath());
}

TestCertificateAuthority& TestCertificateAuthority::trusted()
{
    static TestCertificateAuthority ca(QStringLiteral("Orvel Trusted Test CA"));
    static const bool added = [] {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(QSslCertificate::fromPath(ca.caCertificatePath()));
        QSslConfiguration::setDefaultConfiguration(config);
        return true;
    }();
    Q_UNUSED(added);
    return ca;
}

} // namespace OrvelTest
