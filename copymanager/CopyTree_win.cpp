#include "CopyTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include "Sha256Hasher.h"
#include "ManifestSignature.h"
#include "SignedManifest.h"

// Windows: the helper is started with "runas" by the user it copies for, so the folder it copies from carries no
// other user's files; links are still not followed.

namespace {

Q_LOGGING_CATEGORY(lcCopy, "orvel.copymanager", QtDebugMsg)

const QString kManifestName = QStringLiteral("liveupdate.json");
const QString kReservedPrefix = QStringLiteral(".orvel-");
constexpr int kBufferSize = 1 << 20;

// QSaveFile writes beside the target and renames over it; it refuses a read-only target and discards its temporary
// file unless committed.
bool installFile(const QString& sourcePath, const QString& targetPath, const SignedManifest::Entry* expected = nullptr)
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
    if (expected && input.size() != expected->size) {
        qCWarning(lcCopy).noquote() << "Not installed, its size differs from the signed manifest:" << targetPath;
        return false;
    }
    Sha256Hasher hash;
    QByteArray buffer(kBufferSize, Qt::Uninitialized);
    for (;;) {
        const qint64 length = input.read(buffer.data(), buffer.size());
        if (length == 0)
            break;
        hash.update(buffer.constData(), qMax<qint64>(length, 0));
        if (length < 0 || output.write(buffer.constData(), length) != length) {
            qCWarning(lcCopy).noquote() << "Cannot install" << targetPath << input.errorString()
                                        << output.errorString();
            return false;
        }
    }
    if (expected && !Sha256Hasher::matches(expected->sha256, hash.finalHex())) {
        qCWarning(lcCopy).noquote() << "Not installed, differs from the signed manifest:" << targetPath;
        return false;
    }
    if (!output.commit()) {
        qCWarning(lcCopy).noquote() << "Cannot replace" << targetPath << output.errorString();
        return false;
    }
    return true;
}

} // namespace

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool copyTree(const QString& source, const QString& destination, const CopyOptions& options)
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
    SignedManifest signedManifest;
    const bool verify = !options.manifestPublicKey.isEmpty();
    if (verify) {
        QString reason;
        const QString top = sourceRoot + QLatin1Char('/');
        if (!signedManifest.load(readAll(top + QLatin1String(ManifestSignature::kBodyFileName)),
                                 readAll(top + QLatin1String(ManifestSignature::kSignatureFileName)),
                                 options.manifestPublicKey, &reason)) {
            qCWarning(lcCopy).noquote() << "Nothing installed:" << reason;
            return false;
        }
    }
    if (options.afterListing)
        options.afterListing();

    for (const QString& folder : qAsConst(folders)) {
        if (!QDir().mkpath(folder)) {
            qCWarning(lcCopy).noquote() << "Cannot create folder" << folder;
            allInstalled = false;
        }
    }
    for (const auto& file : qAsConst(files)) {
        const SignedManifest::Entry* expected = nullptr;
        if (verify) {
            expected = signedManifest.entry(file.first.mid(prefixLength + 1));
            if (!expected) {
                qCWarning(lcCopy).noquote() << "Not installed, not in the signed manifest:" << file.first;
                allInstalled = false;
                continue;
            }
        }
        allInstalled = QDir().mkpath(QFileInfo(file.second).path()) && installFile(file.first, file.second, expected) &&
                       allInstalled;
    }

    if (!manifest.isEmpty()) {
        if (verify && !signedManifest.sameContent(readAll(manifest))) {
            qCWarning(lcCopy) << "Not installed, differs from the signed manifest:" << kManifestName;
            allInstalled = false;
        } else if (allInstalled) {
            allInstalled = installFile(manifest, targetRoot + QLatin1Char('/') + kManifestName);
        }
        if (!allInstalled)
            qCWarning(lcCopy) << "Keeping the installed" << kManifestName << "because the copy was incomplete";
    }
    return allInstalled;
}
