#include "OrvelLauncher.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImage>
#include <QMouseEvent>
#include <QNetworkRequest>
#include <QPushButton>
#include <QUrl>
#include <QtConcurrent>

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
#include "MessageLog.h"
#include "MiniModal.h"
#include "NetworkWorker.h"
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

VersionCheck* OrvelLauncher::startChecks()
{
    // The system's proxy and the deployment's extra certificate authorities, before the first request.
    DeploymentSettings::applyToProcess();
    auto* checks = new VersionCheck(DeploymentSettings::current().updateServiceUrl());
    checks->setManifestPublicKey(DeploymentSettings::current().manifestPublicKey());
    checks->start(Manifest::loadInstalled(installPath()));
    return checks;
}

void OrvelLauncher::beginChecks(VersionCheck* checks)
{
    m_versionCheck = checks ? checks : startChecks();
    m_versionCheck->setParent(this);
    localManifest = m_versionCheck->installed();
    loadArtwork();
    // Queued: the flow that follows may run for minutes (an update) and should not do so inside a reply's signal.
    connect(m_versionCheck, &VersionCheck::finished, this, &OrvelLauncher::onChecksFinished, Qt::QueuedConnection);
    if (m_versionCheck->isFinished())
        QMetaObject::invokeMethod(
            this, [this] { onChecksFinished(m_versionCheck->result()); }, Qt::QueuedConnection);
}

void OrvelLauncher::onChecksFinished(const Failure& failure)
{
    recordFailure(m_failure, failure);
    launcherLatest = m_versionCheck->launcherLatest();
    if (launcherLatest) {
        noUpdateAvailable = m_versionCheck->noUpdateAvailable();
        serverManifest = m_versionCheck->serverManifest();
        m_signedManifest = m_versionCheck->signedManifest();
        m_manifestSignature = m_versionCheck->manifestSignature();
        if (m_repair && !m_failure.failed())
            repairInstallation();
        if (!m_failure.failed() && AppSettings::staySignedIn()) {
            // A refused token means signing in again; a refused certificate is the service's problem to report.
            const Failure verified = Account::verifyStoredToken(this);
            signedIn = !verified.failed();
            if (verified.code == SslError)
                recordFailure(m_failure, verified);
        }
    }
    m_checksDone = true;
    // A needed update starts now rather than at the deferred start, which then shows its progress.
    const bool bUpdateNeeded = !m_failure.failed() && launcherLatest && !noUpdateAvailable;
    if (m_startDue || bUpdateNeeded)
        continueFlow();
}

void OrvelLauncher::repairInstallation()
{
    // Files whose content differs from the installed manifest count as changed, so the update fetches them again.
    QStringList damaged;
    localManifest = Repair::checkInstalled(localManifest, installPath(), &damaged);
    if (!noUpdateAvailable || damaged.isEmpty())
        return;
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

void OrvelLauncher::startFlow()
{
    if (m_startDue)
        return;
    m_startDue = true;
    if (m_update != UpdateState::None) {
        // The update began before the window: the window shows it, and an update already over ends as it would have.
        showUpdateWindow();
        if (m_update == UpdateState::Ended)
            finishUpdate(m_bUpdated);
        return;
    }
    if (m_checksDone) {
        continueFlow();
        return;
    }
    // Never invisible: the window shows now and the flow goes on when the service has answered.
    qCInfo(lcLauncher) << "Checks not done yet: connecting";
    installBar->setStatusText(tr("Connecting…"));
    showFace(InstallBar::UpdateFace);
    showWindow();
}

void OrvelLauncher::continueFlow()
{
    installBar->setStatusText(QString());
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
    if (m_startDue)
        showUpdateWindow();
    if (noUpdateAvailable) {
        finishUpdate(true);
        return;
    }
    m_update = UpdateState::Running;
    emitEvent("update-started");
    m_bUpdated = applyUpdate();
    m_update = UpdateState::Ended;
    // Before the deferred start the window is not there yet: the end is shown with it.
    if (m_startDue)
        finishUpdate(m_bUpdated);
}

void OrvelLauncher::showUpdateWindow()
{
    showWindow();
    // The photo only matters once the window is on screen.
    if (signedIn)
        profile->refreshAvatar();
}

void OrvelLauncher::finishUpdate(bool bUpdated)
{
    if (bUpdated) {
        showFace(signedIn ? InstallBar::PlayFace : InstallBar::SignInFace);
        emitEvent(noUpdateAvailable ? "up-to-date" : "update-installed");
    } else {
        qDebug() << "Auto-update failed.";
        emitEvent("update-failed");
        onQuitLauncher();
    }
}

void OrvelLauncher::loadArtwork()
{
    // Both requests and the picture's decoding run while the window waits; the picture replaces the built-in
    // background when it arrives. Without artwork the built-in background stays.
    const QString base = DeploymentSettings::current().accountServiceUrl();
    auto* addressWorker = new NetworkWorker(this, true);
    connect(addressWorker, &NetworkWorker::finished, this, [this, addressWorker] {
        addressWorker->deleteLater();
        const QUrl address(QString::fromUtf8(addressWorker->responseData()).remove(QLatin1Char('"')),
                           QUrl::TolerantMode);
        if (!addressWorker->isSuccess() || address.isEmpty())
            return;
        auto* pictureWorker = new NetworkWorker(this, true);
        connect(pictureWorker, &NetworkWorker::finished, this, [this, pictureWorker] {
            pictureWorker->deleteLater();
            if (!pictureWorker->isSuccess() || pictureWorker->responseData().isEmpty())
                return;
            auto* decoded = new QFutureWatcher<QImage>(this);
            connect(decoded, &QFutureWatcher<QImage>::finished, this, [this, decoded] {
                decoded->deleteLater();
                if (decoded->result().isNull())
                    return;
                LauncherArtwork::showImage(lbBackground, decoded->result());
                m_backgroundShown = true;
            });
            decoded->setFuture(
                QtConcurrent::run(&LauncherArtwork::decode, pictureWorker->responseData(), lbBackground->size()));
        });
        pictureWorker->get(QNetworkRequest(address));
    });
    addressWorker->get(QNetworkRequest(QUrl(base + QStringLiteral("api/Orvel/LauncherArtwork?api-version=2"))));
}

void OrvelLauncher::reportFailure()
{
    if (quitByUser || !m_failure.failed())
        return;
    const QString message = failureMessage(m_failure);
    qCDebug(lcLauncher).noquote() << "Error dialog, code" << qint32(m_failure.code) << ":" << message;
    emitEvent("error-dialog");
    MiniModal dialog(this, MiniModal::Error, message, m_failure.code);
    dialog.setLogPath(MessageLog::activePath());
    // Offline with Orvel installed: the user can still work with the installed build.
    const bool offline = m_failure.code == VersionCheckFailed || m_failure.code == NetworkUnstable;
    if (offline && ProgramStart::isInstalled(installPath()))
        dialog.setAlternative(tr("Start Orvel"));
    if (dialog.exec() == MiniModal::AlternativeChosen) {
        const LauncherError started = ProgramStart::play(installPath());
        qCInfo(lcLauncher) << "Started the installed Orvel while offline, code" << qint32(started);
    }
}

void OrvelLauncher::showWindow()
{
    // Decoded on a worker thread since the start; usually ready by now.
    if (!m_backgroundShown)
        LauncherArtwork::showBuiltInBackground(lbBackground);
    m_backgroundShown = true;
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

QString OrvelLauncher::installPath()
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
