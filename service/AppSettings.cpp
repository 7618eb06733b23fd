#include "AppSettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace {
const QString kStoredToken = QStringLiteral("JWT");
const QString kStaySignedIn = QStringLiteral("StaySignedIn");
const QString kOrvelPath = QStringLiteral("OrvelPath");
} // namespace

QVariant readAppSetting(const QString& key, const QVariant& defaultValue)
{
    return QSettings(QStringLiteral("Orvel"), QStringLiteral("App")).value(key, defaultValue);
}

void writeAppSetting(const QString& key, const QVariant& value)
{
    QSettings(QStringLiteral("Orvel"), QStringLiteral("App")).setValue(key, value);
}

namespace AppSettings {

QByteArray storedToken()
{
    return readAppSetting(kStoredToken, QByteArray()).toByteArray();
}

void setStoredToken(const QByteArray& sealed)
{
    writeAppSetting(kStoredToken, sealed);
}

bool staySignedIn()
{
    return readAppSetting(kStaySignedIn, false).toBool();
}

void setStaySignedIn(bool on)
{
    writeAppSetting(kStaySignedIn, on);
}

QString orvelPath()
{
    return readAppSetting(kOrvelPath, QString()).toString();
}

} // namespace AppSettings
