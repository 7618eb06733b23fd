#include "TokenClaims.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include "ServiceLogging.h"

QMap<QString, QVariant> decodeTokenClaims(const QByteArray& token)
{
    if (token.isEmpty())
        return {};
    const QList<QByteArray> segments = token.split('.');
    if (segments.size() < 3)
        return {};
    const QByteArray payload =
        QString::fromUtf8(QByteArray::fromBase64(segments.at(1), QByteArray::Base64UrlEncoding)).toUtf8();
    if (payload.isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (document.isNull() || error.error != QJsonParseError::NoError) {
        qCDebug(lcService) << "Failed to Parse Json File";
        return {};
    }
    return document.toVariant().toMap();
}
