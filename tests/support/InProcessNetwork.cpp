#include "InProcessNetwork.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace OrvelTest {

namespace {

class Reply : public QNetworkReply
{
public:
    Reply(QObject* parent, const QNetworkRequest& request, const TestReply& answer) : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        open(QIODevice::ReadOnly);
        if (answer.delayMs != TestReply::Forever)
            QTimer::singleShot(answer.delayMs, this, [this, answer] { finish(answer); });
        // The request's time limit, as Qt's own replies keep it.
        if (request.transferTimeout() > 0)
            QTimer::singleShot(request.transferTimeout(), this, [this] { abort(); });
    }

    void abort() override
    {
        if (!isFinished())
            finish(OperationCanceledError, QStringLiteral("Operation canceled"));
    }
    qint64 bytesAvailable() const override { return m_body.size() + QNetworkReply::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int count = static_cast<int>(qMin<qint64>(maxSize, m_body.size()));
        memcpy(data, m_body.constData(), static_cast<size_t>(count));
        m_body.remove(0, count);
        return count;
    }

private:
    void finish(const TestReply& answer)
    {
        if (answer.dropAfterBytes >= 0)
            return finish(RemoteHostClosedError, QStringLiteral("Connection closed"));
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, answer.status);
        m_body = answer.body;
        emit metaDataChanged();
        emit readyRead();
        const NetworkError error = answer.status >= 500   ? InternalServerError
                                   : answer.status >= 400 ? UnknownContentError
                                                          : NoError;
        finish(error, QStringLiteral("HTTP %1").arg(answer.status));
    }

    void finish(NetworkError error, const QString& text)
    {
        if (error != NoError) {
            setError(error, text);
            emit errorOccurred(error);
        }
        setFinished(true);
        emit finished();
    }

    QByteArray m_body;
};

class Manager : public QNetworkAccessManager
{
public:
    Manager(QObject* parent, TestRoutes* routes) : QNetworkAccessManager(parent), m_routes(routes) {}

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request, QIODevice* data) override
    {
        TestRequest sent{operation == PostOperation ? "POST" : "GET", request.url().path().toUtf8(),
                         request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority),
                         data ? data->readAll() : QByteArray()};
        for (const QByteArray& name : request.rawHeaderList())
            sent.headers.append({name, request.rawHeader(name)});
        return new Reply(this, request, m_routes->answer(sent));
    }

private:
    TestRoutes* m_routes;
};

} // namespace

QNetworkAccessManager* InProcessNetwork::createManager(QObject* parent)
{
    return new Manager(parent, this);
}

} // namespace OrvelTest
