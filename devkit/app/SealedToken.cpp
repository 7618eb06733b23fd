#include "SealedToken.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include "CryptoUtil.h"
#include "SealingKey.h"

SignedInUser openSealedToken(const QString& text)
{
    SignedInUser user;
    const auto blob = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::Base64UrlEncoding |
                                                                          QByteArray::AbortOnBase64DecodingErrors);
    if (!blob || blob.decoded.isEmpty())
        return user;
    const QByteArray token = Verdant::CryptoUtil().decrypt(blob.decoded, SealingKey);
    const QList<QByteArray> segments = token.split('.');
    if (segments.size() != 3)
        return user;
    const auto payload = QByteArray::fromBase64Encoding(segments.at(1), QByteArray::Base64UrlEncoding |
                                                                            QByteArray::AbortOnBase64DecodingErrors);
    QJsonParseError parseError;
    const QJsonObject claims = QJsonDocument::fromJson(payload.decoded, &parseError).object();
    const QString email = claims.value(QStringLiteral("email")).toString();
    if (!payload || parseError.error != QJsonParseError::NoError || email.isEmpty())
        return user;
    user.bSignedIn = true;
    user.email = email;
    bool bNumber = false;
    const qint64 userId = claims.value(QStringLiteral("userId")).toVariant().toLongLong(&bNumber);
    user.userId = bNumber ? userId : -1;
    return user;
}

QString statusLine(const QString& version, const SignedInUser& user)
{
    if (!user.bSignedIn)
        return QStringLiteral("Orvel %1: not signed in").arg(version);
    return QStringLiteral("Orvel %1: signed in as %2 (userId %3)").arg(version, user.email).arg(user.userId);
}

QString versionBeside(const QString& programFolder)
{
    QFile file(QDir(programFolder).absoluteFilePath(QStringLiteral("version.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QString version = QString::fromUtf8(file.readLine(256)).trimmed();
    return version.isEmpty() ? QStringLiteral("unknown") : version;
}
