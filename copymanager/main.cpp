#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include "CopyTree.h"
#include "SignedManifest.h"

namespace {

constexpr int kArgumentError = -1;

int usage(const QCommandLineParser& parser)
{
    std::fputs(qPrintable(parser.helpText()), stderr);
    return kArgumentError;
}

} // namespace

// OrvelFileCopyManager <source> <destination>
// Exit codes: 0 everything installed, 1 some entry could not be installed, -1 unusable arguments.
int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Installs a downloaded update tree over the installation folder."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption move(QStringLiteral("move"),
                                  QStringLiteral("The source may be used up: move files instead of copying them where "
                                                 "the run has only the caller's rights."));
    parser.addOption(move);
    parser.addPositionalArgument(QStringLiteral("source"), QStringLiteral("The downloaded update tree."));
    parser.addPositionalArgument(QStringLiteral("destination"), QStringLiteral("The installation folder."));
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser);
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }

    // Arguments after the second are ignored.
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() < 2)
        return usage(parser);
    // QDir("") is the working folder, which exists: an empty source must be caught before that test.
    const QString source = arguments.at(0);
    if (source.isEmpty() || !QDir(source).exists())
        return usage(parser);
    const QString destination = arguments.at(1);
    if (destination.isEmpty())
        return usage(parser);

    CopyOptions options;
    options.manifestPublicKey = SignedManifest::configuredPublicKey();
    options.move = parser.isSet(move);
    return copyTree(source, destination, options) ? 0 : 1;
}
