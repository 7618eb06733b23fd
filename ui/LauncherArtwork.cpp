#include "LauncherArtwork.h"

#include <QLabel>
#include <QPixmap>

namespace LauncherArtwork {

QImage decode(const QByteArray& picture, const QSize& size)
{
    const QImage image = QImage::fromData(picture).convertToFormat(QImage::Format_ARGB32);
    return image.isNull() ? QImage() : image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void showImage(QLabel* background, const QImage& image)
{
    background->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
}

void showArtwork(QLabel* background, const QByteArray& picture)
{
    showImage(background, decode(picture, background->size()));
}

} // namespace LauncherArtwork
