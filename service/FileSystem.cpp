#include "FileSystem.h"

#include <QDir>

bool ensureDirectory(const QString& path)
{
    if (path.isEmpty())
        return false;
    if (QDir(path).exists())
        return true;
    return QDir().mkpath(path);
}
