#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QSslError>
#include <QString>

class QNetworkAccessManager;

// Sends service requests over its own QNetworkAccessManager and reports each outcome as success() (HTTP 200) or
// failure(). Synchronous workers wait in a nested event loop and have the outcome ready when post()/get()
// return; asynchronous ones report through the signals only. Raising abortReply() on the worker's parent (or,
// without a parent, on the worker) cancels the replies in flight.
//
// Every request gets a transfer timeout (15 s unless the request sets its own): a server that accepts the
// connection and then stays silent would otherwise freeze a synchronous caller for good.
class NetworkWorker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(NetworkWorker)

public:
    static constexpr int DefaultTransferTimeoutMs = 15000;

    NetworkWorker(QObject* parent, const bool& async);
    ~NetworkWorker() override;

    void post(const QNetworkRequest& request, const QByteArray& body);
    void get(const QNetworkRequest& request);

    bool isSuccess() const;
    QByteArray responseData() const;
    QJsonDocument responseJson() const;
    // Decimal HTTP status of the last readable reply, empty before the first.
    QString statusCode() const { return m_statusCode; }
    bool isAsync() const { return m_async; }

    void abortAllReplies();

    // Silence allowed before a request fails; applies to requests sent afterwards.
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    int transferTimeout() const { return m_transferTimeoutMs; }
    // Initial transfer timeout of workers created afterwards (tests shorten it).
    static void setDefaultTransferTimeout(int ms);
    static int defaultTransferTimeout();

    virtual void handleReplyStatus(QNetworkReply* reply);

signals:
    void success();
    void failure();
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

    bool m_async;
    QNetworkAccessManager* m_manager;
    QByteArray m_responseData;
    QString m_statusCode;
    QList<QNetworkReply*> m_pendingReplies;
    int m_transferTimeoutMs;
};
