#include "SignedManifest.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "ManifestSignature.h"

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
    if (!ManifestSignature::verify(body, signature.trimmed(), QString::fromLatin1(publicKey), reason))
        return false;

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
        if (!path.isString() || !size.isDouble() || size.toDouble() < 0 || hash.isEmpty())
            continue;
        m_entries.insert(path.toString(), Entry{static_cast<qint64>(size.toDouble()), hash});
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
