#include "TestToken.h"

namespace OrvelTest {

QByteArray makeTestToken(const QByteArray& payloadJson)
{
    const auto encoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
    return QByteArray("{\"alg\":\"HS256\",\"typ\":\"JWT\"}").toBase64(encoding) + '.' + payloadJson.toBase64(encoding) +
           '.' + QByteArray("test-signature").toBase64(encoding);
}

} // namespace OrvelTest
