#include "OrvelLauncher.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "AccountFlows.h"
#include "AccountSession.h"
#include "AppSettings.h"
#include "DeploymentSettings.h"
#include "DownloadBatch.h"
#include "ErrorMessage.h"
#include "Events.h"
#include "InstallBar.h"
#include "InstallLayout.h"
#include "InstanceLogin.h"
#include "LauncherArtwork.h"
#include "LauncherLogging.h"
#include "MainWindowWidgets.h"
#include "MiniModal.h"
#include "Profile.h"
#include "ProgramStart.h"
#include "UpdateInstaller.h"
#include "VersionCheck.h"

OrvelLauncher::OrvelLauncher() : QWidget(nullptr)
{
    setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);

    barMode = 0;
    launcherError = NoError;
    quitByUser = false;
    launcherLatest = false;
    noUpdateAvailable = false;
    signedIn = false;
    downloads = new DownloadBatch(launcherError, errorDetails, this);
    versionCheck = new VersionCheck(DeploymentSettings::current().updateServiceUrl(), launcherError, this);

    loginClient = new InstanceLogin(this);
    const MainWindowWidgets widgets = createMainWindowWidgets(this);
    profile = widgets.profile;
    installBar = widgets.installBar;
    quitButton = widgets.quitButton;
    localManifest = Manifest::loadLocalManifest(installPath());
    localHashes = Manifest::indexLocalHashes(localManifest);

    // The system's proxy and the deployment's extra certificate authorities, before the first request.
    DeploymentSettings::applyToProcess();
    loadArtwork();

    connect(installBar, &InstallBar::doSignIn, this, &OrvelLauncher::instanceLogin);
    connect(installBar, &InstallBar::doPlay, this, &OrvelLauncher::play);
    connect(loginClient, &InstanceLogin::success, this, &OrvelLauncher::onSuccessToInstanceLogin);
    connect(loginClient, &InstanceLogin::failure, this, &OrvelLauncher::onFailedToInstanceLogin);
    connect(quitButton, &QPushButton::clicked, this, &OrvelLauncher::onClickedQuitButton);
    connect(downloads, &DownloadBatch::updateDownloadProgress, this, &OrvelLauncher::onUpdateDownloadProgress);

    checkLauncherVersion();
    if (launcherLatest) {
        checkAppVersion();
        if (readAppSetting(QStringLiteral("StaySignedIn"), false).toBool()) {
            verifyStoredToken();
            if (signedIn)
                profile->refreshAvatar();
        }
    }

    barMode = 0;
    installBar->setMode(barMode);
}

OrvelLauncher::~OrvelLauncher()
{
    if (!quitByUser && launcherError != NoError) {
        const QString message = launcherErrorMessage(launcherError) + errorDetails.join(QLatin1Char('.'));
        qCDebug(lcLauncher).noquote() << "Error dialog, code" << qint32(launcherError) << ":" << message;
        emitEvent("error-dialog");
        MiniModal dialog(this, MiniModal::Error, message, launcherError);
        dialog.exec();
    }
    AccountSession::release();
}

void OrvelLauncher::startFlow()
{
    if (launcherError != NoError) {
        showWindow();
        onQuitLauncher();
        return;
    }
    if (!launcherLatest) {
        showWindow();
        {
            MiniModal notice(this, MiniModal::Redownload, tr("A new version has been released."), 0);
            notice.exec();
        }
        QDesktopServices::openUrl(QUrl(DeploymentSettings::current().connectUrl()));
        onQuitLauncher();
        return;
    }
    if (noUpdateAvailable && signedIn) {
        play();
        return;
    }
    showWindow();
    if (noUpdateAvailable || applyUpdate()) {
        barMode = signedIn ? 2 : 1;
        installBar->setMode(barMode);
        emitEvent(noUpdateAvailable ? "up-to-date" : "update-installed");
    } else {
        qDebug() << "Auto-update failed.";
        emitEvent("update-failed");
        onQuitLauncher();
    }
}

void OrvelLauncher::showWindow()
{
    show();
    // Support and the start-up benchmark read when the user first sees something.
    qCDebug(lcLauncher) << "Window shown";
    emitEvent("window-shown");
}

QString OrvelLauncher::installPath() const
{
    // Without a usable setting: the launcher's own folder, or the per-user data folder of an installed launcher.
    const QString fallback = InstallLayout::defaultApplicationFolder(QCoreApplication::applicationDirPath());
    const QString stored = QDir::fromNativeSeparators(readAppSetting(QStringLiteral("OrvelPath"), fallback).toString());
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored + QStringLiteral("/App");
    return fallback + QStringLiteral("/App");
}

void OrvelLauncher::checkLauncherVersion()
{
    launcherLatest = versionCheck->checkLauncherVersion();
}

void OrvelLauncher::checkAppVersion()
{
    versionCheck->checkAppVersion(localManifest);
    noUpdateAvailable = versionCheck->noUpdateAvailable();
    serverManifest = versionCheck->serverManifest();
}

void OrvelLauncher::verifyStoredToken()
{
    signedIn = Account::verifyStoredToken(this);
}

void OrvelLauncher::loadArtwork()
{
    LauncherArtwork::loadArtwork(lbBackground, this);
}

bool OrvelLauncher::applyUpdate()
{
    UpdateInstaller installer(*downloads, launcherError, [](const QString& downloadAppDir, const QString& target) {
        return ProgramStart::startCopyManager(downloadAppDir, target);
    });
    connect(&installer, &UpdateInstaller::totalBytes, installBar, &InstallBar::setTotalBytes);
    UpdateInstaller::Inputs inputs;
    inputs.localManifest = localManifest;
    inputs.serverManifest = serverManifest;
    inputs.localHashes = localHashes;
    inputs.installPath = installPath();
    inputs.updateServiceUrl = DeploymentSettings::current().updateServiceUrl();
    return installer.applyUpdate(inputs);
}

void OrvelLauncher::onClickedQuitButton()
{
    quitByUser = true;
    onQuitLauncher();
}

void OrvelLauncher::onQuitLauncher()
{
    // A running download batch winds down first; applyUpdate() then fails and the flow comes back here.
    if (downloads->isRunning()) {
        downloads->cancelByUser();
        return;
    }
    QCoreApplication::quit();
}

void OrvelLauncher::instanceLogin()
{
    loginClient->startLogin();
}

void OrvelLauncher::onSuccessToInstanceLogin(QByteArray _token)
{
    Account::onSuccessToInstanceLogin(_token, [this] { profile->refreshAvatar(); });
    barMode = 2;
    installBar->setMode(barMode);
    emitEvent("signed-in");
}

void OrvelLauncher::onFailedToInstanceLogin(LauncherError _error)
{
    recordError(launcherError, _error);
    onQuitLauncher();
}

void OrvelLauncher::play()
{
    recordError(launcherError, ProgramStart::play(installPath()));
    onQuitLauncher();
}

void OrvelLauncher::onUpdateDownloadProgress(qint64 _bytesReceived, qint64 _bytesTotal)
{
    installBar->setProgress(_bytesReceived, _bytesTotal);
}

void OrvelLauncher::mousePressEvent(QMouseEvent* event)
{
    dragStartCursor = event->globalPos();
    dragStartWindow = geometry().topLeft();
}

void OrvelLauncher::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint offset = event->globalPos() - dragStartCursor;
    if (offset.manhattanLength() < QApplication::startDragDistance())
        return;
    move(dragStartWindow + offset);
}
