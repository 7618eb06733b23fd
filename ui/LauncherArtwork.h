#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

class QLabel;

// The launcher window's background can be replaced by artwork that the account service publishes (fetched by
// the window's own asynchronous requests).
namespace LauncherArtwork {

// The picture decoded and stretched to `size`; a null image for bytes that are no picture. Safe on any thread, so
// that the window can decode off the GUI thread.
QImage decode(const QByteArray& picture, const QSize& size);

// Starts decoding the built-in background (":/OrvelLauncher/Resources/Launcher/Launcher BG.png") on a worker thread,
// once; the picture resources must be registered.
void preloadBackground();
// Shows the built-in background in `background`, waiting for the decoding that preloadBackground() started (or
// decoding it now when none was).
void showBuiltInBackground(QLabel* background);

// Shows a decoded picture in `background`; a null image leaves the label empty.
void showImage(QLabel* background, const QImage& image);

} // namespace LauncherArtwork
