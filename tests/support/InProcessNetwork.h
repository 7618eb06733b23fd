#pragma once

#include <functional>
#include <memory>

#include <QList>
#include <QString>

#include "TestHttpsServer.h"

class QNetworkAccessManager;
class QObject;

namespace OrvelTest {

// Answers HTTP requests inside the test process, without sockets or TLS, for code that only consumes answers: the
// managers it makes (handed over with NetworkWorker::setManagerFactory) record each request and answer it by its
// path, as TestHttpsServer's routes do, asynchronously like Qt's replies: status and body (4xx/5xx with Qt's
// error as well) after delayMs (Forever: not until aborted or the request's transfer timeout ends it), or, with
// dropAfterBytes set, a closed connection without an answer. Unknown paths answer 404.
class InProcessNetwork
{
public:
    using Handler = std::function<TestReply(const TestRequest&)>;
    struct State; // routes and recorded requests, shared with managers that outlive this object

    InProcessNetwork();
    QNetworkAccessManager* createManager(QObject* parent) const;
    void setRoute(const QString& path, const TestReply& reply);
    void setHandler(const QString& path, Handler handler);
    QList<TestRequest> requests() const;
    void clearRequests();

private:
    std::shared_ptr<State> m_state;
};

} // namespace OrvelTest
