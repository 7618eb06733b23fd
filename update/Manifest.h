#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "ServerManifest.h"

// The update manifest "liveupdate.json": the installed one (local) and the one the update service sends for the next
// build (server). Hash texts are compared as texts only; nothing here computes a digest.
namespace Manifest {

// Relative path -> hash text of the installed build. A path listed twice keeps its last hash. Only looked up,
// never walked in order: a hash table keeps the comparison of 100,000 entries fast.
using LocalHashes = QHash<QString, QString>;

inline constexpr char fileName[] = "liveupdate.json";

// installPath + "/liveupdate.json" as a JSON object; empty (with a debug line) when missing or not an object.
QJsonObject loadLocalManifest(const QString& installPath);

LocalHashes indexLocalHashes(const QJsonObject& localManifest);

// True when the local manifest pins a daily build ("targetVersion" present with any type).
bool isDailyChannel(const QJsonObject& localManifest);

// Version text for a service request: source 1 is the installed build, source 0 the build being downloaded.
// A pinned daily build gives its "targetVersion" text followed by ".t" for both.
QString manifestVersion(const QJsonObject& localManifest, const ServerManifest& serverManifest, int source);

// Appends the "path" of every server entry that is not current under installPath to `paths` and returns the bytes
// still to fetch: "totalFileSize" less the sizes of the current entries. An entry is current when its file exists,
// has the manifest's size, and its local hash text equals the server's (a path missing from localHashes has "").
qint64 collectChangedFiles(const ServerManifest& serverManifest, const LocalHashes& localHashes,
                           const QString& installPath, QStringList& paths);

// Writes the server manifest's document, indented, as downloadAppDir + "/liveupdate.json". False, with a debug line,
// when it cannot be written completely.
bool saveServerManifest(const ServerManifest& serverManifest, const QString& downloadAppDir);

} // namespace Manifest
