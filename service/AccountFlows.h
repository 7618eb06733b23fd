#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include "Failure.h"
#include "Fetched.h"

// The account service's calls of the launcher window and the avatar widget, as units they call. Requests are
// synchronous workers parented to `parent`, whose abortReply() cancels them. An empty accountBaseUrl means the
// deployment's account service. A failure carries the request's address and what went wrong (HTTP status, TLS
// errors, ...); SslError when the server's certificate was refused. None of them is shown to the user: a refused
// stored token means signing in again, a missing photo leaves the built-in picture.
namespace Account {

// Opens the stored "JWT", records it in AccountSession (also when empty) and asks "api/accounts/Users/Info" with
// the common header set. The token is accepted exactly on "200" (no failure); otherwise SignInFailed. The window
// then refreshes the avatar.
Failure verifyStoredToken(QObject* parent, const QString& accountBaseUrl = QString());

// Takes over the token of a completed browser sign-in: records it, runs refreshAvatar (when given) with the new
// record, then stores it sealed as "JWT" whatever "StaySignedIn" holds. The window then switches to "Play".
void onSuccessToInstanceLogin(const QByteArray& _token, const std::function<void()>& refreshAvatar = {});

// The "photo" address of the signed-in user's record ("api/PCS/Users/" + user id); SignInFailed when there is none.
Fetched<QUrl> fetchUserPhotoUrl(QObject* parent, const QString& accountBaseUrl = QString());

// The picture bytes for the avatar widget's refreshAvatar: the photo address fetched without extra headers, not
// empty when ok(). Fails (SignInFailed) without a photo address or when the picture cannot be fetched.
Fetched<QByteArray> fetchUserPhoto(QObject* parent, const QString& accountBaseUrl = QString());

} // namespace Account
