#pragma once

#include <QJsonObject>
#include <QString>

// Addresses on the update service. Every path is appended to the base URL (which ends with "/") as plain text,
// without URL encoding, exactly as the service expects them.
namespace ServiceUrls {

// 1 on Windows, 2 on macOS, 255 elsewhere, from QSysInfo::productType().
int osCode();

// "&vt=daily" when the local manifest pins a daily build, else "".
QString channel(const QJsonObject& localManifest);

// The newest published launcher.
QString launcherArchive(const QString& baseUrl);

// The update for the installed build: empty answer, "Not Found", or the manifest of the build to install.
QString appUpdate(const QString& baseUrl, const QJsonObject& localManifest);

// Download address of the build being installed, ending in "&file=/": a manifest "path" completes it.
QString download(const QString& baseUrl, const QJsonObject& localManifest, const QJsonObject& serverManifest);

} // namespace ServiceUrls
