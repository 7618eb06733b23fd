#include "VersionCheck.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTimer>
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
{
    qRegisterMetaType<Failure>("Failure");
}

void VersionCheck::setRetry(int attempts, int pauseMs, int budgetMs)
{
    m_attempts = attempts;
    m_pauseMs = pauseMs;
    m_budgetMs = budgetMs;
}

void VersionCheck::start(const Manifest& installed)
{
    m_installed = installed;
    m_finished = false;
    m_checkingApp = false;
    m_attempt = 0;
    m_clock.start();
    if (!m_launcherWorker) {
        m_launcherWorker = new NetworkWorker(this, true);
        connect(m_launcherWorker, &NetworkWorker::finished, this, &VersionCheck::onLauncherAnswer);
    }
    sendLauncherRequest();
}

void VersionCheck::sendLauncherRequest()
{
    QNetworkRequest request = plainGet(ServiceUrls::launcherArchive(m_updateServiceUrl));
    // The last attempts get only the time that is left.
    const qint64 left = m_budgetMs - m_clock.elapsed();
    request.setTransferTimeout(int(qBound<qint64>(1, left, m_launcherWorker->transferTimeout())));
    ++m_attempt;
    m_launcherWorker->get(request);
}

void VersionCheck::onLauncherAnswer()
{
    if (m_launcherWorker->isSuccess()) {
        const Failure failure = evaluateLauncherAnswer();
        if (failure.failed() || !m_launcherLatest) {
            finish(failure);
            return;
        }
        m_checkingApp = true;
        startAppCheck(m_installed);
        return;
    }
    if (m_launcherWorker->certificateRefused()) {
        const Failure failure = m_launcherWorker->lastFailure(NetworkUnstable);
        qCWarning(lcUpdate).noquote() << "Launcher version request refused the service's certificate:"
                                      << failure.detail;
        finish(failure);
        return;
    }
    if (m_attempt < m_attempts && m_clock.elapsed() + m_pauseMs < m_budgetMs) {
        QTimer::singleShot(m_pauseMs, this, &VersionCheck::sendLauncherRequest);
        return;
    }
    const QString detail = QStringLiteral("%1 after %2 attempts in %3 s")
                               .arg(describeFailedRequest(*m_launcherWorker))
                               .arg(m_attempt)
                               .arg(m_clock.elapsed() / 1000);
    qCWarning(lcUpdate).noquote() << "Launcher version request failed:" << detail;
    finish({NetworkUnstable, detail});
}

Failure VersionCheck::evaluateLauncherAnswer()
{
    const QString version = newestLauncherVersion(m_launcherWorker->responseData());
    const QStringList parts = version.split(QLatin1Char('.'));
    if (parts.size() < 2) {
        qCWarning(lcUpdate) << "Unusable launcher version answer:" << m_launcherWorker->responseData();
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

void VersionCheck::finish(const Failure& failure)
{
    m_finished = true;
    m_result = failure;
    qCDebug(lcUpdate) << "Version checks answered in" << m_clock.elapsed() << "ms";
    emit finished(failure);
}

Failure VersionCheck::checkAppVersion(const Manifest& installed)
{
    m_checkingApp = false;
    QEventLoop loop;
    connect(this, &VersionCheck::abortReply, &loop, &QEventLoop::quit);
    m_appCheckFailure = Failure();
    bool answered = false;
    auto* worker = new NetworkWorker(this, true);
    connect(worker, &NetworkWorker::finished, &loop, [&answered, &loop] {
        answered = true;
        loop.quit();
    });
    connect(worker, &NetworkWorker::finished, this, [this, worker] { onAppAnswer(worker); });
    worker->get(plainGet(ServiceUrls::appUpdate(m_updateServiceUrl, installed)));
    if (!answered)
        loop.exec();
    return m_appCheckFailure;
}

void VersionCheck::startAppCheck(const Manifest& installed)
{
    m_appCheckFailure = Failure();
    auto* worker = new NetworkWorker(this, true);
    connect(worker, &NetworkWorker::finished, this, [this, worker] { onAppAnswer(worker); });
    worker->get(plainGet(ServiceUrls::appUpdate(m_updateServiceUrl, installed)));
}

void VersionCheck::onAppAnswer(NetworkWorker* worker)
{
    if (worker->isSuccess())
        successCheckOrvelLatestVersion(worker);
    else
        failureCheckOrvelLatestVersion(worker);
    worker->deleteLater();
    if (m_checkingApp) {
        m_checkingApp = false;
        finish(m_appCheckFailure);
    }
}

void VersionCheck::successCheckOrvelLatestVersion(NetworkWorker* worker)
{
    const QByteArray body = worker->responseData();

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

void VersionCheck::failureCheckOrvelLatestVersion(NetworkWorker* worker)
{
    // A refused certificate is SslError, with the TLS errors.
    Failure failure = worker->lastFailure(VersionCheckFailed);
    if (!failure.failed())
        failure = {VersionCheckFailed, describeFailedRequest(*worker)};
    qCWarning(lcUpdate).noquote() << "Application version request failed:" << failure.detail;
    recordFailure(m_appCheckFailure, failure);
}
