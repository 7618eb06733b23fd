#pragma once

#include <QImage>
#include <QPixmap>

// Device pixel ratio of the screen that shows the active window (else the primary screen); 1.0 when unknown.
double screenScale();

// `image` as a pixmap for a logical size of width x height, sharp on high-density screens: the pixmap has
// (width x ratio) x (height x ratio) device pixels at most (aspect ratio kept) and carries the ratio.
QPixmap scaledForScreen(const QImage& image, int width, int height);
