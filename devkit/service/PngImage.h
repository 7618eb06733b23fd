#pragma once

#include <QByteArray>

// Small PNG pictures made without a GUI library, for the account service's avatars and default artwork.
namespace PngImage {

// `rgb`: width * height pixels, 3 bytes each, row by row. Returns the PNG file bytes.
QByteArray encodeRgb(int width, int height, const QByteArray& rgb);

// A 128 x 128 symmetric pattern of squares in a colour derived from `seed`; one picture per user id.
QByteArray avatar(quint32 seed);

// A 1280 x 720 background with a diagonal gradient and soft light circles.
QByteArray artwork();

} // namespace PngImage
