#include "InProcessNetwork.h"

#include <map>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace OrvelTest {

struct InProcessNetwork::State
{
    std::map<QString, Handler> routes;
    QList<TestRequest> requests;
};

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
    bool isSequential() const override { return true; }
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
    Manager(QObject* parent, std::shared_ptr<InProcessNetwork::State> state)
        : QNetworkAccessManager(parent), m_state(std::move(state))
    {}

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request, QIODevice* data) override
    {
        TestRequest sent{operation == PostOperation ? "POST" : "GET", request.url().path().toUtf8(),
                         request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority),
                         data ? data->readAll() : QByteArray()};
        for (const QByteArray& name : request.rawHeaderList())
            sent.headers.append({name, request.rawHeader(name)});
        m_state->requests.append(sent);
        const auto route = m_state->routes.find(request.url().path());
        return new Reply(this, request,
                         route == m_state->routes.end() ? TestReply::text(404, "Not Found") : route->second(sent));
    }

private:
    std::shared_ptr<InProcessNetwork::State> m_state;
};

} // namespace

InProcessNetwork::InProcessNetwork() : m_state(std::make_shared<State>())
{}

QNetworkAccessManager* InProcessNetwork::createManager(QObject* parent) const
{
    return new Manager(parent, m_state);
}

void InProcessNetwork::setRoute(const QString& path, const TestReply& reply)
{
    setHandler(path, [reply](const TestRequest&) { return reply; });
}

void InProcessNetwork::setHandler(const QString& path, Handler handler)
{
    m_state->routes[path] = std::move(handler);
}

QList<TestRequest> InProcessNetwork::requests() const
{
    return m_state->requests;
}

void InProcessNetwork::clearRequests()
{
    m_state->requests.clear();
}

} // namespace OrvelTest
