#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

namespace OrvelTest {

// A throwaway certificate authority made in-process for one test run (EC P-256, valid for a day), which issues
// server certificates for 127.0.0.1 and localhost. Keys never leave the temporary folder of the object.
class TestCertificateAuthority
{
public:
    explicit TestCertificateAuthority(const QString& commonName = QStringLiteral("Orvel Test CA"));
    ~TestCertificateAuthority();
    TestCertificateAuthority(const TestCertificateAuthority&) = delete;
    TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

    bool isValid() const;
    QByteArray caCertificatePem() const;
    // PEM file of the CA certificate, alive as long as this object.
    QString caCertificatePath() const;

    // A server certificate and its private key (both PEM) for 127.0.0.1 / localhost, signed by this CA.
    bool issueServerCertificate(QByteArray* certificatePem, QByteArray* privateKeyPem) const;

    // Adds the CA to QSslConfiguration::defaultConfiguration() (idempotent per object).
    void trustInDefaultConfiguration();

    // The process-wide CA that test servers use unless told otherwise; trusted on first use.
    static TestCertificateAuthority& trusted();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace OrvelTest
