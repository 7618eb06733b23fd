#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

// The process-wide record of the signed-in user: the token as received and the "userId" and "email" claims read
// from it. Touched from the GUI thread only.
class AccountSession
{
public:
    static AccountSession* instance();
    // Destroys the record (the launcher window does so when it goes); the next instance() starts empty.
    static void release();

    // Stores the token and reads its claims: userId -1 and email empty when absent (or the token is empty).
    void setToken(const QByteArray& token);
    QByteArray token() const { return m_token; }
    int userId() const { return m_userId; }
    QString email() const { return m_email; }
    // userId in decimal ("-1" when the claim is absent).
    QString userIdText() const;

    // The common header set of requests made for the user: JSON content type, "Bearer " + token, api-version 2.0.
    void applyAuthHeaders(QNetworkRequest& request) const;

private:
    AccountSession() = default;
    AccountSession(const AccountSession&) = delete;
    AccountSession& operator=(const AccountSession&) = delete;

    QByteArray m_token;
    int m_userId = -1;
    QString m_email;
};
