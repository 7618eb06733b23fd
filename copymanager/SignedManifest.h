#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The manifest of the update being installed, as its publisher signed it. The launcher leaves the exact bytes it
// received and their signature in the download folder (ManifestSignature::kBodyFileName, kSignatureFileName); with a
// public key configured, the copy installs a file only when its size and SHA-256 match the manifest's entry for its
// path.
class SignedManifest
{
public:
    struct Entry
    {
        qint64 size = -1;
        QString sha256; // as the manifest gives it (64 hex digits when usable)
    };

    // The Ed25519 public key (standard Base64 of 32 bytes) from "[update] manifestPublicKey" of the deployment.ini
    // beside this program, else of /etc/xdg/orvel/deployment.ini: places only the administrator can change. Never
    // the environment or the user's files. Empty when none is configured.
    static QByteArray configuredPublicKey();

    // Checks the signature (standard Base64 of 64 bytes) over `body` with `publicKey` and reads the entries. False,
    // with the reason, for a missing or wrong signature, an unusable key, or a manifest without a valid file list.
    bool load(const QByteArray& body, const QByteArray& signature, const QByteArray& publicKey, QString* reason);

    // The entry for a relative path ("a/b.txt"), or nullptr when the manifest does not list it.
    const Entry* entry(const QString& path) const;

    // True when `manifest` (the liveupdate.json to be installed) holds the same JSON as the signed bytes.
    bool sameContent(const QByteArray& manifest) const;

private:
    QByteArray m_body;
    QHash<QString, Entry> m_entries;
};
