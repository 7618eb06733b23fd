#include "AccountFlows.h"

#include <QJsonDocument>
#include <QNetworkRequest>

#include "AccountSession.h"
#include "AppSettings.h"
#include "CryptoUtil.h"
#include "DeploymentSettings.h"
#include "NetworkWorker.h"
#include "SealingKey.h"

namespace Account {

namespace {

QString baseOrDeployment(const QString& accountBaseUrl)
{
    return accountBaseUrl.isEmpty() ? DeploymentSettings::current().accountServiceUrl() : accountBaseUrl;
}

// A GET for the signed-in user: the common header set on base + path.
QNetworkRequest userRequest(const QString& accountBaseUrl, const QString& path)
{
    QNetworkRequest request(QUrl(baseOrDeployment(accountBaseUrl) + path));
    AccountSession::instance()->applyAuthHeaders(request);
    return request;
}

} // namespace

bool verifyStoredToken(QObject* parent, const QString& accountBaseUrl)
{
    const QByteArray sealed = AppSettings::storedToken();
    const QByteArray token = Verdant::CryptoUtil().decrypt(sealed, SealingKey);
    AccountSession::instance()->setToken(token);

    auto* worker = new NetworkWorker(parent, false);
    worker->get(userRequest(accountBaseUrl, QStringLiteral("api/accounts/Users/Info")));
    const bool accepted = worker->isSuccess();
    worker->deleteLater(); // its request is over; no need to keep it until the window goes
    return accepted;
}

void onSuccessToInstanceLogin(const QByteArray& _token, const std::function<void()>& refreshAvatar)
{
    AccountSession::instance()->setToken(_token);
    if (refreshAvatar)
        refreshAvatar();
    const QByteArray sealed = Verdant::CryptoUtil().encrypt(_token, SealingKey);
    AppSettings::setStoredToken(sealed);
}

QUrl fetchUserPhotoUrl(QObject* parent, const QString& accountBaseUrl)
{
    auto* worker = new NetworkWorker(parent, false);
    worker->get(
        userRequest(accountBaseUrl, QStringLiteral("api/PCS/Users/") + AccountSession::instance()->userIdText()));
    worker->deleteLater();
    if (!worker->isSuccess())
        return QUrl();
    const QJsonDocument document = worker->responseJson();
    if (document.isNull() || document.isEmpty())
        return QUrl();
    const QVariantMap record = document.toVariant().toMap();
    if (record.isEmpty())
        return QUrl();
    return QUrl(record.value(QStringLiteral("photo")).toString());
}

QByteArray fetchUserPhoto(QObject* parent, const QString& accountBaseUrl)
{
    const QUrl photo = fetchUserPhotoUrl(parent, accountBaseUrl);
    if (photo.isEmpty())
        return QByteArray();
    auto* worker = new NetworkWorker(parent, false);
    worker->get(QNetworkRequest(photo));
    worker->deleteLater();
    return worker->isSuccess() ? worker->responseData() : QByteArray();
}

} // namespace Account
