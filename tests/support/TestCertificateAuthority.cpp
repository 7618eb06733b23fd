#include "TestCertificateAuthority.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

#include "DevCertificates.h"

namespace OrvelTest {

TestCertificateAuthority::TestCertificateAuthority(const QString& commonName, bool bTrustedByDefault)
{
    DevCertificates certificates(m_dir.path(), commonName);
    QString error;
    m_valid = m_dir.isValid() && certificates.ensure(&error);
    if (!m_valid)
        qWarning("Test certificate authority: %s", qPrintable(error));
    for (const auto& [path, pem] : {std::pair{certificates.serverCertificatePath(), &m_serverCertificate},
                                    std::pair{certificates.serverKeyPath(), &m_serverKey}}) {
        QFile file(path);
        *pem = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    if (bTrustedByDefault) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(QSslCertificate::fromPath(caCertificatePath()));
        QSslConfiguration::setDefaultConfiguration(config);
    }
}

TestCertificateAuthority& TestCertificateAuthority::trusted()
{
    static TestCertificateAuthority ca(QStringLiteral("Orvel Trusted Test CA"), true);
    return ca;
}

} // namespace OrvelTest
