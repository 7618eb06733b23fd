#pragma once

#include <QString>

// The service's TLS identity: a certificate authority kept in the state folder (so a browser or a test trusts it
// once) and a server certificate for 127.0.0.1 and localhost signed by it. The tests' servers make theirs the same way.
class DevCertificates
{
public:
    explicit DevCertificates(const QString& stateFolder,
                             const QString& authorityName = QStringLiteral("Orvel development CA"));

    // Creates what is missing, renews a server certificate that is unreadable, not from this authority or
    // about to expire. False with `error` set when files cannot be read or written.
    bool ensure(QString* error);

    QString caCertificatePath() const;
    QString serverCertificatePath() const; // server certificate followed by the authority's
    QString serverKeyPath() const;

private:
    QString m_folder;
    QString m_authorityName;
};
