#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include "LauncherError.h"
#include "ServerManifest.h"

// The two questions put to the update service before the launcher's window is shown: is a newer launcher published
// (decided here from the newest listed version), and does the installed application need an update (decided by the
// service: an empty answer, "Not Found", or the manifest of the build to install). Both requests are synchronous.
class VersionCheck : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(VersionCheck)

public:
    static constexpr int defaultAttempts = 100;
    static constexpr int defaultPauseMs = 500;

    // updateServiceUrl ends with "/". Failures are recorded into launcherError (the first one wins).
    VersionCheck(const QString& updateServiceUrl, LauncherError& launcherError, QObject* parent = nullptr);

    // Attempts of the launcher check and the pause after each failed one; tests shorten them.
    void setRetry(int attempts, int pauseMs);

    // Asks for the newest launcher until one attempt succeeds; records NetworkUnstable when none does and
    // LauncherVersionCheckFailed for an unusable answer. Returns launcherLatest().
    bool checkLauncherVersion();
    // Asks whether the build described by localManifest needs an update. Afterwards noUpdateAvailable() or
    // serverManifest() is set (checked: see ServerManifest::parse), or VersionCheckFailed, ServerManifestNotFound or
    // InvalidServerManifest is recorded.
    void checkAppVersion(const QJsonObject& localManifest);

    // No newer launcher is published: its major.minor is 0.x, 1.x or 2.0.
    bool launcherLatest() const { return m_launcherLatest; }
    bool noUpdateAvailable() const { return m_noUpdateAvailable; }
    // Empty (no document) until a valid manifest arrived.
    const ServerManifest& serverManifest() const { return m_serverManifest; }

signals:
    // Raising it cancels the requests in flight (the request workers are children of this object).
    void abortReply();

private slots:
    void successCheckOrvelLatestVersion();
    void failureCheckOrvelLatestVersion();

private:
    QString m_updateServiceUrl;
    LauncherError& m_launcherError;
    int m_attempts = defaultAttempts;
    int m_pauseMs = defaultPauseMs;
    bool m_launcherLatest = false;
    bool m_noUpdateAvailable = false;
    ServerManifest m_serverManifest;
};
