// Shows the launcher window's form with its widgets, for looking at them (scripts/screenshots uses it).
//   orvel_ui_preview --face 0|1|2|3        install bar face (0 progress, 1 sign-in, 2 play, other: none)
//   orvel_ui_preview --dialog error|redownload   the message dialog over the window
// Quits by itself after --quit-after milliseconds (default: runs until closed).
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <QWidget>

#include "InstallBar.h"
#include "MainWindowWidgets.h"
#include "MiniModal.h"
#include "OrvelLauncherForm.h"
#include "UiResources.h"

int main(int argc, char* argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    initUiResources();
    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Noto Sans"));
    QApplication::setFont(font);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption faceOption(QStringLiteral("face"), QStringLiteral("Install bar face."),
                                        QStringLiteral("mode"), QStringLiteral("1"));
    const QCommandLineOption dialogOption(QStringLiteral("dialog"), QStringLiteral("error or redownload."),
                                          QStringLiteral("kind"));
    const QCommandLineOption quitOption(QStringLiteral("quit-after"), QStringLiteral("Milliseconds."),
                                        QStringLiteral("ms"));
    parser.addOptions({faceOption, dialogOption, quitOption});
    parser.process(app);

    QWidget window;
    Ui::OrvelLauncher form;
    form.setupUi(&window);
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    const MainWindowWidgets widgets = createMainWindowWidgets(&window);

    const int face = parser.value(faceOption).toInt();
    widgets.installBar->setMode(face);
    if (face == InstallBar::UpdateFace) {
        // 3 MB finished, 1 MB of a 5 MB file: half of 8 MB.
        widgets.installBar->setTotalBytes(8 << 20);
        widgets.installBar->setProgress(3 << 20, 3 << 20);
        widgets.installBar->setProgress(1 << 20, 5 << 20);
    }
    window.move(40, 40);
    window.show();

    if (parser.isSet(quitOption))
        QTimer::singleShot(parser.value(quitOption).toInt(), &app, &QApplication::quit);

    const QString dialog = parser.value(dialogOption);
    if (!dialog.isEmpty()) {
        QTimer::singleShot(300, &window, [&window, dialog] {
            const bool error = dialog == QLatin1String("error");
            // Code 12 carries the SSL error texts after the message, joined with ".".
            const QString message =
                error ? QStringLiteral("Unknown Error.") +
                            QStringList{QStringLiteral(
                                            "The host name did not match any of the valid hosts for this certificate"),
                                        QStringLiteral("The certificate is self-signed, and untrusted")}
                                .join(QLatin1Char('.'))
                      : QStringLiteral("A new version has been released.");
            MiniModal modal(&window, error ? MiniModal::Error : MiniModal::Redownload, message, error ? 12 : 0);
            modal.exec();
        });
    }
    return app.exec();
}
