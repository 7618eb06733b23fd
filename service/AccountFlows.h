#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

// The account operations of the launcher window and the avatar widget, as units they call. Requests are
// synchronous workers parented to `parent`, whose abortReply() cancels them. An empty accountBaseUrl means the
// deployment's account service.
namespace Account {

// Opens the stored "JWT", records it in AccountSession (also when empty) and asks "api/accounts/Users/Info" with
// the common header set. True (the token is accepted) exactly on "200"; the window then refreshes the avatar.
bool verifyStoredToken(QObject* parent, const QString& accountBaseUrl = QString());

// Takes over the token of a completed browser sign-in: records it, runs refreshAvatar (when given) with the new
// record, then stores it sealed as "JWT" whatever "StaySignedIn" holds. The window then switches to "Play".
void onSuccessToInstanceLogin(const QByteArray& _token, const std::function<void()>& refreshAvatar = {});

// The "photo" address of the signed-in user's record ("api/PCS/Users/" + user id); empty when unavailable.
QUrl fetchUserPhotoUrl(QObject* parent, const QString& accountBaseUrl = QString());

// The picture bytes for the avatar widget's refreshAvatar: the photo address fetched without extra headers.
// Empty when there is no photo address or the picture cannot be fetched; the widget then keeps what it shows.
QByteArray fetchUserPhoto(QObject* parent, const QString& accountBaseUrl = QString());

} // namespace Account
