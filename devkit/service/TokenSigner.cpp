#include "TokenSigner.h"

#include <QFile>
#include <QJsonDocument>
#include <QList>

#include <cryptopp/hmac.h>
#include <cryptopp/misc.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

namespace {
constexpr int kSecretSize = 32;
const QByteArray::Base64Options kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray encodeSegment(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64(kBase64Url);
}

QJsonObject decodeSegment(const QByteArray& segment)
{
    const auto decoded = QByteArray::fromBase64Encoding(segment, QByteArray::Base64UrlEncoding |
                                                                     QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded, &parseError);
    return parseError.error == QJsonParseError::NoError ? document.object() : QJsonObject();
}
} // namespace

bool TokenSigner::loadOrCreateSecret(const QString& path, QString* error)
{
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        m_secret = file.readAll();
        if (m_secret.size() < kSecretSize) {
            *error = QStringLiteral("%1 holds no usable secret; remove it to make a new one").arg(path);
            return false;
        }
        return true;
    }
    m_secret.resize(kSecretSize);
    CryptoPP::AutoSeededRandomPool random;
    random.GenerateBlock(reinterpret_cast<CryptoPP::byte*>(m_secret.data()), kSecretSize);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || file.write(m_secret) != kSecretSize) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray TokenSigner::sign(const QByteArray& signingInput) const
{
    CryptoPP::HMAC<CryptoPP::SHA256> hmac(reinterpret_cast<const CryptoPP::byte*>(m_secret.constData()),
                                          static_cast<size_t>(m_secret.size()));
    QByteArray mac(static_cast<int>(hmac.DigestSize()), '\0');
    hmac.CalculateDigest(reinterpret_cast<CryptoPP::byte*>(mac.data()),
                         reinterpret_cast<const CryptoPP::byte*>(signingInput.constData()),
                         static_cast<size_t>(signingInput.size()));
    return mac;
}

QByteArray TokenSigner::issue(const QJsonObject& claims) const
{
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("HS256")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    const QByteArray signingInput = encodeSegment(header) + '.' + encodeSegment(claims);
    return signingInput + '.' + sign(signingInput).toBase64(kBase64Url);
}

QJsonObject TokenSigner::verify(const QByteArray& token, qint64 now) const
{
    const QList<QByteArray> segments = token.split('.');
    if (segments.size() != 3 || m_secret.isEmpty())
        return {};
    if (decodeSegment(segments.at(0)).value(QStringLiteral("alg")).toString() != QLatin1String("HS256"))
        return {};
    const auto signature = QByteArray::fromBase64Encoding(segments.at(2), QByteArray::Base64UrlEncoding |
                                                                              QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray expected = sign(segments.at(0) + '.' + segments.at(1));
    if (!signature || signature.decoded.size() != expected.size() ||
        !CryptoPP::VerifyBufsEqual(reinterpret_cast<const CryptoPP::byte*>(signature.decoded.constData()),
                                   reinterpret_cast<const CryptoPP::byte*>(expected.constData()),
                                   static_cast<size_t>(expected.size())))
        return {};
    const QJsonObject claims = decodeSegment(segments.at(1));
    const QJsonValue expiry = claims.value(QStringLiteral("exp"));
    if (!expiry.isDouble() || expiry.toDouble() <= static_cast<double>(now))
        return {};
    return claims;
}
