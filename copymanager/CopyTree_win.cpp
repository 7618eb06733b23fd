#include "CopyTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

// Windows: the helper is started with "runas" by the user it copies for, so the folder it copies from carries no
// other user's files; links are still not followed.

namespace {

Q_LOGGING_CATEGORY(lcCopy, "orvel.copymanager", QtDebugMsg)

const QString kManifestName = QStringLiteral("liveupdate.json");
const QString kReservedPrefix = QStringLiteral(".orvel-");
constexpr int kBufferSize = 1 << 20;

// QSaveFile writes beside the target and renames over it; it refuses a read-only target and discards its temporary
// file unless committed.
bool installFile(const QString& sourcePath, const QString& targetPath)
{
    const QFileInfo target(targetPath);
    if (target.isSymLink() || target.isDir()) {
        qCWarning(lcCopy).noquote() << "Not replaced, a link or folder is in the way:" << targetPath;
        return false;
    }
    QFile input(sourcePath);
    QSaveFile output(targetPath);
    if (!input.open(QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly)) {
        qCWarning(lcCopy).noquote() << "Cannot install" << targetPath << input.errorString() << output.errorString();
        return false;
    }
    QByteArray buffer(kBufferSize, Qt::Uninitialized);
    for (;;) {
        const qint64 length = input.read(buffer.data(), buffer.size());
        if (length == 0)
            break;
        if (length < 0 || output.write(buffer.constData(), length) != length) {
            qCWarning(lcCopy).noquote() << "Cannot install" << targetPath << input.errorString()
                                        << output.errorString();
            return false;
        }
    }
    if (!output.commit()) {
        qCWarning(lcCopy).noquote() << "Cannot replace" << targetPath << output.errorString();
        return false;
    }
    return true;
}

} // namespace

bool copyTree(const QString& source, const QString& destination)
{
    return copyTree(source, destination, {});
}

bool copyTree(const QString& source, const QString& destination, const std::function<void()>& afterListing)
{
    const QString sourceRoot = QDir(source).absolutePath();
    const QString targetRoot = QDir::cleanPath(destination);
    const QString targetInside = QDir(targetRoot).absolutePath() + QLatin1Char('/');
    const int prefixLength = sourceRoot.endsWith(QLatin1Char('/')) ? sourceRoot.size() - 1 : sourceRoot.size();

    bool allInstalled = true;
    QString manifest;
    QStringList folders;
    QList<QPair<QString, QString>> files;
    const auto filter = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    QDirIterator it(sourceRoot, filter, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if ((entry.absoluteFilePath() + QLatin1Char('/')).startsWith(targetInside))
            continue;
        const QString relative = entry.absoluteFilePath().mid(prefixLength);
        if (relative.contains(QLatin1Char('/') + kReservedPrefix))
            continue;
        if (entry.isSymLink() || (!entry.isDir() && !entry.isFile())) {
            qCWarning(lcCopy).noquote() << "Not installed, not a regular file or folder:" << relative.mid(1);
            allInstalled = false;
        } else if (entry.isDir()) {
            folders << targetRoot + relative;
        } else if (relative.midRef(1) == kManifestName) {
            manifest = entry.absoluteFilePath();
        } else {
            files.append({entry.absoluteFilePath(), targetRoot + relative});
        }
    }
    if (afterListing)
        afterListing();

    for (const QString& folder : qAsConst(folders)) {
        if (!QDir().mkpath(folder)) {
            qCWarning(lcCopy).noquote() << "Cannot create folder" << folder;
            allInstalled = false;
        }
    }
    for (const auto& file : qAsConst(files))
        allInstalled =
            QDir().mkpath(QFileInfo(file.second).path()) && installFile(file.first, file.second) && allInstalled;

    if (!manifest.isEmpty()) {
        if (allInstalled)
            allInstalled = installFile(manifest, targetRoot + QLatin1Char('/') + kManifestName);
        else
            qCWarning(lcCopy) << "Keeping the installed" << kManifestName << "because the copy was incomplete";
    }
    return allInstalled;
}
