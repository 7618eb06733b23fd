#pragma once

#include <optional>

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// One element of a manifest's "fileList".
struct ManifestEntry
{
    QString path; // relative to the application folder, "/" separated
    qint64 size = 0;
    QString hash; // compared here as text; with "sha256" the download also checks it as the file's SHA-256
};

// An update manifest "liveupdate.json", read once into typed members: the installed build's (read leniently, as it
// was written by an earlier update) or the one the update service sends for the build to install (checked, with the
// reason of a refusal). Everything after reading works on these members.
struct Manifest
{
    // Sizes travel as JSON numbers (doubles): whole numbers are exact up to 2^53.
    static constexpr qint64 maxSize = qint64(1) << 53;
    static constexpr char fileName[] = "liveupdate.json";

    QJsonObject document; // as read; a server manifest is saved re-serialised as the installed build's manifest
    QString version = QStringLiteral("0.0.0.0");
    // Present (with any type) when the installation pins a daily build; its text, "" when it is not a string.
    std::optional<QString> targetVersion;
    qint64 totalFileSize = 0;
    QVector<ManifestEntry> fileList;

    bool isDaily() const { return targetVersion.has_value(); }
    // Path -> "size" and path -> "hash"; a path listed twice keeps its last entry.
    QHash<QString, qint64> sizes() const;
    QHash<QString, QString> hashes() const;

    // A server manifest. Refuses, with the reason in `refusal`, a member of the wrong type ("version" or a "hash" not
    // a string, "totalFileSize" or a "size" not a whole number from 0 to 2^53, "fileList" not an array, an entry not
    // an object, a "path" not a string) and a path that would leave the folder it is appended to: absolute, with a
    // colon, a backslash or a NUL, or with a "." or ".." segment. Absent "version", "totalFileSize", "fileList" and
    // "hash" read as "0.0.0.0", 0, no entries and "". The empty path is accepted: its download fails.
    static std::optional<Manifest> parse(const QJsonObject& document, QString* refusal);

    // installPath + "/liveupdate.json"; empty (with a debug line) when missing or not a JSON object. Members of
    // another type read as their defaults, as an entry's absent "path" or "hash" reads as "".
    static Manifest loadInstalled(const QString& installPath);
    static Manifest fromInstalled(const QJsonObject& document);
};

// Which build a service request names: the one installed (asking for an update) or the one being downloaded.
enum class ManifestSource { Server, Installed };

// Version text for a service request. A pinned daily build gives its "targetVersion" text followed by ".t" for both.
QString manifestVersion(const Manifest& installed, const Manifest& server, ManifestSource source);

// Appends the "path" of every server entry that is not current under installPath to `paths` and returns the bytes
// still to fetch: "totalFileSize" less the sizes of the current entries. An entry is current when its file exists,
// has the manifest's size, and the installed manifest's hash text for it equals the server's (a path it does not list
// has "").
qint64 collectChangedFiles(const Manifest& server, const Manifest& installed, const QString& installPath,
                           QStringList& paths);

// Writes the server manifest's document, indented, as downloadAppDir + "/liveupdate.json". False, with the reason in
// `error`, when it cannot be written completely.
bool saveServerManifest(const Manifest& server, const QString& downloadAppDir, QString* error);
