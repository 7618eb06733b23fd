#pragma once

#include <functional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpServer>

namespace OrvelTest {

// Canned answers for code that only consumes them (version checks): plain HTTP on 127.0.0.1, served by the test's
// own thread while the code under test waits in its nested event loop. No TLS, no certificates, no threads; the
// transport itself is tested against TestHttpsServer.
class InProcessHttpFake
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        bool never = false; // keep the connection open without answering
    };
    // Called with the request target (path and query, as sent) of each request, in order.
    using Handler = std::function<Answer(const QByteArray& target)>;

    explicit InProcessHttpFake(Handler handler);

    // "http://127.0.0.1:PORT/"; empty when it could not listen.
    QString url() const;
    QList<QByteArray> targets() const { return m_targets; }

private:
    void serve(QTcpSocket* socket);

    Handler m_handler;
    QTcpServer m_server;
    QList<QByteArray> m_targets;
};

} // namespace OrvelTest
