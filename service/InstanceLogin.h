#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include "Failure.h"

class NetworkWorker;
class QTimer;

// Browser sign-in: opens the account service's sign-in page with a random instance id and polls the service
// until it hands out a token whose "instanceId" claim is that id. One attempt ends with one outcome: success
// with the token, failure(SignInFailed) for a token of another id, failure(SignInTimeout) after pollLimit + 1
// polls without an answer, with what the last failed poll met (HTTP status, ...) as its details, and
// failure(SslError) with the TLS errors at once when the service's certificate is refused (polling again would meet
// the same certificate).
// A later attempt reuses the id, except after a time-out.
class InstanceLogin : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InstanceLogin)

public:
    static constexpr int DefaultPollIntervalMs = 500;
    static constexpr int DefaultPollLimit = 600;

    // An empty accountBaseUrl means the deployment's account service.
    explicit InstanceLogin(QObject* parent, const QString& accountBaseUrl = QString(),
                           int pollIntervalMs = DefaultPollIntervalMs, int pollLimit = DefaultPollLimit);

    // Opens the sign-in page and starts polling. While an attempt still polls it only opens the page again.
    void startLogin();
    // The browser address of the current instance id, inventing the id first when there is none.
    QUrl loginUrl();

    QString instanceId() const { return m_instanceId; }
    QByteArray requestBody() const { return m_requestBody; }
    int pollCount() const { return m_pollCount; }
    bool isPolling() const;

signals:
    void abortReply();
    void success(QByteArray _token);
    void failure(Failure _failure);

private slots:
    void checkInstanceLoginState();
    void successToInstanceLogin();
    void onPollAnswered();

private:
    QString m_accountBaseUrl;
    int m_pollIntervalMs;
    int m_pollLimit;
    NetworkWorker* m_worker;
    QNetworkRequest m_request;
    QTimer* m_pollTimer = nullptr;
    QUrl m_loginUrl;
    QString m_instanceId;
    int m_pollCount = -1;
    QByteArray m_requestBody;
};
