#pragma once

#include "TestHttpsServer.h"

class QNetworkAccessManager;
class QObject;

namespace OrvelTest {

// Answers HTTP requests inside the test process, without sockets or TLS, for code that only consumes answers: the
// managers it makes (handed over with NetworkWorker::setManagerFactory) answer each request from the routes,
// asynchronously like Qt's replies: status and body (4xx/5xx with Qt's error as well) after delayMs (Forever: not
// until aborted or the request's transfer timeout ends it), or, with dropAfterBytes set, a closed connection without
// an answer. It must outlive the requests of its managers.
class InProcessNetwork : public TestRoutes
{
public:
    QNetworkAccessManager* createManager(QObject* parent);
};

} // namespace OrvelTest
