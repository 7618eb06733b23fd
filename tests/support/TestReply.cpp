#include "TestReply.h"

namespace OrvelTest {

TestReply TestReply::text(int status, const QByteArray& body, const QByteArray& contentType)
{
    TestReply r;
    r.status = status;
    r.body = body;
    r.contentType = contentType;
    return r;
}

TestReply TestReply::json(const QByteArray& body, int status)
{
    return text(status, body, "application/json");
}

TestReply TestReply::redirect(const QByteArray& location)
{
    TestReply r;
    r.redirectTo = location;
    r.status = 302;
    return r;
}

TestReply TestReply::never()
{
    TestReply r;
    r.delayMs = Forever;
    return r;
}

} // namespace OrvelTest
