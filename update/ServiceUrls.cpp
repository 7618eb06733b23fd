#include "ServiceUrls.h"

#include <QSysInfo>

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

QString launcherArchive(const QString& baseUrl)
{
    return baseUrl + QLatin1String("orvel/archive/55?pagesize=1");
}

QString appUpdate(const QString& baseUrl, const QJsonObject& localManifest)
{
    return baseUrl + QLatin1String("orvel/patch?version=") + Manifest::manifestVersion(localManifest, {}, 1) +
           channel(localManifest) + QLatin1String("&os=") + QString::number(osCode()) + QLatin1String("&output=json");
}

QString download(const QString& baseUrl, const QJsonObject& localManifest, const QJsonObject& serverManifest)
{
    return baseUrl + QLatin1String("orvel/patch/download?version=") +
           Manifest::manifestVersion(localManifest, serverManifest, 0) + channel(localManifest) +
           QLatin1String("&os=") + QString::number(osCode()) + QLatin1String("&file=/");
}

} // namespace ServiceUrls
