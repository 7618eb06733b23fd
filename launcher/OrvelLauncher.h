#pragma once

#include <QJsonObject>
#include <QPoint>
#include <QStringList>
#include <QWidget>

#include "Failure.h"
#include "Manifest.h"
#include "OrvelLauncherForm.h"

class DownloadBatch;
class InstallBar;
class InstanceLogin;
class Profile;
class QPushButton;
class VersionCheck;

// The launcher's window and the controller of its whole flow: while still hidden it checks for a newer launcher,
// for an application update and for a stored sign-in; 500 ms after the event loop starts, startFlow() shows the
// window and updates, or starts the application at once. The first failure is recorded and shown in a dialog when
// the window is destroyed, after the event loop has ended.
class OrvelLauncher : public QWidget, public Ui::OrvelLauncher
{
    Q_OBJECT
    Q_DISABLE_COPY(OrvelLauncher)

public:
    OrvelLauncher();
    ~OrvelLauncher() override;

    // The deferred start, run once by the start-up timer.
    void startFlow();

    // The folder the application is installed in and started from: "OrvelPath" when it names an existing folder,
    // else the launcher's own folder; followed by "/App".
    QString installPath() const;

    LauncherError error() const { return failure.code; }

signals:
    // Cancels the request workers parented to the window (the controller itself never raises it).
    void abortReply();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private slots:
    void onClickedQuitButton();
    void onQuitLauncher();
    void instanceLogin();
    void onSuccessToInstanceLogin(QByteArray _token);
    void onFailedToInstanceLogin(LauncherError _error);
    void play();
    void onUpdateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal);

private:
    void checkLauncherVersion();
    void checkAppVersion();
    void verifyStoredToken();
    void loadArtwork();
    bool applyUpdate();
    void showWindow();

    int barMode = 0;
    Failure failure;
    bool quitByUser = false;
    bool launcherLatest = false;
    bool noUpdateAvailable = false;
    bool signedIn = false;
    Manifest localManifest;
    Manifest serverManifest;
    InstanceLogin* loginClient = nullptr;
    Profile* profile = nullptr;
    InstallBar* installBar = nullptr;
    QPushButton* quitButton = nullptr;
    QPoint dragStartCursor;
    QPoint dragStartWindow;
    // The parallel download of an update; it holds the download threads while it runs.
    DownloadBatch* downloads = nullptr;
    // The two questions to the update service; its request workers live as its children.
    VersionCheck* versionCheck = nullptr;
};
