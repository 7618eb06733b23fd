#include "SystemMove.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

bool startSystemMove(QWidget* window)
{
    if (!window || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    QWindow* handle = window->window()->windowHandle();
    return handle && handle->startSystemMove();
}
