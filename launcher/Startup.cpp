#include "Startup.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QTimer>

#include "DeploymentSettings.h"
#include "DisplayScale.h"
#include "OrvelLauncher.h"
#include "Platform.h"
#include "UiResources.h"

bool Startup::anotherCopyRunning(const std::function<bool(const QString&)>& isProcessRunning)
{
    return isProcessRunning(Platform::executableName(QStringLiteral("OrvelLauncher"))) ||
           isProcessRunning(Platform::executableName(QStringLiteral("Orvel")));
}

int Startup::loadApplicationFonts(const QString& applicationDir)
{
    const QString folder = applicationDir + QStringLiteral("/Font");
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.ttf")}, QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    int registered = 0;
    for (const QString& file : files) {
        if (QFontDatabase::addApplicationFont(folder + QLatin1Char('/') + file) != -1)
            ++registered;
    }

    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Noto Sans"));
    QApplication::setFont(font);
    return registered;
}

int Startup::run(int& argc, char** argv)
{
    {
        // Qt reads QT_SCALE_FACTOR and the attributes when the application object is built, so this comes first.
        DisplayScale scale;
        scale.applyScalePreference();
        DisplayScale::setApplicationAttributes();
    }

    QApplication app(argc, argv);
    if (anotherCopyRunning(&Platform::isProcessRunning))
        return 0;

    // Read while the fonts load and the window is built; the window installs them before its first request.
    DeploymentSettings::current().preloadSystemCaCertificates();
    loadApplicationFonts(QCoreApplication::applicationDirPath());
    initUiResources();

    int exitCode = 0;
    {
        OrvelLauncher window;
        // The window only appears from here, once the event loop runs.
        QTimer::singleShot(500, &window, [&window] { window.startFlow(); });
        // The half second before it is idle: style the window and create its native window meanwhile (neither
        // shows anything), so that showing it costs a few milliseconds instead of tens.
        QTimer::singleShot(0, &window, [&window] {
            window.ensurePolished();
            window.winId();
        });
        exitCode = app.exec();
        window.reportFailure();
    }
    return exitCode;
}
