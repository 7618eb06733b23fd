#pragma once

#include <functional>
#include <memory>

#include <QList>
#include <QString>
#include <QUrl>

#include "TestReply.h"
#include "TestRequest.h"

namespace OrvelTest {

// An HTTPS server on 127.0.0.1 with an ephemeral port for tests. Its certificate is issued by a throwaway CA:
// by default the process-wide trusted one (added to QSslConfiguration::defaultConfiguration(), so clients verify
// it as usual and no SSL error is ever ignored), or with Trust::Untrusted a fresh CA nobody trusts.
//
// Routes are matched on the decoded path without the query; unknown paths answer 404. Handlers run on the server's
// threads, so anything they share with the test must be thread-safe (atomics, or the recorded requests below). Every
// request is recorded before it is answered. The destructor returns quickly even while replies are delayed or stalled.
class TestHttpsServer
{
public:
    enum class Trust { Trusted, Untrusted };
    using Handler = std::function<TestReply(const TestRequest&)>;

    explicit TestHttpsServer(Trust trust = Trust::Trusted);
    ~TestHttpsServer();
    TestHttpsServer(const TestHttpsServer&) = delete;
    TestHttpsServer& operator=(const TestHttpsServer&) = delete;

    // Binds and starts serving, once; false when the server cannot run.
    bool start();

    // "https://127.0.0.1:PORT/" followed by pathAndQuery (given without a leading "/").
    QString urlText(const QString& pathAndQuery = QString()) const;
    QUrl url(const QString& pathAndQuery = QString()) const { return QUrl(urlText(pathAndQuery)); }

    QString caCertificatePath() const;

    void setRoute(const QString& path, const TestReply& reply);
    void setHandler(const QString& path, Handler handler);

    // Those to `path`, or all of them.
    QList<TestRequest> requests(const QString& path = QString()) const;
    int requestCount(const QString& path = QString()) const { return requests(path).size(); }
    void clearRequests();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace OrvelTest
