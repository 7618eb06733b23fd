#include "AppSettings.h"

#include <functional>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString kStoredToken = QStringLiteral("JWT");
const QString kStaySignedIn = QStringLiteral("StaySignedIn");
const QString kOrvelPath = QStringLiteral("OrvelPath");

// The store holds the sealed token, and the key to open it is in every copy of the program: only this user may read
// it. The folder is made private when it is created (before the file's first write, so that the file is never
// reachable while it is still world-readable); the file after each write. Windows keeps the store in the user's own
// registry hive, which has no file of its own.
void writePrivately(const std::function<void(QSettings&)>& change)
{
    QSettings store(QStringLiteral("Orvel"), QStringLiteral("App"));
#ifndef Q_OS_WIN
    const QString folder = QFileInfo(store.fileName()).absolutePath();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
    change(store);
    store.sync();
#ifndef Q_OS_WIN
    QFile::setPermissions(store.fileName(), QFile::ReadOwner | QFile::WriteOwner);
#endif
}
} // namespace

QVariant readAppSetting(const QString& key, const QVariant& defaultValue)
{
    return QSettings(QStringLiteral("Orvel"), QStringLiteral("App")).value(key, defaultValue);
}

void writeAppSetting(const QString& key, const QVariant& value)
{
    writePrivately([&key, &value](QSettings& store) { store.setValue(key, value); });
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

void removeStoredToken()
{
    if (!readAppSetting(kStoredToken, QVariant()).isValid())
        return;
    writePrivately([](QSettings& store) { store.remove(kStoredToken); });
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
