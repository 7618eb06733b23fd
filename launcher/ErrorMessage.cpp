#include "ErrorMessage.h"

QString launcherErrorMessage(qint32 code)
{
    switch (code) {
    case VersionCheckFailed:
    case ServerManifestNotFound:
    case InvalidServerManifest:
        return QStringLiteral("Failed to check Orvel version.");
    case NetworkUnstable:
        return QStringLiteral("The network is unstable.\tPlease check your internet connection and try again.");
    case LauncherVersionCheckFailed:
        return QStringLiteral("Failed to check Launcher version.");
    case DownloadDirFailed:
    case DownloadFailed:
    case CopyFilesFailed:
    case NoResponse:
        return QStringLiteral("Failed to update Orvel.");
    case AppNotFound:
    case AppStartFailed:
        return QStringLiteral("Failed to play Orvel.");
    case SignInTimeout:
    case SignInFailed:
        return QStringLiteral("Failed to Sign in.");
    case UpdateNotVerified:
        return QStringLiteral("The update could not be verified.");
    case SslError:
    default:
        return QStringLiteral("Unknown Error.");
    }
}

QString failureMessage(const Failure& failure)
{
    const QString message = launcherErrorMessage(failure.code);
    return failure.detail.isEmpty() ? message : message + QLatin1Char(' ') + failure.detail;
}
