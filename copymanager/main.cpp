#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include "CopyTree.h"

// OrvelFileCopyManager <source> <destination>
// Exit codes: 0 everything installed, 1 some entry could not be installed, -1 unusable arguments.
int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments.size() < 2)
        return -1;

    // QDir("") is the working folder, which exists: an empty source must be caught before that test.
    const QString source = arguments.at(0);
    if (source.isEmpty() || !QDir(source).exists())
        return -1;
    const QString destination = arguments.at(1);
    if (destination.isEmpty())
        return -1;

    return copyTree(source, destination) ? 0 : 1;
}
