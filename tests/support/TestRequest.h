#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrlQuery>

namespace OrvelTest {

// One request as the test server received it.
struct TestRequest
{
    QByteArray method;
    QByteArray path;   // decoded path, without the query
    QByteArray target; // path and query exactly as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // Value of the first header of that name (case-insensitive); empty when absent.
    QByteArray header(const QByteArray& name) const;
    QUrlQuery query() const;
};

} // namespace OrvelTest
