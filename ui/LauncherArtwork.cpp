#include "LauncherArtwork.h"

#include <QImage>
#include <QLabel>
#include <QNetworkRequest>
#include <QPixmap>

#include "DeploymentSettings.h"
#include "NetworkWorker.h"

namespace LauncherArtwork {

QUrl artworkUrl(QObject* parent, const QString& accountBaseUrl)
{
    const QString base = accountBaseUrl.isEmpty() ? DeploymentSettings::current().accountServiceUrl() : accountBaseUrl;
    auto* worker = new NetworkWorker(parent, false);
    worker->get(QNetworkRequest(QUrl(base + QStringLiteral("api/Orvel/LauncherArtwork?api-version=2"))));
    if (!worker->isSuccess())
        return QUrl();
    // The service answers a JSON string; quotes are dropped wherever they are.
    QString text = QString::fromUtf8(worker->responseData());
    text.remove(QLatin1Char('"'));
    return QUrl(text, QUrl::TolerantMode);
}

bool loadArtwork(QLabel* background, QObject* parent, const QString& accountBaseUrl)
{
    const QUrl address = artworkUrl(parent, accountBaseUrl);
    if (address.isEmpty())
        return false;
    auto* worker = new NetworkWorker(parent, false);
    worker->get(QNetworkRequest(address));
    const QByteArray body = worker->responseData();
    if (!worker->isSuccess() || body.isEmpty())
        return false;
    // A body that is no picture still replaces the background, by an empty picture.
    const QImage picture = QImage::fromData(body).convertToFormat(QImage::Format_ARGB32);
    background->setPixmap(picture.isNull() ? QPixmap()
                                           : QPixmap::fromImage(picture.scaled(
                                                 background->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return true;
}

} // namespace LauncherArtwork
