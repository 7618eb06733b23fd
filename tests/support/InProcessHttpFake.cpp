#include "InProcessHttpFake.h"

#include <QTcpSocket>

namespace OrvelTest {

InProcessHttpFake::InProcessHttpFake(Handler handler) : m_handler(std::move(handler))
{
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(&m_server);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
        }
    });
    m_server.listen(QHostAddress::LocalHost);
}

QString InProcessHttpFake::url() const
{
    return m_server.isListening() ? QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort()) : QString();
}

void InProcessHttpFake::serve(QTcpSocket* socket)
{
    // Requests here are GETs without a body: the head ends the request.
    if (!socket->peek(64 * 1024).contains("\r\n\r\n"))
        return;
    const QByteArray head = socket->readAll();
    const QByteArray target = head.left(head.indexOf("\r\n")).split(' ').value(1);
    m_targets.append(target);
    const Answer answer = m_handler(target);
    if (answer.never)
        return;
    socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Fake\r\nContent-Length: " +
                  QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n" + answer.body);
    socket->disconnectFromHost();
}

} // namespace OrvelTest
