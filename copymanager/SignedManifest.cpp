#include "SignedManifest.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <cryptopp/xed25519.h>

namespace {

constexpr int kPublicKeySize = 32;
constexpr int kSignatureSize = 64;

QByteArray strictBase64(const QByteArray& text, int size)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == size ? decoded.decoded : QByteArray();
}

bool isHex64(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

} // namespace

QByteArray SignedManifest::configuredPublicKey()
{
    // The system-wide file exists on Linux only; elsewhere the one beside the program is all there is.
    const QStringList files{QCoreApplication::applicationDirPath() + QStringLiteral("/deployment.ini"),
                            QStringLiteral("/etc/xdg/orvel/deployment.ini")};
    for (const QString& file : files) {
        if (!QFileInfo(file).isFile())
            continue;
        const QSettings settings(file, QSettings::IniFormat);
        const QByteArray key =
            settings.value(QStringLiteral("update/manifestPublicKey")).toString().trimmed().toLatin1();
        if (!key.isEmpty())
            return key;
    }
    return QByteArray();
}

bool SignedManifest::load(const QByteArray& body, const QByteArray& signature, const QByteArray& publicKey,
                          QString* reason)
{
    m_entries.clear();
    const QByteArray key = strictBase64(publicKey, kPublicKeySize);
    if (key.isEmpty()) {
        *reason = QStringLiteral("the configured public key is not the Base64 of 32 bytes");
        return false;
    }
    const QByteArray rawSignature = strictBase64(signature, kSignatureSize);
    if (rawSignature.isEmpty()) {
        *reason = QStringLiteral("the manifest's signature is missing or not the Base64 of 64 bytes");
        return false;
    }
    CryptoPP::ed25519::Verifier verifier(reinterpret_cast<const CryptoPP::byte*>(key.constData()));
    if (!verifier.VerifyMessage(reinterpret_cast<const CryptoPP::byte*>(body.constData()), body.size(),
                                reinterpret_cast<const CryptoPP::byte*>(rawSignature.constData()),
                                rawSignature.size())) {
        *reason = QStringLiteral("the manifest's signature does not verify");
        return false;
    }

    const QJsonValue list = QJsonDocument::fromJson(body).object().value(QStringLiteral("fileList"));
    if (!list.isArray()) {
        *reason = QStringLiteral("the signed manifest has no file list");
        return false;
    }
    for (const QJsonValue& item : list.toArray()) {
        const QJsonObject object = item.toObject();
        const QJsonValue path = object.value(QStringLiteral("path"));
        const QJsonValue size = object.value(QStringLiteral("size"));
        const QString hash = object.value(QStringLiteral("hash")).toString();
        // An entry we cannot check stays out of the table: its file will be refused.
        if (!path.isString() || !size.isDouble() || size.toDouble() < 0 || !isHex64(hash))
            continue;
        m_entries.insert(path.toString(), Entry{static_cast<qint64>(size.toDouble()), hash.toLower().toLatin1()});
    }
    m_body = body;
    return true;
}

const SignedManifest::Entry* SignedManifest::entry(const QString& path) const
{
    const auto it = m_entries.constFind(path);
    return it == m_entries.cend() ? nullptr : &it.value();
}

bool SignedManifest::sameContent(const QByteArray& manifest) const
{
    const QJsonDocument installed = QJsonDocument::fromJson(manifest);
    return !installed.isNull() && installed == QJsonDocument::fromJson(m_body);
}
