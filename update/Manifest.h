#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

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

// "size" and "totalFileSize": a whole number within 32-bit signed range, else 0.
qint32 readSize(const QJsonValue& value);

// True when the local manifest pins a daily build ("targetVersion" present with any type).
bool isDailyChannel(const QJsonObject& localManifest);

// Version text for a service request: source 1 is the installed build, source 0 the build being downloaded.
// A pinned daily build gives its "targetVersion" text followed by ".t" for both.
QString manifestVersion(const QJsonObject& localManifest, const QJsonObject& serverManifest, int source);

// Appends the "path" of every server entry that is not current under installPath to `paths` and returns the bytes
// still to fetch: "totalFileSize" less the sizes of the current entries. An entry is current when its file exists,
// has the manifest's size, and its local hash text equals the server's (a path missing from localHashes has "").
qint64 collectChangedFiles(const QJsonObject& serverManifest, const LocalHashes& localHashes,
                           const QString& installPath, QStringList& paths);

// The "path" texts of the server manifest that would leave the folder they are appended to: absolute, with a colon,
// a backslash or a NUL, or with a "." or ".." segment. The empty path is not listed here (its download fails).
QStringList unsafePaths(const QJsonObject& serverManifest);

// Path -> expected "size" for the given paths, from the manifest's "fileList" (the last entry of a path wins).
QMap<QString, qint64> expectedSizes(const QJsonObject& serverManifest, const QStringList& paths);

// Writes the server manifest, indented, as downloadAppDir + "/liveupdate.json".
bool saveServerManifest(const QJsonObject& serverManifest, const QString& downloadAppDir);

} // namespace Manifest
