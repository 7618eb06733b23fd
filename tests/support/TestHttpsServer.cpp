#include "TestHttpsServer.h"

#include <algorithm>
#include <chrono>
#include <atomic>
#include <thread>

#include <poll.h>
#include <sys/socket.h>

#include <httplib.h>
#include <openssl/ssl.h>

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>

#include "TestCertificateAuthority.h"

namespace OrvelTest {

namespace {

constexpr int kWaitSliceMs = 20;
constexpr int kThreadCount = 48;    // 16+ parallel keep-alive connections plus stalled handlers
constexpr int kListenBacklog = 128; // bursts of parallel connects must not overflow the accept queue

// Exposes the listening socket so the accept backlog can be raised after binding.
class Server : public httplib::SSLServer
{
public:
    using httplib::SSLServer::SSLServer;
    int listenSocket() const { return svr_sock_; }
};

bool peerGone(int fd)
{
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

void dropConnection(int fd)
{
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return !content.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

QByteArray TestRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

TestReply TestReply::text(int status, const QByteArray& body, const QByteArray& contentType)
{
    return TestReply{status, body, contentType};
}

TestReply TestReply::json(const QByteArray& body, int status)
{
    return text(status, body, "application/json");
}

TestReply TestReply::redirect(const QByteArray& location)
{
    TestReply reply = text(302, QByteArray());
    reply.headers = {{"Location", location}};
    return reply;
}

TestReply TestReply::never()
{
    TestReply reply;
    reply.delayMs = Forever;
    return reply;
}

void TestRoutes::setRoute(const QString& path, const TestReply& reply)
{
    setHandler(path, [reply](const TestRequest&) { return reply; });
}

void TestRoutes::setHandler(const QString& path, Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(handler);
}

QList<TestRequest> TestRoutes::requests(const QString& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<TestRequest> matching;
    for (const TestRequest& r : m_recorded) {
        if (path.isEmpty() || QString::fromUtf8(r.path) == path)
            matching.append(r);
    }
    return matching;
}

void TestRoutes::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recorded.clear();
}

TestReply TestRoutes::answer(const TestRequest& request)
{
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recorded.append(request);
        const auto route = m_routes.find(QString::fromUtf8(request.path));
        if (route != m_routes.end())
            handler = route->second;
    }
    // Outside the lock: a handler may wait, or look at the recorded requests.
    return handler ? handler(request) : TestReply::text(404, "Not Found");
}

QByteArray makeTestToken(const QByteArray& payloadJson)
{
    const auto encoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
    return QByteArray("{\"alg\":\"HS256\",\"typ\":\"JWT\"}").toBase64(encoding) + '.' + payloadJson.toBase64(encoding) +
           '.' + QByteArray("test-signature").toBase64(encoding);
}

FetchResult httpsFetch(const QSslConfiguration& ssl, const QByteArray& method, const QUrl& url,
                       const HeaderList& headers, const QByteArray& body)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setSslConfiguration(ssl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(30000);
    for (const auto& header : headers)
        request.setRawHeader(header.first, header.second);
    QNetworkReply* reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    FetchResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    for (const QNetworkReply::RawHeaderPair& header : reply->rawHeaderPairs())
        result.headers.insert(header.first.toLower(), header.second);
    reply->deleteLater();
    return result;
}

struct TestHttpsServer::Private
{
    std::unique_ptr<TestCertificateAuthority> ownCa;
    TestCertificateAuthority* ca = nullptr;

    std::unique_ptr<Server> server;
    std::thread thread;
    int port = 0;

    std::atomic<bool> stopping{false};
    TestRoutes* routes = nullptr;

    void handle(const httplib::Request& req, httplib::Response& res);
    // Waits ms (TestReply::Forever: no limit); false when the server stops or the client leaves first.
    bool waitFor(int ms, int fd);
    void setBody(const TestReply& reply, httplib::Response& res, int fd);
};

bool TestHttpsServer::Private::waitFor(int ms, int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping && !peerGone(fd)) {
        if (ms != TestReply::Forever && std::chrono::steady_clock::now() >= deadline)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    }
    return false;
}

void TestHttpsServer::Private::handle(const httplib::Request& req, httplib::Response& res)
{
    // Ranges are the handlers' to answer: the library would cut the body (again) itself. The request is the server's
    // own, not a constant object.
    const_cast<httplib::Request&>(req).ranges.clear();
    TestRequest request{QByteArray::fromStdString(req.method), QByteArray::fromStdString(req.path),
                        QByteArray::fromStdString(req.target), QByteArray::fromStdString(req.body)};
    for (const auto& h : req.headers)
        request.headers.append({QByteArray::fromStdString(h.first), QByteArray::fromStdString(h.second)});
    const TestReply reply = routes->answer(request);
    const int fd = req.ssl ? SSL_get_fd(req.ssl) : -1;

    if (reply.delayMs != 0 && !waitFor(reply.delayMs, fd)) {
        dropConnection(fd);
        return;
    }

    res.status = reply.status;
    for (const auto& header : reply.headers)
        res.set_header(header.first.constData(), header.second.constData());
    setBody(reply, res, fd);
}

void TestHttpsServer::Private::setBody(const TestReply& reply, httplib::Response& res, int fd)
{
    const qint64 size = reply.body.size();
    if (size == 0) {
        res.set_content(std::string(), reply.contentType.toStdString());
        return;
    }

    // Always streamed through a provider: the bytes on the wire are exactly the body (no compression), and
    // stalls and drops happen at exact offsets.
    res.set_content_provider(static_cast<size_t>(size), reply.contentType.toStdString(),
                             [this, shape = reply, fd](size_t offset, size_t remaining, httplib::DataSink& sink) {
                                 const qint64 at = static_cast<qint64>(offset);
                                 qint64 end = at + static_cast<qint64>(remaining);
                                 for (const qint64 limit : {shape.dropAfterBytes, shape.stallAfterBytes}) {
                                     if (limit >= 0)
                                         end = std::min(end, limit);
                                 }
                                 if (at >= end) {
                                     // A stall holds the connection until the client leaves or the server stops; a drop
                                     // ends it now.
                                     if (shape.dropAfterBytes < 0 || at < shape.dropAfterBytes)
                                         waitFor(TestReply::Forever, fd);
                                     dropConnection(fd);
                                     return false;
                                 }
                                 if (shape.chunkPauseMs > 0 && at > 0 && !waitFor(shape.chunkPauseMs, fd)) {
                                     dropConnection(fd);
                                     return false;
                                 }
                                 const qint64 chunk = std::min<qint64>(shape.chunkSize, end - at);
                                 return sink.write(shape.body.constData() + offset, static_cast<size_t>(chunk));
                             });
}

TestHttpsServer::TestHttpsServer(Trust trust) : d(new Private)
{
    if (trust == Trust::Untrusted)
        d->ownCa.reset(new TestCertificateAuthority(QStringLiteral("Orvel Untrusted Test CA")));
    d->ca = d->ownCa ? d->ownCa.get() : &TestCertificateAuthority::trusted();
    d->routes = this;
}

TestHttpsServer::~TestHttpsServer()
{
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    d->server->stop();
    d->thread.join();
}

bool TestHttpsServer::start()
{
    // httplib reads the certificate and its key from files, once, while it is made.
    QTemporaryDir files;
    const QString certificate = files.filePath(QStringLiteral("server.pem"));
    const QString key = files.filePath(QStringLiteral("server-key.pem"));
    if (!writeFile(certificate, d->ca->serverCertificatePem()) || !writeFile(key, d->ca->serverKeyPem()))
        return false;
    d->server.reset(new Server(QFile::encodeName(certificate).constData(), QFile::encodeName(key).constData()));
    if (!d->server->is_valid())
        return false;
    SSL_CTX_set_min_proto_version(d->server->ssl_context(), TLS1_2_VERSION);
    d->server->new_task_queue = [] { return new httplib::ThreadPool(kThreadCount); };
    d->server->set_keep_alive_max_count(1000);
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) { d->handle(req, res); };
    d->server->Get(".*", handler);
    d->server->Post(".*", handler);

    d->port = d->server->bind_to_any_port("127.0.0.1");
    if (d->port <= 0)
        return false;
    ::listen(d->server->listenSocket(), kListenBacklog);
    d->thread = std::thread([server = d->server.get()] { server->listen_after_bind(); });
    // Stopping only takes effect once the accept loop runs; wait for it so a quick stop cannot be lost.
    while (!d->server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

QString TestHttpsServer::urlText(const QString& pathAndQuery) const
{
    return QStringLiteral("https://127.0.0.1:%1/%2").arg(d->port).arg(pathAndQuery);
}

QString TestHttpsServer::caCertificatePath() const
{
    return d->ca->caCertificatePath();
}

} // namespace OrvelTest
