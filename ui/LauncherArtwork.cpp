#include "LauncherArtwork.h"

#include <optional>

#include <QFuture>
#include <QLabel>
#include <QPixmap>
#include <QtConcurrent>

namespace LauncherArtwork {

namespace {
// Null until preloadBackground() (a default QFuture counts as started and finished, without a result).
std::optional<QFuture<QImage>>& builtInBackground()
{
    static std::optional<QFuture<QImage>> decoding;
    return decoding;
}

QImage decodeBuiltInBackground()
{
    return QImage(QStringLiteral(":/OrvelLauncher/Resources/Launcher/Launcher BG.png"));
}
} // namespace

void preloadBackground()
{
    if (!builtInBackground())
        builtInBackground() = QtConcurrent::run(&decodeBuiltInBackground);
}

void showBuiltInBackground(QLabel* background)
{
    const std::optional<QFuture<QImage>>& decoding = builtInBackground();
    showImage(background, decoding ? decoding->result() : decodeBuiltInBackground());
}

QImage decode(const QByteArray& picture, const QSize& size)
{
    const QImage image = QImage::fromData(picture).convertToFormat(QImage::Format_ARGB32);
    return image.isNull() ? QImage() : image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void showImage(QLabel* background, const QImage& image)
{
    background->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
}

} // namespace LauncherArtwork
