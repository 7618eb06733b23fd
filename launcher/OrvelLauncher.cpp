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
#include "Repair.h"
#include "SystemMove.h"
#include "UpdateInstaller.h"
#include "VersionCheck.h"

OrvelLauncher::OrvelLauncher() : QWidget(nullptr)
{
    setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);

    loginClient = new InstanceLogin(this);
    const MainWindowWidgets widgets = createMainWindowWidgets(this);
    profile = widgets.profile;
    installBar = widgets.installBar;
    quitButton = widgets.quitButton;

    connect(installBar, &InstallBar::doSignIn, loginClient, &InstanceLogin::startLogin);
    connect(installBar, &InstallBar::doPlay, this, &OrvelLauncher::play);
    connect(loginClient, &InstanceLogin::success, this, &OrvelLauncher::onSuccessToInstanceLogin);
    connect(loginClient, &InstanceLogin::failure, this, &OrvelLauncher::onFailedToInstanceLogin);
    connect(quitButton, &QPushButton::clicked, this, &OrvelLauncher::onClickedQuitButton);

    // The progress face is ready before the window is first shown.
    showFace(InstallBar::UpdateFace);
}

OrvelLauncher::~OrvelLauncher()
{
    AccountSession::release();
}

void OrvelLauncher::startFlow()
{
    // The system's proxy and the deployment's extra certificate authorities, before the first request.
    DeploymentSettings::applyToProcess();
    localManifest = Manifest::loadInstalled(installPath());
    const Fetched<QByteArray> artwork = Account::fetchArtwork(this);
    if (artwork.ok())
        LauncherArtwork::showArtwork(lbBackground, artwork.value);

    // Still hidden: every request here is synchronous.
    VersionCheck versionCheck(DeploymentSettings::current().updateServiceUrl());
    versionCheck.setManifestPublicKey(DeploymentSettings::current().manifestPublicKey());
    recordFailure(m_failure, versionCheck.checkLauncherVersion());
    launcherLatest = versionCheck.launcherLatest();
    if (launcherLatest) {
        QStringList damaged;
        if (m_repair)
            localManifest = Repair::checkInstalled(localManifest, installPath(), &damaged);
        recordFailure(m_failure, versionCheck.checkAppVersion(localManifest));
        noUpdateAvailable = versionCheck.noUpdateAvailable();
        serverManifest = versionCheck.serverManifest();
        m_signedManifest = versionCheck.signedManifest();
        m_manifestSignature = versionCheck.manifestSignature();
        if (noUpdateAvailable && !damaged.isEmpty()) {
            // Current but damaged: the installed build's own (signed) manifest, to install it again.
            localManifest = Repair::pinnedToItself(localManifest);
            VersionCheck ownBuild(DeploymentSettings::current().updateServiceUrl());
            ownBuild.setManifestPublicKey(DeploymentSettings::current().manifestPublicKey());
            recordFailure(m_failure, ownBuild.checkAppVersion(localManifest));
            noUpdateAvailable = ownBuild.noUpdateAvailable();
            serverManifest = ownBuild.serverManifest();
            m_signedManifest = ownBuild.signedManifest();
            m_manifestSignature = ownBuild.manifestSignature();
        }
        if (AppSettings::staySignedIn()) {
            signedIn = !Account::verifyStoredToken(this).failed();
            if (signedIn)
                profile->refreshAvatar();
        }
    }

    if (m_failure.failed()) {
        showWindow();
        onQuitLauncher();
        return;
    }
    if (!launcherLatest) {
        showWindow();
        {
            MiniModal notice(this, MiniModal::Redownload, tr("A new version has been released."), NoError);
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
        showFace(signedIn ? InstallBar::PlayFace : InstallBar::SignInFace);
        emitEvent(noUpdateAvailable ? "up-to-date" : "update-installed");
    } else {
        qDebug() << "Auto-update failed.";
        emitEvent("update-failed");
        onQuitLauncher();
    }
}

void OrvelLauncher::reportFailure()
{
    if (quitByUser || !m_failure.failed())
        return;
    const QString message = failureMessage(m_failure);
    qCDebug(lcLauncher).noquote() << "Error dialog, code" << qint32(m_failure.code) << ":" << message;
    emitEvent("error-dialog");
    MiniModal dialog(this, MiniModal::Error, message, m_failure.code);
    dialog.exec();
}

void OrvelLauncher::showWindow()
{
    show();
    // Support and the start-up benchmark read when the user first sees something.
    qCDebug(lcLauncher) << "Window shown";
    emitEvent("window-shown");
}

void OrvelLauncher::showFace(InstallBar::Mode mode)
{
    barMode = mode;
    installBar->setMode(barMode);
}

QString OrvelLauncher::installPath() const
{
    // Without a usable setting: the launcher's own folder, or the per-user data folder of an installed launcher.
    const QString fallback = InstallLayout::defaultApplicationFolder(QCoreApplication::applicationDirPath());
    const QString stored = QDir::fromNativeSeparators(AppSettings::orvelPath());
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored + QStringLiteral("/App");
    return fallback + QStringLiteral("/App");
}

bool OrvelLauncher::applyUpdate()
{
    DownloadBatch batch;
    connect(&batch, &DownloadBatch::updateDownloadProgress, installBar, &InstallBar::setProgress);
    UpdateInstaller installer(
        [&batch](const QStringList& paths, const QString& url, const QString& dir, const QHash<QString, qint64>& sizes,
                 const QHash<QString, QString>& hashes) {
            return batch.downloadInParallel(paths, url, dir, sizes, hashes);
        },
        [this](const QString& downloadAppDir, const QString& target) {
            // The window goes on repainting and can be moved while the copy manager runs.
            installBar->setStatusText(tr("Installing…"));
            const bool installed = ProgramStart::runCopyManager(downloadAppDir, target);
            installBar->setStatusText(QString());
            return installed;
        });
    connect(&installer, &UpdateInstaller::totalBytes, installBar, &InstallBar::setTotalBytes);
    UpdateInstaller::Inputs inputs;
    inputs.installed = localManifest;
    inputs.server = serverManifest;
    inputs.installPath = installPath();
    inputs.updateServiceUrl = DeploymentSettings::current().updateServiceUrl();
    inputs.signedManifest = m_signedManifest;
    inputs.manifestSignature = m_manifestSignature;

    m_downloads = &batch;
    // The update's own failure; it becomes the run's failure when it is the first.
    const Failure failure = installer.applyUpdate(inputs);
    m_downloads = nullptr;
    recordFailure(m_failure, failure);
    return !failure.failed();
}

void OrvelLauncher::onClickedQuitButton()
{
    quitByUser = true;
    onQuitLauncher();
}

void OrvelLauncher::onQuitLauncher()
{
    // A running download batch winds down first; applyUpdate() then fails and the flow comes back here.
    if (m_downloads && m_downloads->isRunning()) {
        m_downloads->cancelByUser();
        return;
    }
    // Orvel, when started, already has the token; a launcher not to stay signed in keeps none on disk.
    if (!AppSettings::staySignedIn())
        AppSettings::removeStoredToken();
    QCoreApplication::quit();
}

void OrvelLauncher::onSuccessToInstanceLogin(QByteArray _token)
{
    Account::onSuccessToInstanceLogin(_token, [this] { profile->refreshAvatar(); });
    showFace(InstallBar::PlayFace);
    emitEvent("signed-in");
}

void OrvelLauncher::onFailedToInstanceLogin(Failure _failure)
{
    recordFailure(m_failure, _failure);
    onQuitLauncher();
}

void OrvelLauncher::play()
{
    recordFailure(m_failure, {ProgramStart::play(installPath()), QString()});
    onQuitLauncher();
}

void OrvelLauncher::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && startSystemMove(this))
        return;
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
