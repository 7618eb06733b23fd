#include "ScreenScale.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

double screenScale()
{
    if (!QGuiApplication::instance())
        return 1.0;
    const QWidget* active = QApplication::activeWindow();
    const QScreen* screen = active ? active->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

QPixmap scaledForScreen(const QImage& image, int width, int height)
{
    const double ratio = screenScale();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    QPixmap scaled = pixmap.scaled(static_cast<int>(width * ratio), static_cast<int>(height * ratio),
                                   Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}
