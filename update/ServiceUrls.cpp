#include "ServiceUrls.h"

#include <QStringList>
#include <QSysInfo>
#include <QUrl>

#include "Manifest.h"

namespace ServiceUrls {

namespace {
QString encodeValue(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// "?version=" up to and including the operating-system code, for either request.
QString versionQuery(const Manifest& installed, const Manifest& server, ManifestSource source)
{
    return QLatin1String("?version=") + encodeValue(manifestVersion(installed, server, source)) +
           (installed.isDaily() ? QLatin1String("&vt=daily") : QLatin1String()) + QLatin1String("&os=") +
           QString::number(osCode());
}
} // namespace

int osCode()
{
    const QString product = QSysInfo::productType();
    if (product == QLatin1String("windows"))
        return 1;
    if (product == QLatin1String("osx"))
        return 2;
    return 255;
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

QString appUpdate(const QString& baseUrl, const Manifest& installed)
{
    return baseUrl + QLatin1String("orvel/patch") + versionQuery(installed, installed, ManifestSource::Installed) +
           QLatin1String("&output=json");
}

QString download(const QString& baseUrl, const Manifest& installed, const Manifest& server)
{
    return baseUrl + QLatin1String("orvel/patch/download") + versionQuery(installed, server, ManifestSource::Server) +
           QLatin1String("&file=/");
}

} // namespace ServiceUrls
