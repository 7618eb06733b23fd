#include "LauncherArtwork.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>

namespace LauncherArtwork {

void showArtwork(QLabel* background, const QByteArray& picture)
{
    const QImage image = QImage::fromData(picture).convertToFormat(QImage::Format_ARGB32);
    background->setPixmap(image.isNull() ? QPixmap()
                                         : QPixmap::fromImage(image.scaled(background->size(), Qt::IgnoreAspectRatio,
                                                                           Qt::FastTransformation)));
}

} // namespace LauncherArtwork
