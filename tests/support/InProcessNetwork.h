#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QString>

#include "TestRequest.h"

class QNetworkAccessManager;
class QObject;

namespace OrvelTest {

// Answers HTTP requests inside the test process, without sockets or TLS, for code that only consumes answers. The
// managers it makes (hand them over with NetworkWorker::setManagerFactory) record each request and answer it by
// its path, asynchronously as Qt's own replies do: the status with its body (4xx/5xx with Qt's error as well), or a
// network error without an answer (SslHandshakeFailedError after reporting an untrusted certificate), after a delay
// or not until the request is aborted. Unknown paths answer 404.
class InProcessNetwork
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        QNetworkReply::NetworkError error = QNetworkReply::NoError; // set: fail with it, no HTTP answer
        int delayMs = 0;                                            // Never: stays open until aborted
    };
    static constexpr int Never = -1;
    using Handler = std::function<Answer(const TestRequest&)>;

    InProcessNetwork();
    ~InProcessNetwork();
    InProcessNetwork(const InProcessNetwork&) = delete;
    InProcessNetwork& operator=(const InProcessNetwork&) = delete;

    QNetworkAccessManager* createManager(QObject* parent) const;

    void setRoute(const QString& path, const Answer& answer);
    void setHandler(const QString& path, Handler handler);

    // Requests of that path (all when empty), in the order they were sent.
    QList<TestRequest> requests(const QString& path = QString()) const;
    void clearRequests();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace OrvelTest
