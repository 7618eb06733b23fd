// Orvel (stand-in): opens the sealed token the launcher passes as "/token TEXT" or as "/token" with TEXT in
// ORVEL_TOKEN, prints who is signed in and shows the same in a small window. ORVEL_APP_EXIT_AFTER_MS=N closes it after
// N milliseconds.
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "OrvelVersion.h"
#include "SealedToken.h"

namespace {
// --help, --help-all and --version without a display: they end the process. "/token TEXT" is the launcher's.
void answerCommandLine(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the design application Orvel: opens the sealed token the launcher passes as /token TEXT\n"
        "(or /token alone with TEXT in ORVEL_TOKEN),\n"
        "prints who is signed in and shows it in a small window. Its version is version.txt beside it.\n"
        "ORVEL_APP_EXIT_AFTER_MS=N closes it after N milliseconds."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    (void)parser.parse(arguments);
    for (const char* name : {"help", "help-all", "version"}) {
        if (parser.isSet(QLatin1String(name))) {
            // The parser prints its texts and ends the process; they need an application object (no display).
            QCoreApplication app(argc, argv);
            QCoreApplication::setApplicationVersion(
                QStringLiteral("%1 (stand-in from OrvelLauncher %2)")
                    .arg(versionBeside(QCoreApplication::applicationDirPath()), QStringLiteral(ORVEL_VERSION)));
            parser.process({arguments.constFirst(), QStringLiteral("--") + QLatin1String(name)});
        }
    }
}
} // namespace

int main(int argc, char* argv[])
{
    answerCommandLine(argc, argv);
    QApplication app(argc, argv);

    const QStringList arguments = QCoreApplication::arguments();
    const int tokenIndex = arguments.indexOf(QStringLiteral("/token"));
    // The launcher hands the token over as the argument after "/token" (Windows) or in ORVEL_TOKEN (elsewhere).
    QString tokenText;
    if (tokenIndex >= 0)
        tokenText =
            tokenIndex + 1 < arguments.size() ? arguments.at(tokenIndex + 1) : qEnvironmentVariable("ORVEL_TOKEN");
    qunsetenv("ORVEL_TOKEN");
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
