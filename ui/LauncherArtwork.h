#pragma once

#include <QByteArray>

class QLabel;

// The launcher window's background can be replaced by artwork that the account service publishes (fetched by
// Account::fetchArtwork).
namespace LauncherArtwork {

// Shows the picture in `background`, stretched to the label's size. Bytes that are no picture leave the label
// empty.
void showArtwork(QLabel* background, const QByteArray& picture);

} // namespace LauncherArtwork
