#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

class QLabel;

// The launcher window's background can be replaced by artwork that the account service publishes (fetched by
// Account::fetchArtwork or the window's own asynchronous requests).
namespace LauncherArtwork {

// The picture decoded and stretched to `size`; a null image for bytes that are no picture. Safe on any thread, so
// that the window can decode off the GUI thread.
QImage decode(const QByteArray& picture, const QSize& size);

// Shows a decoded picture in `background`; a null image leaves the label empty.
void showImage(QLabel* background, const QImage& image);

// Decodes and shows the picture in `background`, stretched to the label's size.
void showArtwork(QLabel* background, const QByteArray& picture);

} // namespace LauncherArtwork
