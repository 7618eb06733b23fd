#pragma once

#include <QObject>
#include <QString>

#include "Failure.h"
#include "Manifest.h"

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

    // updateServiceUrl ends with "/".
    explicit VersionCheck(const QString& updateServiceUrl, QObject* parent = nullptr);

    // Attempts of the launcher check and the pause after each failed one; tests shorten them.
    void setRetry(int attempts, int pauseMs);
    // The publisher's Ed25519 key (standard Base64 of 32 bytes). When set, a manifest answer counts only with a
    // valid "X-Orvel-Signature" over its exact bytes; otherwise the check fails with UpdateNotVerified.
    void setManifestPublicKey(const QString& publicKeyBase64) { m_manifestPublicKey = publicKeyBase64; }

    // Asks for the newest launcher until one attempt succeeds: NetworkUnstable when none does,
    // LauncherVersionCheckFailed for an unusable answer. launcherLatest() tells the answer.
    Failure checkLauncherVersion();
    // Asks whether the installed build needs an update. Afterwards noUpdateAvailable() or serverManifest() is set
    // (checked: see Manifest::parse), or the failure is VersionCheckFailed, ServerManifestNotFound or
    // InvalidServerManifest (with the reason the manifest was refused).
    Failure checkAppVersion(const Manifest& installed);

    // No newer launcher is published: its major.minor is 0.x, 1.x or 2.0.
    bool launcherLatest() const { return m_launcherLatest; }
    bool noUpdateAvailable() const { return m_noUpdateAvailable; }
    // Empty (no document) until a valid manifest arrived.
    const Manifest& serverManifest() const { return m_serverManifest; }
    // The manifest answer's exact bytes and its signature header, as received (for the copy helper's own check).
    QByteArray signedManifest() const { return m_signedManifest; }
    QByteArray manifestSignature() const { return m_manifestSignature; }

signals:
    // Raising it cancels the requests in flight (the request workers are children of this object).
    void abortReply();

private slots:
    void successCheckOrvelLatestVersion();
    void failureCheckOrvelLatestVersion();

private:
    QString m_updateServiceUrl;
    int m_attempts = defaultAttempts;
    int m_pauseMs = defaultPauseMs;
    bool m_launcherLatest = false;
    bool m_noUpdateAvailable = false;
    Manifest m_serverManifest;
    QString m_manifestPublicKey;
    QByteArray m_signedManifest;
    QByteArray m_manifestSignature;
    // Of the application check, set by its slots.
    Failure m_appCheckFailure;
};
