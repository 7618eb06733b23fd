#pragma once

#include <QByteArray>
#include <QString>

// Signs the manifest answers of the update service with Ed25519. The private key is a PKCS #8 PEM file as
// `openssl genpkey -algorithm ed25519` writes it: the operator's, or one the service makes in its state folder.
class ManifestSigner
{
public:
    // Reads the key at `path`; with `bCreate`, a missing file is made with a new key first (readable by the owner
    // only). False with `error` set when the file cannot be read or holds no Ed25519 private key.
    bool load(const QString& path, bool bCreate, QString* error);

    // Standard Base64 of the 64-byte signature over exactly `body`: the value of the "X-Orvel-Signature" header.
    QByteArray signatureBase64(const QByteArray& body) const;
    // Standard Base64 of the 32-byte raw public key: what launchers are configured with.
    QString publicKeyBase64() const { return QString::fromLatin1(m_publicKey.toBase64()); }

private:
    QByteArray m_seed; // the 32-byte private key
    QByteArray m_publicKey;
};
