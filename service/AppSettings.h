#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The ("Orvel", "App") settings store: "StaySignedIn", "JWT" (the sealed token) and "OrvelPath". Each call opens
// the store for that single access.
QVariant readAppSetting(const QString& key, const QVariant& defaultValue);
void writeAppSetting(const QString& key, const QVariant& value);

// The store's keys, typed: the only place that names them.
namespace AppSettings {

// "JWT": the sealed token blob, empty when none is stored.
QByteArray storedToken();
void setStoredToken(const QByteArray& sealed);

// "StaySignedIn": whether the next start tries the stored token; false when never set.
bool staySignedIn();
void setStaySignedIn(bool on);

// "OrvelPath": the folder the application is installed under, as stored (native separators possible); empty when
// never set (the launcher then picks its own fallback).
QString orvelPath();

} // namespace AppSettings
