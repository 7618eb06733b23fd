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

QUrl serviceUrl(const QString& accountBaseUrl, const QString& path)
{
    return QUrl((accountBaseUrl.isEmpty() ? DeploymentSettings::current().accountServiceUrl() : accountBaseUrl) + path);
}

// A GET for the signed-in user: the common header set on base + path.
QNetworkRequest userRequest(const QString& accountBaseUrl, const QString& path)
{
    QNetworkRequest request(serviceUrl(accountBaseUrl, path));
    AccountSession::instance()->applyAuthHeaders(request);
    return request;
}

// A synchronous GET whose body counts only on "200".
Fetched<QByteArray> fetch(QObject* parent, const QNetworkRequest& request, LauncherError code)
{
    auto* worker = new NetworkWorker(parent, false);
    worker->get(request);
    worker->deleteLater(); // its request is over; no need to keep it until the owner goes
    return {worker->isSuccess() ? worker->responseData() : QByteArray(), worker->lastFailure(code)};
}

// A "200" answer that is of no use.
Failure unusable(LauncherError code, const QUrl& url, const QString& reason)
{
    return {code, url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery) + QStringLiteral(": ") + reason};
}

} // namespace

Failure verifyStoredToken(QObject* parent, const QString& accountBaseUrl)
{
    const QByteArray token = Verdant::CryptoUtil().decrypt(AppSettings::storedToken(), SealingKey);
    AccountSession::instance()->setToken(token);
    return fetch(parent, userRequest(accountBaseUrl, QStringLiteral("api/accounts/Users/Info")), SignInFailed).failure;
}

void onSuccessToInstanceLogin(const QByteArray& _token, const std::function<void()>& refreshAvatar)
{
    AccountSession::instance()->setToken(_token);
    if (refreshAvatar)
        refreshAvatar();
    AppSettings::setStoredToken(Verdant::CryptoUtil().encrypt(_token, SealingKey));
}

Fetched<QUrl> fetchUserPhotoUrl(QObject* parent, const QString& accountBaseUrl)
{
    auto* worker = new NetworkWorker(parent, false);
    const QNetworkRequest request =
        userRequest(accountBaseUrl, QStringLiteral("api/PCS/Users/") + AccountSession::instance()->userIdText());
    worker->get(request);
    worker->deleteLater();
    if (!worker->isSuccess())
        return {QUrl(), worker->lastFailure(SignInFailed)};
    const QJsonDocument document = worker->responseJson();
    const QVariantMap record = document.toVariant().toMap();
    const QUrl photo(record.value(QStringLiteral("photo")).toString());
    if (photo.isEmpty())
        return {QUrl(), unusable(SignInFailed, request.url(), QStringLiteral("no \"photo\" in the user record"))};
    return {photo, {}};
}

Fetched<QByteArray> fetchUserPhoto(QObject* parent, const QString& accountBaseUrl)
{
    const Fetched<QUrl> photo = fetchUserPhotoUrl(parent, accountBaseUrl);
    if (!photo.ok())
        return {QByteArray(), photo.failure};
    Fetched<QByteArray> picture = fetch(parent, QNetworkRequest(photo.value), SignInFailed);
    if (picture.ok() && picture.value.isEmpty())
        picture.failure = unusable(SignInFailed, photo.value, QStringLiteral("empty picture"));
    return picture;
}

} // namespace Account
