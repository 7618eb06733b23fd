#pragma once

#include <QMetaType>
#include <QtGlobal>

// The error code of the launcher's flow: the first one recorded is shown to the user with its message.
enum LauncherError : qint32 {
    NoError = 0,
    VersionCheckFailed = 1,
    ServerManifestNotFound = 2,
    InvalidServerManifest = 3,
    NetworkUnstable = 4,
    LauncherVersionCheckFailed = 5,
    DownloadDirFailed = 6,
    DownloadFailed = 7,
    CopyFilesFailed = 8,
    AppNotFound = 9,
    AppStartFailed = 10,
    NoResponse = 11,
    SslError = 12,
    SignInTimeout = 13,
    SignInFailed = 14,
};

Q_DECLARE_METATYPE(LauncherError)
