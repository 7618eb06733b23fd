#pragma once

#include <optional>

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>

// One element of a manifest's "fileList".
struct ManifestEntry
{
    QString path; // relative to the application folder, "/" separated
    qint64 size = 0;
    QString hash; // compared as text only
};

// The manifest the update service sends for the build to install, checked once when it arrives. Everything that
// consumes it reads these typed members; the document itself is kept only to be saved into the installation.
struct ServerManifest
{
    // Sizes travel as JSON numbers (doubles): whole numbers are exact up to 2^53.
    static constexpr qint64 maxSize = qint64(1) << 53;

    QJsonObject document; // as received; saved re-serialised as the installed build's manifest
    QString version = QStringLiteral("0.0.0.0");
    qint64 totalFileSize = 0;
    QVector<ManifestEntry> fileList;

    // Path -> "size"; a path listed twice keeps its last size.
    QHash<QString, qint64> sizes() const;

    // Refuses, with the reason in `error`, a member of the wrong type ("version" or a "hash" not a string,
    // "totalFileSize" or a "size" not a whole number from 0 to 2^53, "fileList" not an array, an entry not an
    // object, a "path" not a string) and a path that would leave the folder it is appended to: absolute, with a
    // colon, a backslash or a NUL, or with a "." or ".." segment. Absent "version", "totalFileSize", "fileList" and
    // "hash" read as "0.0.0.0", 0, no entries and "". The empty path is accepted: its download fails.
    static std::optional<ServerManifest> parse(const QJsonObject& document, QString* error);
};
