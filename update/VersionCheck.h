#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include "Failure.h"
#include "Manifest.h"

class NetworkWorker;

// The two questions put to the update service before the launcher's window is shown: is a newer launcher published
// (decided here from the newest listed version), and does the installed application need an update (decided by the
// service: an empty answer, "Not Found", or the manifest of the build to install). start() runs both without blocking
// and reports once through finished(); the launcher shows its window meanwhile if they take long.
class VersionCheck : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(VersionCheck)

public:
    static constexpr int defaultAttempts = 100;
    static constexpr int defaultPauseMs = 500;
    // However the service behaves, the launcher check gives up after this long.
    static constexpr int defaultBudgetMs = 60000;

    // updateServiceUrl ends with "/".
    explicit VersionCheck(const QString& updateServiceUrl, QObject* parent = nullptr);

    // Attempts of the launcher check, the pause after each failed one and the time they may take together (each
    // attempt's time limit is shortened to what is left); tests shorten them.
    void setRetry(int attempts, int pauseMs, int budgetMs = defaultBudgetMs);
    // The publisher's Ed25519 key (standard Base64 of 32 bytes). When set, a manifest answer counts only with a
    // valid "X-Orvel-Signature" over its exact bytes; otherwise the check fails with UpdateNotVerified.
    void setManifestPublicKey(const QString& publicKeyBase64) { m_manifestPublicKey = publicKeyBase64; }

    // Asks for the newest launcher until one attempt succeeds, and then, when no newer launcher is published,
    // whether `installed` needs an update; finished() follows once with the first failure (none on success).
    // The launcher check fails with NetworkUnstable when no attempt succeeds within its attempts and time,
    // LauncherVersionCheckFailed for an unusable answer, and at once with SslError (and the TLS errors) when the
    // service's certificate is refused: another attempt would meet the same certificate.
    void start(const Manifest& installed);
    bool isFinished() const { return m_finished; }
    // What finished() reported; the installed build start() was given.
    Failure result() const { return m_result; }
    const Manifest& installed() const { return m_installed; }
    // The application check alone, waiting for its answer. Afterwards noUpdateAvailable() or serverManifest() is
    // set (checked: see Manifest::parse), or the failure is VersionCheckFailed (SslError for a refused
    // certificate), ServerManifestNotFound or InvalidServerManifest (with the reason the manifest was refused).
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
    void finished(Failure failure);
    // Raising it cancels the requests in flight (the request workers are children of this object).
    void abortReply();

private:
    void sendLauncherRequest();
    void onLauncherAnswer();
    Failure evaluateLauncherAnswer();
    void startAppCheck(const Manifest& installed);
    void onAppAnswer(NetworkWorker* worker);
    void successCheckOrvelLatestVersion(NetworkWorker* worker);
    void failureCheckOrvelLatestVersion(NetworkWorker* worker);
    void finish(const Failure& failure);

    QString m_updateServiceUrl;
    int m_attempts = defaultAttempts;
    int m_pauseMs = defaultPauseMs;
    int m_budgetMs = defaultBudgetMs;
    Manifest m_installed;
    QPointer<NetworkWorker> m_launcherWorker;
    int m_attempt = 0;
    QElapsedTimer m_clock;
    bool m_checkingApp = false;
    bool m_finished = false;
    Failure m_result;
    bool m_launcherLatest = false;
    bool m_noUpdateAvailable = false;
    Manifest m_serverManifest;
    QString m_manifestPublicKey;
    QByteArray m_signedManifest;
    QByteArray m_manifestSignature;
    // Of the application check, set by its slots.
    Failure m_appCheckFailure;
};
