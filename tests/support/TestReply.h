#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace OrvelTest {

// What a route of TestHttpsServer answers. Defaults give "200, empty body".
struct TestReply
{
    static constexpr int Forever = -1; // for delayMs: until the client leaves or the server stops

    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/octet-stream";
    QList<QPair<QByteArray, QByteArray>> headers; // more response headers (name, value)

    // Answer a redirect (status 302 unless status is already a 3xx) with this Location.
    QByteArray redirectTo;

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
    static TestReply redirect(const QByteArray& location);
    static TestReply never(); // accepts the request and never answers
};

} // namespace OrvelTest
