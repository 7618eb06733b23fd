#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "Failure.h"
#include "InstallBar.h"
#include "Manifest.h"
#include "OrvelLauncherForm.h"

class DownloadBatch;
class InstanceLogin;
class Profile;
class QPushButton;
class VersionCheck;

// The launcher's window and the controller of its whole flow. The checks (a newer launcher, an application update)
// start before the window is built, with startChecks(), and run without blocking; the window takes them over with
// beginChecks() and then asks for a stored sign-in. The deferred start, startFlow(), shows the window and updates, or
// starts the application at once. When the checks are not done by then, the window shows at once with a
// "Connecting…" face and the flow goes on when they are. An update needed starts as soon as the checks have answered,
// and the window shows its progress at the deferred start. The first failure is recorded and shown by reportFailure()
// once the event loop has ended.
class OrvelLauncher : public QWidget, public Ui::OrvelLauncher
{
    Q_OBJECT
    Q_DISABLE_COPY(OrvelLauncher)

public:
    OrvelLauncher();
    ~OrvelLauncher() override;

    // Starts the version checks for the installed build, before there is a window (the requests go out while it is
    // built); the result is for beginChecks().
    static VersionCheck* startChecks();
    // Takes over the checks (started here when null) and goes on when they are done; run once.
    void beginChecks(VersionCheck* checks = nullptr);
    // The deferred start, run once by the start-up timer.
    void startFlow();

    // Run after the event loop has ended: shows the first recorded failure in the error dialog, unless the user
    // quit with the close button. When the service could not be reached and the application is installed, the
    // dialog also offers to start it as Play does.
    void reportFailure();

    // The folder the application is installed in and started from: "OrvelPath" when it names an existing folder,
    // else the launcher's own folder (an installed launcher on Linux: the per-user $XDG_DATA_HOME/orvel); followed
    // by "/App".
    static QString installPath();

    LauncherError error() const { return m_failure.code; }

    // OrvelLauncher --verify: before the update check, installed files whose content differs from the installed
    // manifest count as changed (with sha256 verification only), so the update installs them again, also when the
    // installed build is current.
    void setRepair(bool bRepair) { m_repair = bRepair; }

signals:
    // Cancels the request workers parented to the window (the controller itself never raises it).
    void abortReply();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private slots:
    void onClickedQuitButton();
    void onQuitLauncher();
    void onSuccessToInstanceLogin(QByteArray _token);
    void onFailedToInstanceLogin(Failure _failure);
    void play();

private:
    void onChecksFinished(const Failure& failure);
    void repairInstallation();
    void continueFlow();
    void showUpdateWindow();
    // Shows how the update ended: the sign-in or play face, or the failure and quit.
    void finishUpdate(bool bUpdated);
    void loadArtwork();
    bool applyUpdate();
    void showWindow();
    void showFace(InstallBar::Mode mode);

    InstallBar::Mode barMode = InstallBar::UpdateFace;
    // The first failure of the run, with its details; later failures never overwrite it.
    Failure m_failure;
    bool quitByUser = false;
    bool launcherLatest = false;
    bool noUpdateAvailable = false;
    bool signedIn = false;
    VersionCheck* m_versionCheck = nullptr;
    // The checks have answered (or failed); the start-up timer has fired.
    bool m_checksDone = false;
    bool m_startDue = false;
    // An update needed when the checks answer starts at once, also before the deferred start; that start then only
    // shows the window (and the end of an update that was over before it).
    enum class UpdateState { None, Running, Ended };
    UpdateState m_update = UpdateState::None;
    bool m_bUpdated = false;
    // The built-in background or the service's artwork is in place.
    bool m_backgroundShown = false;
    bool m_repair = false;
    Manifest localManifest;
    Manifest serverManifest;
    // With a manifest key: the manifest answer's bytes and signature, handed on to the copy helper.
    QByteArray m_signedManifest;
    QByteArray m_manifestSignature;
    InstanceLogin* loginClient = nullptr;
    Profile* profile = nullptr;
    InstallBar* installBar = nullptr;
    QPushButton* quitButton = nullptr;
    QPoint dragStartCursor;
    QPoint dragStartWindow;
    // The parallel download of a running update (it holds the download threads); null outside applyUpdate().
    QPointer<DownloadBatch> m_downloads;
};
