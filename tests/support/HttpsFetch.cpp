#include "HttpsFetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

namespace OrvelTest {

FetchResult httpsFetch(const QSslConfiguration& ssl, const QByteArray& method, const QUrl& url,
                       const HeaderList& headers, const QByteArray& body)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setSslConfiguration(ssl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(30000);
    for (const auto& header : headers)
        request.setRawHeader(header.first, header.second);
    QNetworkReply* reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    FetchResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.location = reply->rawHeader("Location");
    for (const QNetworkReply::RawHeaderPair& header : reply->rawHeaderPairs())
        result.headers.insert(header.first.toLower(), header.second);
    reply->deleteLater();
    return result;
}

} // namespace OrvelTest
