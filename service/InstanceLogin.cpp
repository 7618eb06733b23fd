#include "InstanceLogin.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include "DeploymentSettings.h"
#include "NetworkWorker.h"
#include "RandomText.h"
#include "ServiceLogging.h"
#include "TokenClaims.h"

InstanceLogin::InstanceLogin(QObject* parent, const QString& accountBaseUrl, int pollIntervalMs, int pollLimit)
    : QObject(parent),
      m_accountBaseUrl(accountBaseUrl.isEmpty() ? DeploymentSettings::current().accountServiceUrl() : accountBaseUrl),
      m_pollIntervalMs(pollIntervalMs), m_pollLimit(pollLimit), m_worker(new NetworkWorker(this, true))
{
    qRegisterMetaType<Failure>("Failure");
    m_request.setUrl(QUrl(m_accountBaseUrl + QStringLiteral("api/Accounts/Login/Instance")));
    m_request.setRawHeader("api-version", "2.0");
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    connect(m_worker, &NetworkWorker::success, this, &InstanceLogin::successToInstanceLogin);
    connect(m_worker, &NetworkWorker::finished, this, &InstanceLogin::onPollAnswered);
}

void InstanceLogin::onPollAnswered()
{
    if (!m_worker->certificateRefused() || !isPolling())
        return;
    const Failure refused = m_worker->lastFailure(SignInFailed);
    m_pollTimer->stop();
    m_worker->abortAllReplies();
    emit failure(refused);
}

QUrl InstanceLogin::loginUrl()
{
    if (m_loginUrl.isEmpty()) {
        m_instanceId = QString::fromUtf8(randomAlphaNumeric(32).c_str());
        m_loginUrl =
            QUrl(m_accountBaseUrl + QStringLiteral("Account/Login?InstanceId=%1&client=%2").arg(m_instanceId).arg(0) +
                 QStringLiteral("&returnUrl=/account/signedin"));
        QJsonObject body;
        body.insert(QStringLiteral("client"), 0);
        body.insert(QStringLiteral("instanceId"), m_instanceId);
        m_requestBody = QJsonDocument(body).toJson(QJsonDocument::Indented);
    }
    return m_loginUrl;
}

bool InstanceLogin::isPolling() const
{
    return m_pollTimer && m_pollTimer->isActive();
}

void InstanceLogin::startLogin()
{
    QDesktopServices::openUrl(loginUrl());
    // A second press while polling: the page again, but no second attempt with its own timer.
    if (isPolling())
        return;
    m_pollCount = 0;
    connect(m_worker, &NetworkWorker::success, this, &InstanceLogin::successToInstanceLogin, Qt::UniqueConnection);
    // Timers of earlier attempts are stopped; only the current one is kept.
    if (m_pollTimer)
        m_pollTimer->deleteLater();
    m_pollTimer = new QTimer(this);
    connect(m_pollTimer, &QTimer::timeout, this, &InstanceLogin::checkInstanceLoginState);
    m_pollTimer->start(m_pollIntervalMs);
}

void InstanceLogin::checkInstanceLoginState()
{
    if (m_pollCount > m_pollLimit) {
        m_pollTimer->stop();
        m_loginUrl.clear();
        emit failure({SignInTimeout, m_worker->lastFailure(SignInTimeout).detail});
    } else if (m_pollTimer->isActive()) {
        // Polls do not wait for each other: several may be in flight.
        m_worker->post(m_request, m_requestBody);
        ++m_pollCount;
    }
}

void InstanceLogin::successToInstanceLogin()
{
    qCDebug(lcService) << "successToInstanceLogin";
    m_pollTimer->stop();
    disconnect(m_worker, &NetworkWorker::success, this, &InstanceLogin::successToInstanceLogin);
    m_worker->abortAllReplies();

    const QByteArray token = QString::fromUtf8(m_worker->responseData()).remove(QLatin1Char('"')).toUtf8();
    const QString claimedId = decodeTokenClaims(token).value(QStringLiteral("instanceId")).toString();
    if (claimedId == m_instanceId)
        emit success(token);
    else
        emit failure({SignInFailed, QStringLiteral("instanceId in the token: \"%1\"").arg(claimedId)});
}
