#include "AppSettings.h"

#include <QSettings>

QVariant readAppSetting(const QString& key, const QVariant& defaultValue)
{
    return QSettings(QStringLiteral("Orvel"), QStringLiteral("App")).value(key, defaultValue);
}

void writeAppSetting(const QString& key, const QVariant& value)
{
    QSettings(QStringLiteral("Orvel"), QStringLiteral("App")).setValue(key, value);
}
