#include "AccountSession.h"

#include <memory>

#include "TokenClaims.h"

namespace {
std::unique_ptr<AccountSession>& storage()
{
    static std::unique_ptr<AccountSession> session;
    return session;
}
} // namespace

AccountSession* AccountSession::instance()
{
    if (!storage())
        storage().reset(new AccountSession);
    return storage().get();
}

void AccountSession::release()
{
    storage().reset();
}

void AccountSession::setToken(const QByteArray& token)
{
    m_token = token;
    const QMap<QString, QVariant> claims = decodeTokenClaims(token);
    m_userId = claims.contains(QStringLiteral("userId")) ? claims.value(QStringLiteral("userId")).toInt() : -1;
    m_email = claims.value(QStringLiteral("email")).toString();
}

QString AccountSession::userIdText() const
{
    return QString::number(m_userId, 10);
}

void AccountSession::applyAuthHeaders(QNetworkRequest& request) const
{
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Authorization", QByteArray("Bearer ") + m_token);
    request.setRawHeader("api-version", "2.0");
}
