#include "MainWindowWidgets.h"

#include <QCoreApplication>
#include <QPushButton>

#include "InstallBar.h"
#include "Profile.h"

MainWindowWidgets createMainWindowWidgets(QWidget* window)
{
    MainWindowWidgets widgets;

    widgets.profile = new Profile(window);
    widgets.profile->setGeometry(window->width() - widgets.profile->width(), 0, widgets.profile->width(),
                                 widgets.profile->height());

    widgets.installBar = new InstallBar(window);
    const QSize bar = widgets.installBar->size();
    widgets.installBar->setGeometry((window->width() - bar.width()) / 2, window->height() - bar.height(), bar.width(),
                                    bar.height());

    widgets.quitButton = new QPushButton(window);
    widgets.quitButton->setFixedSize(30, 30);
    widgets.quitButton->setIconSize(QSize(30, 30));
    widgets.quitButton->setFlat(true);
    // It shows only a picture: screen readers need its name.
    widgets.quitButton->setAccessibleName(QCoreApplication::translate("OrvelLauncher", "Close"));
    widgets.quitButton->setStyleSheet(
        QStringLiteral("QPushButton {background: transparent; image: "
                       "url(:/OrvelLauncher/Resources/Launcher/Launcher Close Default.svg);}QPushButton:hover, "
                       "QPushButton:pressed {image: url(:/OrvelLauncher/Resources/Launcher/Launcher Close "
                       "Hover.svg);}"));
    // QRect's right() and bottom() are inclusive, so the button shares one pixel column with the bar.
    const QRect barRect = widgets.installBar->geometry();
    widgets.quitButton->setGeometry(barRect.right(), barRect.bottom() - widgets.quitButton->height(), 30, 30);
    return widgets;
}
