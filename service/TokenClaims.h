#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

// The claims of a JWT in compact form (header.payload.signature), read from its payload without verifying the
// signature. Anything that is not such a token gives an empty map.
QMap<QString, QVariant> decodeTokenClaims(const QByteArray& token);
