#include "VersionCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QThread>
#include <QUrl>

#include "ManifestSignature.h"
#include "NetworkWorker.h"
#include "OrvelVersion.h"
#include "ServiceUrls.h"
#include "UpdateLogging.h"

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

QString describeFailedRequest(const NetworkWorker& worker)
{
    return worker.statusCode().isEmpty() ? QStringLiteral("no answer") : QLatin1String("HTTP ") + worker.statusCode();
}
} // namespace

VersionCheck::VersionCheck(const QString& updateServiceUrl, QObject* parent)
    : QObject(parent), m_updateServiceUrl(updateServiceUrl)
{}

void VersionCheck::setRetry(int attempts, int pauseMs)
{
    m_attempts = attempts;
    m_pauseMs = pauseMs;
}

Failure VersionCheck::checkLauncherVersion()
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
        const QString detail =
            QStringLiteral("%1 after %2 attempts").arg(describeFailedRequest(*worker)).arg(m_attempts);
        qCDebug(lcUpdate).noquote() << "Launcher version request failed:" << detail;
        return {NetworkUnstable, detail};
    }

    const QString version = newestLauncherVersion(worker->responseData());
    const QStringList parts = version.split(QLatin1Char('.'));
    if (parts.size() < 2) {
        qCDebug(lcUpdate) << "Unusable launcher version answer:" << worker->responseData();
        return {LauncherVersionCheckFailed,
                version.isEmpty() ? QStringLiteral("no launcher version in the answer")
                                  : QStringLiteral("launcher version \"%1\" has no minor number").arg(version)};
    }
    // Text that is not a number counts as 0. Only major and minor count: with this launcher at 2.0, anything from 2.1
    // or 3 on is newer (and a negative number is no version this launcher knows).
    const int major = parts.at(0).toInt();
    const int minor = parts.at(1).toInt();
    m_launcherLatest = (major >= 0 && major < ORVEL_VERSION_MAJOR) ||
                       (major == ORVEL_VERSION_MAJOR && minor >= 0 && minor <= ORVEL_VERSION_MINOR);
    return {};
}

Failure VersionCheck::checkAppVersion(const Manifest& installed)
{
    m_appCheckFailure = Failure();
    auto* worker = new NetworkWorker(this, false);
    connect(worker, &NetworkWorker::success, this, &VersionCheck::successCheckOrvelLatestVersion);
    connect(worker, &NetworkWorker::failure, this, &VersionCheck::failureCheckOrvelLatestVersion);
    worker->get(plainGet(ServiceUrls::appUpdate(m_updateServiceUrl, installed)));
    return m_appCheckFailure;
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
        qCDebug(lcUpdate) << "liveupdate.json file does not exist.";
        recordFailure(m_appCheckFailure, {ServerManifestNotFound, QString()});
        return;
    }
    if (!m_manifestPublicKey.isEmpty()) {
        // Before anything in it is trusted: the bytes must be the publisher's.
        const QByteArray signature = worker->responseHeader(ManifestSignature::kHeader);
        QString reason;
        if (!ManifestSignature::verify(body, signature, m_manifestPublicKey, &reason)) {
            qCWarning(lcUpdate).noquote() << "server liveupdate.json not verified:" << reason;
            recordFailure(m_appCheckFailure, {UpdateNotVerified, reason});
            return;
        }
        m_signedManifest = body;
        m_manifestSignature = signature;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (document.isNull() || !document.isObject()) {
        qCDebug(lcUpdate) << "invalid server liveupdate.json file.";
        recordFailure(m_appCheckFailure,
                      {InvalidServerManifest,
                       document.isNull() ? parseError.errorString() : QStringLiteral("not a JSON object")});
        return;
    }
    // Checked here, once, before anything is downloaded: a member of the wrong type would otherwise read as a default
    // and install a build that differs from its manifest; an unsafe path would point outside the installation.
    QString refusal;
    std::optional<Manifest> manifest = Manifest::parse(document.object(), &refusal);
    if (!manifest) {
        qCDebug(lcUpdate).noquote() << "server liveupdate.json refused:" << refusal;
        qCDebug(lcUpdate) << "invalid server liveupdate.json file.";
        recordFailure(m_appCheckFailure, {InvalidServerManifest, refusal});
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
    recordFailure(m_appCheckFailure, {VersionCheckFailed, describeFailedRequest(*worker)});
}
