#pragma once

#include <QMetaType>
#include <QString>

// The error code of one launcher run. The first recorded code is the one reported to the user, with its code shown
// in the error dialog; 0 means no error. The values are part of what users and support read: never renumber them.
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
    UpdateNotVerified = 15,
};
Q_DECLARE_METATYPE(LauncherError)

// Writes `error` into `recorded` only while nothing is recorded yet: later failures never overwrite the first.
inline void recordError(LauncherError& recorded, LauncherError error)
{
    if (recorded == NoError)
        recorded = error;
}
