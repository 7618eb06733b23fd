#pragma once

#include <functional>

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QSslError>
#include <QString>

#include "Failure.h"

class QNetworkAccessManager;

// Sends service requests over the thread's shared QNetworkAccessManager (NetworkAccess) and reports each outcome as
// success() (HTTP 200) or failure(), then finished(). Synchronous workers wait in a nested event loop and have the
// outcome ready when post()/get() return; asynchronous ones report through the signals only. Raising abortReply() on
// the worker's parent (or, without a parent, on the worker) cancels the replies in flight.
//
// Every request gets a transfer timeout (15 s unless the request sets its own): a server that accepts the
// connection and then stays silent would otherwise freeze a synchronous caller for good.
//
// Why a request failed stays with the worker (lastFailure): the address, the HTTP status, the TLS errors of a
// refused certificate or the network layer's own text, for the caller to hand on as a Failure.
class NetworkWorker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(NetworkWorker)

public:
    static constexpr int DefaultTransferTimeoutMs = 15000;

    // Where workers get their network manager: tests answer requests in-process with a manager of their own.
    using ManagerFactory = std::function<QNetworkAccessManager*(QObject* parent)>;

    NetworkWorker(QObject* parent, bool async);
    ~NetworkWorker() override;

    void post(const QNetworkRequest& request, const QByteArray& body);
    void get(const QNetworkRequest& request);

    bool isSuccess() const;
    QByteArray responseData() const;
    // A header of the last readable reply (empty when it had none).
    QByteArray responseHeader(const QByteArray& name) const;
    QJsonDocument responseJson() const;
    // Decimal HTTP status of the last readable reply, empty before the first.
    QString statusCode() const { return m_statusCode; }
    bool isAsync() const { return m_async; }
    // The last handled reply failed because its server's certificate was refused: asking again cannot help.
    bool certificateRefused() const { return m_certificateRefused; }

    // Null after a success (or before any request); otherwise `code` with the details of the last handled reply
    // that failed, or SslError when that reply's server certificate was refused.
    Failure lastFailure(LauncherError code) const;

    void abortAllReplies();

    // Silence allowed before a request fails; applies to requests sent afterwards.
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    int transferTimeout() const { return m_transferTimeoutMs; }
    // Initial transfer timeout of workers created afterwards (tests shorten it).
    static void setDefaultTransferTimeout(int ms);
    static int defaultTransferTimeout();
    // Managers of workers created afterwards come from `factory`; an empty one restores real managers.
    static void setManagerFactory(ManagerFactory factory);

    virtual void handleReplyStatus(QNetworkReply* reply);

signals:
    void success();
    void failure();
    // Once per handled reply, after success() or failure(): the outcome is settled.
    void finished();
    void abortReply();

private slots:
    void onError(QNetworkReply::NetworkError _error);
    void onSslErrors(QList<QSslError> _errList);
    void onReply(QNetworkReply* _reply);
    void onReplyHead(QNetworkReply* _reply);

private:
    void send(QNetworkReply* reply);
    void connectAbortSource(QNetworkReply* reply);
    QNetworkRequest withTimeout(const QNetworkRequest& request) const;
    void noteFailure(QNetworkReply* reply, const QString& reason);

    bool m_async;
    // Made by the manager factory (owned), else the thread's shared one.
    bool m_ownsManager;
    QNetworkAccessManager* m_manager;
    QByteArray m_responseData;
    QList<QNetworkReply::RawHeaderPair> m_responseHeaders;
    QString m_statusCode;
    QList<QNetworkReply*> m_pendingReplies;
    int m_transferTimeoutMs;
    QString m_failureDetail;
    bool m_certificateRefused = false;
};
