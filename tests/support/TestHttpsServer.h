#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

namespace OrvelTest {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One request as the test server received it.
struct TestRequest
{
    QByteArray method;
    QByteArray path;   // decoded path, without the query
    QByteArray target; // path and query exactly as sent
    QByteArray body;
    HeaderList headers{};

    // Value of the first header of that name (case-insensitive); empty when absent.
    QByteArray header(const QByteArray& name) const;
};

// What a route answers. Defaults give "200, empty body".
struct TestReply
{
    static constexpr int Forever = -1; // for delayMs: until the client leaves or the server stops

    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/octet-stream";
    HeaderList headers{}; // more response headers (name, value)

    // Hold everything, headers included, for this long first. Forever: never answer, then drop.
    int delayMs = 0;
    // Send the headers and this many body bytes, then pause until the client leaves or the server stops.
    qint64 stallAfterBytes = -1;
    // Send the headers and this many body bytes, then close the connection.
    qint64 dropAfterBytes = -1;
    // Body bytes per write, and a pause before each write after the first (a slow transfer).
    int chunkSize = 16 * 1024;
    int chunkPauseMs = 0;

    static TestReply text(int status, const QByteArray& body, const QByteArray& contentType = "text/plain");
    static TestReply json(const QByteArray& body, int status = 200);
    static TestReply redirect(const QByteArray& location); // 302 to location
    static TestReply never();                              // accepts the request and never answers
};

// A compact JWT (header.payload.signature) whose payload is the given JSON text, Base64url without padding, as an
// account service hands them out. The signature is a placeholder: nobody verifies it.
QByteArray makeTestToken(const QByteArray& payloadJson);

struct FetchResult
{
    int status = 0; // 0: no HTTP answer
    QByteArray body;
    QHash<QByteArray, QByteArray> headers; // every response header, by its name in lower case
};

// One request through a QNetworkAccessManager of its own, waited for in a local event loop (30 s at most).
// Redirects are not followed, so tests see them. `ssl` decides which certificate authorities are trusted.
FetchResult httpsFetch(const QSslConfiguration& ssl, const QByteArray& method, const QUrl& url,
                       const HeaderList& headers = {}, const QByteArray& body = {});

// Routes, matched on the decoded path without the query, and the requests they met. Every request is recorded before
// it is answered; unknown paths answer 404. Handlers may run on other threads: anything they share with the test must
// be thread-safe (atomics, or the recorded requests).
class TestRoutes
{
public:
    using Handler = std::function<TestReply(const TestRequest&)>;

    void setRoute(const QString& path, const TestReply& reply);
    void setHandler(const QString& path, Handler handler);

    // Those to `path`, or all of them.
    QList<TestRequest> requests(const QString& path = QString()) const;
    int requestCount(const QString& path = QString()) const { return requests(path).size(); }
    void clearRequests();

    // Records the request and answers it from its route.
    TestReply answer(const TestRequest& request);

private:
    mutable std::mutex m_mutex;
    std::map<QString, Handler> m_routes;
    QList<TestRequest> m_recorded;
};

// An HTTPS server on 127.0.0.1 with an ephemeral port for tests. Its certificate is issued by a throwaway CA:
// by default the process-wide trusted one (added to QSslConfiguration::defaultConfiguration(), so clients verify
// it as usual and no SSL error is ever ignored), or with Trust::Untrusted a fresh CA nobody trusts. Handlers run on
// the server's threads. The destructor returns quickly even while replies are delayed or stalled.
class TestHttpsServer : public TestRoutes
{
public:
    enum class Trust { Trusted, Untrusted };

    explicit TestHttpsServer(Trust trust = Trust::Trusted);
    ~TestHttpsServer();

    // Binds and starts serving, once; false when the server cannot run.
    bool start();

    // "https://127.0.0.1:PORT/" followed by pathAndQuery (given without a leading "/").
    QString urlText(const QString& pathAndQuery = QString()) const;
    QUrl url(const QString& pathAndQuery = QString()) const { return QUrl(urlText(pathAndQuery)); }

    QString caCertificatePath() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace OrvelTest
