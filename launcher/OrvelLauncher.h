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

// The launcher's window and the controller of its whole flow. The constructor only builds the window; 500 ms after
// the event loop starts, startFlow() asks for a newer launcher, for an application update and for a stored sign-in
// while the window is still hidden, then shows the window and updates, or starts the application at once. The
// first failure is recorded and shown by reportFailure() once the event loop has ended.
class OrvelLauncher : public QWidget, public Ui::OrvelLauncher
{
    Q_OBJECT
    Q_DISABLE_COPY(OrvelLauncher)

public:
    OrvelLauncher();
    ~OrvelLauncher() override;

    // The deferred start, run once by the start-up timer.
    void startFlow();

    // Run after the event loop has ended: shows the first recorded failure in the error dialog, unless the user
    // quit with the close button.
    void reportFailure();

    // The folder the application is installed in and started from: "OrvelPath" when it names an existing folder,
    // else the launcher's own folder (an installed launcher on Linux: the per-user $XDG_DATA_HOME/orvel); followed
    // by "/App".
    QString installPath() const;

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
