#include "CopyTree.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>
#include <QVector>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcCopy, "orvel.copymanager", QtDebugMsg)

const QString kManifestName = QStringLiteral("liveupdate.json");
constexpr int kBufferSize = 1 << 20;
constexpr int kMaxWorkers = 4;

#ifdef Q_OS_WIN

// QSaveFile writes beside the target and renames over it; it refuses a read-only target and discards its temporary
// file unless committed.
bool installFile(const QString& sourcePath, const QString& targetPath)
{
    QFile input(sourcePath);
    QSaveFile output(targetPath);
    if (!input.open(QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly)) {
        qCDebug(lcCopy) << "Cannot install" << targetPath << input.errorString() << output.errorString();
        return false;
    }
    QByteArray buffer(kBufferSize, Qt::Uninitialized);
    for (;;) {
        const qint64 length = input.read(buffer.data(), buffer.size());
        if (length == 0)
            break;
        if (length < 0 || output.write(buffer.constData(), length) != length) {
            qCDebug(lcCopy) << "Cannot install" << targetPath << input.errorString() << output.errorString();
            return false;
        }
    }
    if (!output.commit()) {
        qCDebug(lcCopy) << "Cannot replace" << targetPath << output.errorString();
        return false;
    }
    return true;
}

#else

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    // Closing can report a late write error; the caller must see it.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool failWith(const char* what, const QString& path)
{
    qCDebug(lcCopy) << what << path << strerror(errno);
    return false;
}

bool writeAll(int fd, const char* data, ssize_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(length));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
}

bool copyContent(int in, int out, off_t size)
{
#ifdef __linux__
    // In-kernel copy: no round trip through our memory. Some file systems refuse it; then stream instead.
    off_t copied = 0;
    for (;;) {
        const ssize_t length = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (length > 0) {
            copied += length;
            continue;
        }
        if (length == 0 && (copied > 0 || size == 0))
            return true;
        if (length < 0 && errno == EINTR)
            continue;
        if (copied > 0)
            return false;
        break; // nothing copied yet: both offsets are still at the start
    }
#else
    Q_UNUSED(size)
#endif
    std::vector<char> buffer(kBufferSize);
    for (;;) {
        const ssize_t length = ::read(in, buffer.data(), buffer.size());
        if (length == 0)
            return true;
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!writeAll(out, buffer.data(), length))
            return false;
    }
}

// Downloads carry no permission bits: programs and scripts must stay startable.
mode_t newFileMode(int in)
{
    char head[4] = {};
    const ssize_t length = ::pread(in, head, sizeof(head), 0);
    static const char elfMagic[4] = {0x7f, 'E', 'L', 'F'};
    const bool elf = length == 4 && std::memcmp(head, elfMagic, sizeof(elfMagic)) == 0;
    const bool script = length >= 2 && head[0] == '#' && head[1] == '!';
    return elf || script ? 0755 : 0644;
}

// Writes a temporary file in the target's folder and renames it over the target, so the target is always either the
// old or the new file. The replaced file's permission bits (and, when we may, its owner) carry over.
bool installFile(const QString& sourcePath, const QString& targetPath)
{
    const QByteArray target = QFile::encodeName(targetPath);
    FileDescriptor in(::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_CLOEXEC));
    struct stat sourceInfo;
    if (!in.isValid() || ::fstat(in.get(), &sourceInfo) != 0)
        return failWith("Cannot read", sourcePath);

    struct stat targetInfo;
    const bool replacing = ::stat(target.constData(), &targetInfo) == 0;
    if (replacing && S_ISDIR(targetInfo.st_mode)) {
        qCDebug(lcCopy) << "Cannot replace" << targetPath << "a folder is in the way";
        return false;
    }
    // A read-only target stays, as it would on Windows (root may write anything, so this only holds for users).
    const bool root = ::geteuid() == 0;
    if (replacing && !root && ::access(target.constData(), W_OK) != 0)
        return failWith("Cannot replace read-only", targetPath);

    QByteArray temporary = QFile::encodeName(QFileInfo(targetPath).path()) + "/.orvel-copy.XXXXXX";
    FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!out.isValid())
        return failWith("Cannot write into the folder of", targetPath);

    bool ok = copyContent(in.get(), out.get(), sourceInfo.st_size);
    const bool otherOwner = replacing && (targetInfo.st_uid != ::geteuid() || targetInfo.st_gid != ::getegid());
    if (ok && root && otherOwner && ::fchown(out.get(), targetInfo.st_uid, targetInfo.st_gid) != 0)
        qCDebug(lcCopy) << "Cannot keep the owner of" << targetPath << strerror(errno);
    ok = ok && ::fchmod(out.get(), replacing ? targetInfo.st_mode & 07777 : newFileMode(in.get())) == 0;
    ok = out.close() && ok;
    ok = ok && ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        failWith("Cannot install", targetPath);
        ::unlink(temporary.constData());
    }
    return ok;
}

#endif

bool installFolder(const QString& targetPath)
{
    if (QDir().mkpath(targetPath))
        return true;
    qCDebug(lcCopy) << "Cannot create folder" << targetPath;
    return false;
}

struct FileJob
{
    QString source;
    QString target;
};

// Most of a file's cost is in the kernel (creating, filling and swapping inodes), so a few files at a time keep
// more than one core busy. Each file's parents are created first: a file may come before any folder entry.
bool installFiles(const QVector<FileJob>& jobs)
{
    std::atomic<int> next{0};
    std::atomic<bool> allInstalled{true};
    const auto work = [&] {
        for (int index; (index = next++) < jobs.size();) {
            const FileJob& job = jobs.at(index);
            if (!installFolder(QFileInfo(job.target).path()) || !installFile(job.source, job.target))
                allInstalled = false;
        }
    };
    const int workerCount = qBound(1, QThread::idealThreadCount(), kMaxWorkers);
    std::vector<std::thread> workers;
    for (int i = 1; i < workerCount; ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads to be had: the ones running finish the list
        }
    }
    work();
    for (std::thread& worker : workers)
        worker.join();
    return allInstalled;
}

} // namespace

bool copyTree(const QString& source, const QString& destination)
{
    const QString sourceRoot = QDir(source).absolutePath();
    const QString targetRoot = QDir::cleanPath(destination);
    // A destination inside the source would otherwise be copied into itself, deeper on every entry it gains.
    const QString targetInside = QDir(targetRoot).absolutePath() + QLatin1Char('/');
    // Relative parts keep their leading "/" (the root folder is the one path that ends in one).
    const int prefixLength = sourceRoot.endsWith(QLatin1Char('/')) ? sourceRoot.size() - 1 : sourceRoot.size();

    bool allInstalled = true;
    QString manifest;
    QVector<FileJob> jobs;
    // Without QDir::Hidden the iterator neither reports hidden entries nor enters hidden folders.
    QDirIterator it(sourceRoot, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.isHidden() || (entry.absoluteFilePath() + QLatin1Char('/')).startsWith(targetInside))
            continue;
        const QString relative = entry.absoluteFilePath().mid(prefixLength);
        const QString target = targetRoot + relative;
        if (entry.isDir()) {
            allInstalled = installFolder(target) && allInstalled;
            // The iterator passes over a folder it cannot list without a word; its files would be missing.
            if (!entry.isReadable() || !entry.isExecutable()) {
                qCDebug(lcCopy) << "Cannot read folder" << entry.absoluteFilePath();
                allInstalled = false;
            }
        } else if (entry.isFile()) {
            if (relative.midRef(1) == kManifestName)
                manifest = entry.absoluteFilePath();
            else
                jobs.append({entry.absoluteFilePath(), target});
        }
    }

    allInstalled = installFiles(jobs) && allInstalled;

    if (!manifest.isEmpty()) {
        if (allInstalled)
            allInstalled = installFile(manifest, targetRoot + QLatin1Char('/') + kManifestName);
        else
            qCDebug(lcCopy) << "Keeping the installed" << kManifestName << "because the copy was incomplete";
    }
    return allInstalled;
}
