#pragma once

#include <QByteArray>
#include <QString>

// Checks the Ed25519 signature the update service sends with each manifest answer: the response header
// "X-Orvel-Signature" holds the standard Base64 of the 64-byte signature over the exact body bytes, and the
// deployment names the public key as the standard Base64 of the 32-byte raw key. Used by the launcher before it
// downloads anything and by the copy helper before it installs anything. No Crypto++ type or exception leaves
// this class.
class ManifestSignature
{
public:
    // The response header that carries the signature.
    static const char* const kHeader;
    // What the launcher leaves at the top of the download folder for the copy helper's own check: the exact bytes of
    // the manifest answer and its signature header. Names starting with ".orvel-" are never installed.
    static constexpr char kBodyFileName[] = ".orvel-manifest.json";
    static constexpr char kSignatureFileName[] = ".orvel-manifest.sig";

    // True when `signatureBase64` is a valid signature of `body` under `publicKeyBase64`. Otherwise false and,
    // with `reason` given, why: the public key is not Base64 of 32 bytes, the signature is missing, the signature
    // is not Base64 of 64 bytes, or it does not verify.
    static bool verify(const QByteArray& body, const QByteArray& signatureBase64, const QString& publicKeyBase64,
                       QString* reason = nullptr);

    // True when `publicKeyBase64` is the standard Base64 of 32 bytes; whether those name a usable key shows when
    // verifying.
    static bool isWellFormedPublicKey(const QString& publicKeyBase64);
};
