#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QString>

// The published builds of the application and the answers of the update service about them.
// Filled before the server starts, read-only afterwards, so request threads share it without locks.
class BuildCatalog
{
public:
    struct File
    {
        QString absolutePath;
        qint64 size = 0;
    };

    struct Build
    {
        QString version;
        QString folder;
        QJsonObject manifest;
        QByteArray manifestJson;    // compact, computed once
        QHash<QString, File> files; // by manifest path
    };

    // What the update service answers to "orvel/patch?version=...".
    enum class PatchAnswer {
        UpToDate, // empty body
        Manifest, // the manifest of `build`
        NotFound  // the text "Not Found"
    };

    // Reads every regular file under `folder` (symbolic links are skipped) and hashes it.
    // Fails (false, `error` set) when the folder is unreadable or empty (or beyond the manifest's 2^53 bytes).
    bool publish(const QString& version, const QString& folder, QString* error);

    // The manifest of a folder as published, without publishing it. liveupdate.json at the top is left out:
    // the launcher writes its own copy there.
    static bool computeManifest(const QString& version, const QString& folder, Build* build, QString* error);

    PatchAnswer answerPatch(const QString& installedVersion, bool bDaily, const Build** build) const;

    // The build a download request names: "X" on the release channel, "X.t" with the daily channel.
    const Build* buildForDownload(const QString& version, bool bDaily) const;

    const Build* newest() const;
    QList<const Build*> builds() const;

    // Numeric, part by part; missing parts count as 0 ("1.0" == "1.0.0"). Non-numbers count as 0.
    static int compareVersions(const QString& a, const QString& b);

private:
    QMap<QString, Build> m_builds;
};
