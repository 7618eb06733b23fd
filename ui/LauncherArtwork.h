#pragma once

#include <QString>
#include <QUrl>

class QLabel;
class QObject;

// The launcher window's background can be replaced by artwork that the account service publishes. Both requests
// are synchronous workers parented to `parent` (the window, whose abortReply() cancels them); nothing is reported
// on failure. An empty accountBaseUrl means the deployment's account service.
namespace LauncherArtwork {

// The artwork's address ("api/Orvel/LauncherArtwork?api-version=2"), with every double quote removed; empty
// when the service gives none.
QUrl artworkUrl(QObject* parent, const QString& accountBaseUrl = QString());

// Shows the artwork in `background`, stretched to the label's size. Leaves the label as it is when there is no
// address or the picture cannot be fetched; a body that is no picture leaves the label empty. True when the
// label's picture was replaced.
bool loadArtwork(QLabel* background, QObject* parent, const QString& accountBaseUrl = QString());

} // namespace LauncherArtwork
