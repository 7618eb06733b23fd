#include "InProcessNetwork.h"

#include <map>

#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QSslError>
#include <QTimer>

namespace OrvelTest {

struct InProcessNetwork::State
{
    std::map<QString, Handler> routes;
    QList<TestRequest> requests;
};

namespace {

QNetworkReply::NetworkError errorOfStatus(int status)
{
    switch (status) {
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    default:
        return status >= 500 ? QNetworkReply::InternalServerError
                             : (status >= 400 ? QNetworkReply::UnknownContentError : QNetworkReply::NoError);
    }
}

class Reply : public QNetworkReply
{
public:
    Reply(QObject* parent, const QNetworkRequest& request, QNetworkAccessManager::Operation operation,
          const InProcessNetwork::Answer& answer)
        : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(operation);
        open(QIODevice::ReadOnly);
        if (answer.delayMs != InProcessNetwork::Never)
            QTimer::singleShot(answer.delayMs, this, [this, answer] { finish(answer); });
    }

    void abort() override
    {
        if (!isFinished())
            fail(OperationCanceledError, QStringLiteral("Operation canceled"));
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_body.size() + QNetworkReply::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, m_body.size());
        memcpy(data, m_body.constData(), static_cast<size_t>(count));
        m_body.remove(0, static_cast<int>(count));
        return count;
    }

private:
    void finish(const InProcessNetwork::Answer& answer)
    {
        if (answer.error != NoError) {
            if (answer.error == SslHandshakeFailedError)
                emit sslErrors({QSslError(QSslError::CertificateUntrusted)});
            fail(answer.error, QString::fromLatin1(QMetaEnum::fromType<NetworkError>().valueToKey(answer.error)));
            return;
        }
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, answer.status);
        m_body = answer.body;
        emit metaDataChanged();
        if (errorOfStatus(answer.status) != NoError) {
            setError(errorOfStatus(answer.status), QStringLiteral("HTTP %1").arg(answer.status));
            emit errorOccurred(error());
        }
        emit readyRead();
        setFinished(true);
        emit finished();
    }

    void fail(NetworkError code, const QString& text)
    {
        setError(code, text);
        emit errorOccurred(code);
        setFinished(true);
        emit finished();
    }

    QByteArray m_body;
};

class Manager : public QNetworkAccessManager
{
public:
    using Lookup = std::function<InProcessNetwork::Answer(const TestRequest&)>;
    Manager(QObject* parent, Lookup lookup) : QNetworkAccessManager(parent), m_lookup(std::move(lookup)) {}

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request, QIODevice* data) override
    {
        TestRequest sent;
        sent.method = operation == PostOperation ? "POST" : (operation == GetOperation ? "GET" : "OTHER");
        sent.path = request.url().path().toUtf8();
        sent.target = request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        for (const QByteArray& name : request.rawHeaderList())
            sent.headers.append({name, request.rawHeader(name)});
        sent.body = data ? data->readAll() : QByteArray();
        return new Reply(this, request, operation, m_lookup(sent));
    }

private:
    Lookup m_lookup;
};

} // namespace

InProcessNetwork::InProcessNetwork() : m_state(std::make_shared<State>())
{}

InProcessNetwork::~InProcessNetwork() = default;

QNetworkAccessManager* InProcessNetwork::createManager(QObject* parent) const
{
    // Managers may outlive this object (workers go with deleteLater): they share the state.
    const std::shared_ptr<State> state = m_state;
    return new Manager(parent, [state](const TestRequest& request) {
        state->requests.append(request);
        const auto route = state->routes.find(QString::fromUtf8(request.path));
        return route == state->routes.end() ? Answer{404, "Not Found"} : route->second(request);
    });
}

void InProcessNetwork::setRoute(const QString& path, const Answer& answer)
{
    setHandler(path, [answer](const TestRequest&) { return answer; });
}

void InProcessNetwork::setHandler(const QString& path, Handler handler)
{
    m_state->routes[path] = std::move(handler);
}

QList<TestRequest> InProcessNetwork::requests(const QString& path) const
{
    QList<TestRequest> matching;
    for (const TestRequest& request : qAsConst(m_state->requests)) {
        if (path.isEmpty() || QString::fromUtf8(request.path) == path)
            matching.append(request);
    }
    return matching;
}

void InProcessNetwork::clearRequests()
{
    m_state->requests.clear();
}

} // namespace OrvelTest
