#pragma once

#include <QString>

struct Manifest;

// Addresses on the update service. The version text and every segment of a file path are percent-encoded (all but
// the unreserved characters, and "/" kept between path segments), so that a "#", "&", "?", "%" or "+" in them
// reaches the service as part of the value.
namespace ServiceUrls {

// 1 on Windows, 2 on macOS, 255 elsewhere, from QSysInfo::productType().
int osCode();

// A manifest "path" percent-encoded segment by segment, the "/" between segments kept.
QString encodePath(const QString& path);

// The newest published launcher.
QString launcherArchive(const QString& baseUrl);

// The update for the installed build: empty answer, "Not Found", or the manifest of the build to install.
QString appUpdate(const QString& baseUrl, const Manifest& installed);

// Download address of the build being installed, ending in "&file=/": an encoded manifest "path" completes it.
QString download(const QString& baseUrl, const Manifest& installed, const Manifest& server);

} // namespace ServiceUrls
