#include "ServiceUrls.h"

#include <QStringList>
#include <QSysInfo>
#include <QUrl>

#include "Manifest.h"

namespace ServiceUrls {

int osCode()
{
    const QString product = QSysInfo::productType();
    if (product == QLatin1String("windows"))
        return 1;
    if (product == QLatin1String("osx"))
        return 2;
    return 255;
}

QString channel(const QJsonObject& localManifest)
{
    return Manifest::isDailyChannel(localManifest) ? QStringLiteral("&vt=daily") : QString();
}

QString encodeValue(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString encodePath(const QString& path)
{
    QStringList segments = path.split(QLatin1Char('/'));
    for (QString& segment : segments)
        segment = encodeValue(segment);
    return segments.join(QLatin1Char('/'));
}

QString launcherArchive(const QString& baseUrl)
{
    return baseUrl + QLatin1String("orvel/archive/55?pagesize=1");
}

QString appUpdate(const QString& baseUrl, const QJsonObject& localManifest)
{
    return baseUrl + QLatin1String("orvel/patch?version=") +
           encodeValue(Manifest::manifestVersion(localManifest, ServerManifest(), 1)) + channel(localManifest) +
           QLatin1String("&os=") + QString::number(osCode()) + QLatin1String("&output=json");
}

QString download(const QString& baseUrl, const QJsonObject& localManifest, const ServerManifest& serverManifest)
{
    return baseUrl + QLatin1String("orvel/patch/download?version=") +
           encodeValue(Manifest::manifestVersion(localManifest, serverManifest, 0)) + channel(localManifest) +
           QLatin1String("&os=") + QString::number(osCode()) + QLatin1String("&file=/");
}

} // namespace ServiceUrls
