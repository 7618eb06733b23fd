// Orvel (stand-in): opens the sealed token the launcher passes as "/token TEXT", prints who is signed in and
// shows the same in a small window. ORVEL_APP_EXIT_AFTER_MS=N closes it after N milliseconds.
#include <cstdio>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "SealedToken.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    const QStringList arguments = QCoreApplication::arguments();
    const int tokenIndex = arguments.indexOf(QStringLiteral("/token"));
    const QString tokenText = tokenIndex >= 0 ? arguments.value(tokenIndex + 1) : QString();
    const QString version = versionBeside(QCoreApplication::applicationDirPath());
    const SignedInUser user = openSealedToken(tokenText);
    const QString line = statusLine(version, user);

    // Tests and the demo read this line; flush it before any window work can block.
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Orvel %1").arg(version));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(32, 28, 32, 28);
    auto* title = new QLabel(QStringLiteral("Orvel %1").arg(version), &window);
    title->setStyleSheet(QStringLiteral("font-size: 22px; font-weight: 600;"));
    auto* status = new QLabel(line, &window);
    status->setObjectName(QStringLiteral("lbStatus"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(title);
    layout->addWidget(status);
    window.resize(420, 140);
    window.show();

    bool bDelayOk = false;
    const int exitAfter = qEnvironmentVariableIntValue("ORVEL_APP_EXIT_AFTER_MS", &bDelayOk);
    if (bDelayOk && exitAfter >= 0)
        QTimer::singleShot(exitAfter, &app, &QCoreApplication::quit);
    return app.exec();
}
