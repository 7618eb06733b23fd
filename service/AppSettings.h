#pragma once

#include <QString>
#include <QVariant>

// The ("Orvel", "App") settings store: "StaySignedIn", "JWT" (the sealed token) and "OrvelPath". Each call opens
// the store for that single access.
QVariant readAppSetting(const QString& key, const QVariant& defaultValue);
void writeAppSetting(const QString& key, const QVariant& value);
