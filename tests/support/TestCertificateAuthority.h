#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace OrvelTest {

// A throwaway certificate authority for one test run, made by the dev kit's certificate code (EC P-256), with one
// server certificate for 127.0.0.1 and localhost. Keys never leave the temporary folder of the object.
class TestCertificateAuthority
{
public:
    explicit TestCertificateAuthority(const QString& commonName, bool bTrustedByDefault = false);
    Q_DISABLE_COPY(TestCertificateAuthority)

    // PEM file of the CA certificate, alive as long as this object; empty when the CA could not be made.
    QString caCertificatePath() const { return m_valid ? m_dir.filePath(QStringLiteral("ca.pem")) : QString(); }
    // The server certificate, signed by this CA and followed by it, and its private key (both PEM). Kept in memory:
    // the folder may be gone by then when the CA was made inside a TempSettingsHome (TMPDIR) that has ended since.
    QByteArray serverCertificatePem() const { return m_serverCertificate; }
    QByteArray serverKeyPem() const { return m_serverKey; }

    // The process-wide CA that test servers use unless told otherwise, trusted by default from its first use.
    static TestCertificateAuthority& trusted();

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
    QByteArray m_serverCertificate;
    QByteArray m_serverKey;
};

} // namespace OrvelTest
