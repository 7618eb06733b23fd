#include "ManifestSignature.h"

#include <cryptopp/xed25519.h>

const char* const ManifestSignature::kHeader = "X-Orvel-Signature";

namespace {

// Strict standard Base64 (no URL alphabet, no stray characters) of exactly `size` bytes; empty otherwise.
QByteArray decodeExactly(const QByteArray& text, int size)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == size ? decoded.decoded : QByteArray();
}

bool fail(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
    return false;
}

} // namespace

bool ManifestSignature::isWellFormedPublicKey(const QString& publicKeyBase64)
{
    return !decodeExactly(publicKeyBase64.toLatin1(), CryptoPP::ed25519PublicKey::PUBLIC_KEYLENGTH).isEmpty();
}

bool ManifestSignature::verify(const QByteArray& body, const QByteArray& signatureBase64,
                               const QString& publicKeyBase64, QString* reason)
{
    const QByteArray key = decodeExactly(publicKeyBase64.toLatin1(), CryptoPP::ed25519PublicKey::PUBLIC_KEYLENGTH);
    if (key.isEmpty())
        return fail(reason, QStringLiteral("the public key is not the standard Base64 of 32 bytes"));
    if (signatureBase64.isEmpty())
        return fail(reason, QStringLiteral("the answer carries no %1 header").arg(QLatin1String(kHeader)));
    const QByteArray signature = decodeExactly(signatureBase64, CryptoPP::ed25519Verifier::SIGNATURE_LENGTH);
    if (signature.isEmpty())
        return fail(reason, QStringLiteral("the signature is not the standard Base64 of 64 bytes"));
    bool bValid = false;
    try {
        const CryptoPP::ed25519Verifier verifier(reinterpret_cast<const CryptoPP::byte*>(key.constData()));
        bValid = verifier.VerifyMessage(
            reinterpret_cast<const CryptoPP::byte*>(body.constData()), static_cast<size_t>(body.size()),
            reinterpret_cast<const CryptoPP::byte*>(signature.constData()), static_cast<size_t>(signature.size()));
    } catch (const CryptoPP::Exception&) {
        bValid = false;
    }
    if (!bValid)
        return fail(reason, QStringLiteral("the signature does not verify with the configured public key"));
    return true;
}
