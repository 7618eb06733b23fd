#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Issues and checks the account service's tokens: compact JWTs signed with HMAC-SHA-256 ("HS256").
// The secret lives in the state folder so that tokens survive a restart of the service.
class TokenSigner
{
public:
    // Reads the secret at `path`, creating a random one (readable by the owner only) when the file is missing.
    bool loadOrCreateSecret(const QString& path, QString* error);

    QByteArray issue(const QJsonObject& claims) const;

    // The claims of `token` when its header names HS256, its signature checks out and "exp" lies in the
    // future at `now` (seconds since the epoch); an empty object otherwise.
    QJsonObject verify(const QByteArray& token, qint64 now) const;

private:
    QByteArray sign(const QByteArray& signingInput) const;

    QByteArray m_secret;
};
