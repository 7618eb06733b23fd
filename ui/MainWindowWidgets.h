#pragma once

class InstallBar;
class Profile;
class QPushButton;
class QWidget;

// The widgets the launcher window puts over its form, created with the window as parent in stacking order and
// placed for the window's current size: the profile in the top right corner, the install bar centred on the
// bottom edge, and the close button against the bar's lower right corner (overlapping it by one pixel).
struct MainWindowWidgets
{
    Profile* profile = nullptr;
    InstallBar* installBar = nullptr;
    QPushButton* quitButton = nullptr;
};

MainWindowWidgets createMainWindowWidgets(QWidget* window);
