#include "ErrorMessage.h"

#include <QCoreApplication>

QString launcherErrorMessage(qint32 code)
{
    switch (code) {
    case VersionCheckFailed:
    case ServerManifestNotFound:
    case InvalidServerManifest:
        return QCoreApplication::translate("ErrorMessage", "Failed to check Orvel version.");
    case NetworkUnstable:
        return QCoreApplication::translate(
            "ErrorMessage", "The network is unstable.\tPlease check your internet connection and try again.");
    case LauncherVersionCheckFailed:
        return QCoreApplication::translate("ErrorMessage", "Failed to check Launcher version.");
    case DownloadDirFailed:
    case DownloadFailed:
    case CopyFilesFailed:
    case NoResponse:
        return QCoreApplication::translate("ErrorMessage", "Failed to update Orvel.");
    case AppNotFound:
    case AppStartFailed:
        return QCoreApplication::translate("ErrorMessage", "Failed to play Orvel.");
    case SignInTimeout:
    case SignInFailed:
        return QCoreApplication::translate("ErrorMessage", "Failed to Sign in.");
    case UpdateNotVerified:
        return QCoreApplication::translate("ErrorMessage", "The update could not be verified.");
    case SslError:
    default:
        return QCoreApplication::translate("ErrorMessage", "Unknown Error.");
    }
}

QString failureMessage(const Failure& failure)
{
    const QString message = launcherErrorMessage(failure.code);
    return failure.detail.isEmpty() ? message : message + QLatin1Char(' ') + failure.detail;
}
