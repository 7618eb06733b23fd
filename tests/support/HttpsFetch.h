#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QPair>
#include <QSslConfiguration>
#include <QUrl>

namespace OrvelTest {

struct FetchResult
{
    int status = 0; // 0: no HTTP answer
    QByteArray body;
    QByteArray location;
    QHash<QByteArray, QByteArray> headers; // every response header, by its name in lower case
};

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One request through a QNetworkAccessManager of its own, waited for in a local event loop (30 s at most).
// Redirects are not followed, so tests see them. `ssl` decides which certificate authorities are trusted.
FetchResult httpsFetch(const QSslConfiguration& ssl, const QByteArray& method, const QUrl& url,
                       const HeaderList& headers = {}, const QByteArray& body = {});

} // namespace OrvelTest
