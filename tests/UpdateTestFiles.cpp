#include "UpdateTestFiles.h"

#include <QtTest>

#include <sys/stat.h>

namespace UpdateTest {

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 29 + i / 509) & 0xff);
    return bytes;
}

void writeFile(const QString& path, const QByteArray& content, int mode)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)), 0);
}

void writeTree(const QString& root, const Files& files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        writeFile(root + '/' + it.key(), it.value());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

Files readTree(const QString& root, QDir::Filters filters)
{
    Files files;
    filters |= QDir::Hidden | QDir::NoDotAndDotDot;
    for (QDirIterator it(root, filters, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (!it.fileInfo().isDir())
            files.insert(relative, readFile(path));
        else if (QDir(path).isEmpty(filters))
            files.insert(relative + '/', QByteArray());
    }
    return files;
}

struct stat statOf(const QString& path)
{
    struct stat info = {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

QJsonObject manifestOf(const Files& files)
{
    QJsonArray list;
    qint64 total = 0;
    for (auto file = files.cbegin(); file != files.cend(); total += file->size(), ++file) {
        const QString hash = QCryptographicHash::hash(*file, QCryptographicHash::Sha256).toHex();
        list.append(QJsonObject{{"path", file.key()}, {"size", file->size()}, {"hash", hash}});
    }
    return QJsonObject{{"fileList", list}, {"totalFileSize", total}};
}

QByteArray openssl(const QStringList& arguments)
{
    QProcess process;
    process.start("openssl", arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0 ? process.readAllStandardOutput() : "<failed>";
}

} // namespace UpdateTest
