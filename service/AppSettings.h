#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The ("Orvel", "App") settings store: "StaySignedIn", "JWT" (the sealed token) and "OrvelPath". Each call opens
// the store for that single access. Writing leaves the store's file readable by this user only (0600, its folder
// 0700 when created here).
QVariant readAppSetting(const QString& key, const QVariant& defaultValue);
void writeAppSetting(const QString& key, const QVariant& value);

// The store's keys, typed: the only place that names them.
namespace AppSettings {

// "JWT": the sealed token blob, empty when none is stored.
QByteArray storedToken();
void setStoredToken(const QByteArray& sealed);
// Removes "JWT": a launcher that is not to stay signed in leaves no token behind when it ends.
void removeStoredToken();

// "StaySignedIn": whether the next start tries the stored token; false when never set.
bool staySignedIn();
void setStaySignedIn(bool on);

// "OrvelPath": the folder the application is installed under, as stored (native separators possible); empty when
// never set (the launcher then picks its own fallback).
QString orvelPath();

} // namespace AppSettings
