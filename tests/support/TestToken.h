#pragma once

#include <QByteArray>

namespace OrvelTest {

// A compact JWT (header.payload.signature) whose payload is the given JSON text, Base64url without padding, as an
// account service hands them out. The signature is a placeholder: nobody verifies it.
QByteArray makeTestToken(const QByteArray& payloadJson);

} // namespace OrvelTest
