#include "VersionCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QThread>
#include <QUrl>

#include "LauncherLogging.h"
#include "OrvelVersion.h"
#include "NetworkWorker.h"
#include "ServiceUrls.h"

namespace {
QNetworkRequest plainGet(const QString& address)
{
    return QNetworkRequest(QUrl(address, QUrl::TolerantMode));
}

// The "version" of the first archive entry, or an empty text when the answer has none.
QString newestLauncherVersion(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isNull() || document.isEmpty() || !document.isObject())
        return {};
    const QJsonObject root = document.object();
    if (root.isEmpty())
        return {};
    const QJsonValue archive = root.value(QLatin1String("archive"));
    if (!archive.isArray() || archive.toArray().isEmpty())
        return {};
    const QJsonValue first = archive.toArray().first();
    if (!first.isObject() || first.toObject().isEmpty())
        return {};
    return first.toObject().value(QLatin1String("version")).toString();
}
} // namespace

VersionCheck::VersionCheck(const QString& updateServiceUrl, LauncherError& launcherError, QObject* parent)
    : QObject(parent), m_updateServiceUrl(updateServiceUrl), m_launcherError(launcherError)
{}

void VersionCheck::setRetry(int attempts, int pauseMs)
{
    m_attempts = attempts;
    m_pauseMs = pauseMs;
}

bool VersionCheck::checkLauncherVersion()
{
    const QNetworkRequest request = plainGet(ServiceUrls::launcherArchive(m_updateServiceUrl));
    auto* worker = new NetworkWorker(this, false);
    bool answered = false;
    for (int attempt = 0; attempt < m_attempts && !answered; ++attempt) {
        worker->get(request);
        answered = worker->isSuccess();
        // The window is not shown yet: blocking only delays its appearance.
        if (!answered)
            QThread::msleep(static_cast<unsigned long>(m_pauseMs));
    }
    if (!answered) {
        qCDebug(lcLauncher) << "No answer to the launcher version request after" << m_attempts << "attempts";
        recordError(m_launcherError, NetworkUnstable);
        return m_launcherLatest;
    }

    const QStringList parts = newestLauncherVersion(worker->responseData()).split(QLatin1Char('.'));
    if (parts.size() < 2) {
        qCDebug(lcLauncher) << "Unusable launcher version answer:" << worker->responseData();
        recordError(m_launcherError, LauncherVersionCheckFailed);
        return m_launcherLatest;
    }
    // Text that is not a number counts as 0. Only major and minor count: with this launcher at 2.0, anything from 2.1
    // or 3 on is newer (and a negative number is no version this launcher knows).
    const int major = parts.at(0).toInt();
    const int minor = parts.at(1).toInt();
    m_launcherLatest = (major >= 0 && major < ORVEL_VERSION_MAJOR) ||
                       (major == ORVEL_VERSION_MAJOR && minor >= 0 && minor <= ORVEL_VERSION_MINOR);
    return m_launcherLatest;
}

void VersionCheck::checkAppVersion(const QJsonObject& localManifest)
{
    auto* worker = new NetworkWorker(this, false);
    connect(worker, &NetworkWorker::success, this, &VersionCheck::successCheckOrvelLatestVersion);
    connect(worker, &NetworkWorker::failure, this, &VersionCheck::failureCheckOrvelLatestVersion);
    worker->get(plainGet(ServiceUrls::appUpdate(m_updateServiceUrl, localManifest)));
}

void VersionCheck::successCheckOrvelLatestVersion()
{
    auto* worker = qobject_cast<NetworkWorker*>(sender());
    if (!worker)
        return;
    const QByteArray body = worker->responseData();
    worker->deleteLater();

    if (body.isEmpty()) {
        m_noUpdateAvailable = true;
        return;
    }
    if (QString::fromUtf8(body) == QLatin1String("Not Found")) {
        qCDebug(lcLauncher) << "liveupdate.json file does not exist.";
        recordError(m_launcherError, ServerManifestNotFound);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isNull() || !document.isObject()) {
        qCDebug(lcLauncher) << "invalid server liveupdate.json file.";
        recordError(m_launcherError, InvalidServerManifest);
        return;
    }
    // Checked here, once, before anything is downloaded: a member of the wrong type would otherwise read as a default
    // and install a build that differs from its manifest; an unsafe path would point outside the installation.
    QString error;
    std::optional<ServerManifest> manifest = ServerManifest::parse(document.object(), &error);
    if (!manifest) {
        qCDebug(lcLauncher).noquote() << "server liveupdate.json refused:" << error;
        qCDebug(lcLauncher) << "invalid server liveupdate.json file.";
        recordError(m_launcherError, InvalidServerManifest);
        return;
    }
    m_serverManifest = std::move(*manifest);
}

void VersionCheck::failureCheckOrvelLatestVersion()
{
    auto* worker = qobject_cast<NetworkWorker*>(sender());
    if (!worker)
        return;
    worker->deleteLater();
    recordError(m_launcherError, VersionCheckFailed);
}
