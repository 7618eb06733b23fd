#pragma once

#include <QString>
#include <QStringList>

// Where the launcher's own files are, found from the folder of the running program (`programDir`). Two layouts:
//   - everything beside the program: the build tree (build/bin), a copied folder, and Windows;
//   - an installed prefix (cmake --install, the Debian package, an unpacked package): PREFIX/bin holds the
//     launcher, PREFIX/libexec/orvel the copy manager and PREFIX/share/orvel the fonts.
// Each file is taken from beside the program first, so a build tree never reaches into an installed prefix.
namespace InstallLayout {

// True when programDir sits in an installed prefix: the prefix's share/orvel folder exists. Never on Windows.
bool isInstalledPrefix(const QString& programDir);

// The copy manager program, with "/" separators and no "." or ".." parts (pkexec matches the path exactly).
QString copyManagerProgram(const QString& programDir);

// The folder of the "*.ttf" files the launcher registers.
QString fontFolder(const QString& programDir);

// Where deployment.ini is looked for, in order: beside the program, then "orvel/" under each folder of
// $XDG_CONFIG_DIRS (default /etc/xdg; not on Windows).
QStringList deploymentFileCandidates(const QString& programDir);

// The folder whose "App" subfolder holds the application when the "OrvelPath" setting names none: the program's
// own folder, except for an installed prefix on Linux, where it is the per-user $XDG_DATA_HOME/orvel (a normal user
// can write it, so updates need no password).
QString defaultApplicationFolder(const QString& programDir);

} // namespace InstallLayout
