#include "CopyTree.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QThread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "Sha256Hasher.h"
#include "ManifestSignature.h"
#include "SignedManifest.h"

// Every path below the two roots is reached through the descriptor of its parent folder, never by name from the top,
// and never through a link: the download folder belongs to the user the elevated run works for, who may change it
// at any moment.

namespace {

Q_LOGGING_CATEGORY(lcCopy, "orvel.copymanager", QtDebugMsg)

constexpr char kManifestName[] = "liveupdate.json";
constexpr char kReservedPrefix[] = ".orvel-";
constexpr char kTemporaryPrefix[] = ".orvel-copy.";
constexpr size_t kBufferSize = 1 << 20;
constexpr off_t kMaxManifestSize = 64 << 20;
constexpr int kMaxWorkers = 4;

bool hasPrefix(const char* name, const char* prefix)
{
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

QString shown(const QByteArray& relative)
{
    return relative.isEmpty() ? QStringLiteral(".") : QFile::decodeName(relative);
}

bool failWith(const char* what, const QByteArray& relative, int error = errno)
{
    qCWarning(lcCopy).noquote() << what << shown(relative) << "-" << std::strerror(error);
    return false;
}

QByteArray childPath(const QByteArray& folder, const char* name)
{
    return folder.isEmpty() ? QByteArray(name) : folder + '/' + name;
}

// Who the run works for, and whether it holds more rights than that user.
struct Caller
{
    uid_t uid = 0;
    bool elevated = false;
};

Caller callerFor(const struct stat& sourceRoot)
{
    Caller caller;
    caller.uid = ::getuid();
    const char* pkexecUid = std::getenv("PKEXEC_UID");
    if (pkexecUid && *pkexecUid) {
        char* end = nullptr;
        errno = 0;
        const unsigned long uid = std::strtoul(pkexecUid, &end, 10);
        caller.uid = errno == 0 && *end == '\0' ? static_cast<uid_t>(uid) : static_cast<uid_t>(-1);
        caller.elevated = true;
    }
    if (::geteuid() != sourceRoot.st_uid)
        caller.elevated = true;
    return caller;
}

struct Folder
{
    FileDescriptor source;
    FileDescriptor target; // opened once the listing is complete
    int parent = -1;       // index into Plan::folders; -1 for the roots
    QByteArray name;
    QByteArray relative;
};

struct FileEntry
{
    int folder = 0;
    QByteArray name;
    QByteArray relative;
};

struct Plan
{
    std::vector<std::unique_ptr<Folder>> folders;
    std::vector<FileEntry> files;
    FileEntry manifest;
    bool hasManifest = false;
    bool complete = true; // false: something is left out, the rest still goes in
    bool refused = false; // true: nothing may be installed
    Caller caller;
    dev_t targetDevice = 0; // the destination root, when it exists: a source folder that is it is not entered
    ino_t targetInode = 0;
    const SignedManifest* signedManifest = nullptr; // set: every file must match its signed entry
    bool move = false;                              // files may be renamed into place instead of copied
};

bool ownedByCaller(const Plan& plan, const struct stat& info)
{
    return !plan.caller.elevated || info.st_uid == plan.caller.uid;
}

void refuse(Plan& plan, const QByteArray& relative, const char* reason)
{
    qCWarning(lcCopy).noquote() << "Nothing installed:" << shown(relative) << reason;
    plan.refused = true;
}

// Lists one source folder and the folders below it. Entries are examined without following links; folders are
// opened relative to their parent, so a folder swapped for a link after it was listed fails to open.
void listFolder(Plan& plan, int index)
{
    const int fd = ::dup(plan.folders[index]->source.get());
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        plan.complete = failWith("Cannot read folder", plan.folders[index]->relative);
        return;
    }
    std::vector<int> subfolders;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || hasPrefix(name, kReservedPrefix))
            continue;
        const Folder& folder = *plan.folders[index];
        const QByteArray relative = childPath(folder.relative, name);
        struct stat info;
        if (::fstatat(folder.source.get(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            plan.complete = failWith("Cannot examine", relative);
            continue;
        }
        if (!ownedByCaller(plan, info)) {
            refuse(plan, relative, "belongs to another user");
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            FileEntry file{index, name, relative};
            if (index == 0 && std::strcmp(name, kManifestName) == 0) {
                plan.manifest = file;
                plan.hasManifest = true;
            } else {
                plan.files.push_back(file);
            }
        } else if (S_ISDIR(info.st_mode)) {
            // A destination inside the source would otherwise be copied into itself.
            if (info.st_dev == plan.targetDevice && info.st_ino == plan.targetInode)
                continue;
            FileDescriptor opened(
                ::openat(folder.source.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
            struct stat openedInfo;
            if (!opened.isValid() || ::fstat(opened.get(), &openedInfo) != 0) {
                plan.complete = failWith("Cannot open folder", relative);
                continue;
            }
            if (!ownedByCaller(plan, openedInfo)) {
                refuse(plan, relative, "belongs to another user");
                continue;
            }
            auto child = std::make_unique<Folder>();
            child->source = std::move(opened);
            child->parent = index;
            child->name = name;
            child->relative = relative;
            plan.folders.push_back(std::move(child));
            subfolders.push_back(static_cast<int>(plan.folders.size()) - 1);
        } else {
            qCWarning(lcCopy).noquote() << "Not installed, not a regular file or folder:" << shown(relative);
            plan.complete = false;
        }
        errno = 0;
    }
    if (errno != 0)
        plan.complete = failWith("Cannot read folder", plan.folders[index]->relative);
    ::closedir(dir);
    for (int subfolder : subfolders)
        listFolder(plan, subfolder);
}

// Removes the temporary files that an interrupted earlier run left in a destination folder. Only regular files
// with exactly our prefix: anything else with that name is not ours.
void removeLeftovers(int folder)
{
    const int fd = ::dup(folder);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info;
        if (hasPrefix(entry->d_name, kTemporaryPrefix) &&
            ::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Opens (creating it when missing) a destination folder below an opened one, without following a link.
FileDescriptor openTargetFolder(int parent, const char* name)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    FileDescriptor folder(::openat(parent, name, flags));
    if (!folder.isValid() && errno == ENOENT && (::mkdirat(parent, name, 0777) == 0 || errno == EEXIST))
        folder = FileDescriptor(::openat(parent, name, flags));
    return folder;
}

// The destination root: its parents are the caller's choice and may be links, the folder itself may not.
FileDescriptor openTargetRoot(const QString& destination)
{
    const QString root = QDir::cleanPath(QDir(destination).absolutePath());
    const QFileInfo info(root);
    const QString parentPath = info.path();
    if (parentPath == root) // "/" itself
        return FileDescriptor(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    QDir().mkpath(parentPath);
    FileDescriptor parent(::open(QFile::encodeName(parentPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isValid())
        return parent;
    return openTargetFolder(parent.get(), QFile::encodeName(info.fileName()).constData());
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

// Copies exactly `size` bytes (what fstat reported when the file was opened); a file that is shorter or longer by
// now is being changed under us and fails.
bool copyContent(int in, int out, off_t size)
{
    off_t remaining = size;
#ifdef __linux__
    // In-kernel copy: no round trip through our memory. Some file systems refuse it; then stream instead.
    while (remaining > 0) {
        const ssize_t length =
            ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(std::min<off_t>(remaining, 1 << 30)), 0);
        if (length > 0) {
            remaining -= length;
        } else if (length == 0) {
            errno = EIO;
            return false; // shrank
        } else if (errno != EINTR) {
            if (remaining != size || (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP))
                return false;
            break; // nothing copied yet: both offsets are still at the start
        }
    }
#endif
    std::vector<char> buffer(remaining > 0 ? kBufferSize : 0);
    while (remaining > 0) {
        const ssize_t length = ::read(in, buffer.data(), static_cast<size_t>(std::min<off_t>(remaining, kBufferSize)));
        if (length == 0) {
            errno = EIO;
            return false;
        }
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!writeAll(out, buffer.data(), length))
            return false;
        remaining -= length;
    }
    char extra;
    if (::pread(in, &extra, 1, size) != 0) {
        errno = EIO;
        return false; // grew
    }
    return true;
}

// Copies exactly `size` bytes through our memory, hashing them on the way; the copy counts only when the bytes
// written are the ones the signed manifest describes.
bool copyVerified(int in, int out, off_t size, const QString& expectedSha256)
{
    Sha256Hasher hash;
    std::vector<char> buffer(kBufferSize);
    for (off_t remaining = size; remaining > 0;) {
        const ssize_t length = ::read(in, buffer.data(), static_cast<size_t>(std::min<off_t>(remaining, kBufferSize)));
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0) {
            errno = length == 0 ? EIO : errno;
            return false;
        }
        hash.update(buffer.data(), length);
        if (!writeAll(out, buffer.data(), length))
            return false;
        remaining -= length;
    }
    char extra;
    if (::pread(in, &extra, 1, size) != 0 || !Sha256Hasher::matches(expectedSha256, hash.finalHex())) {
        errno = EBADMSG;
        return false;
    }
    return true;
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

FileDescriptor createTemporary(int folder, QByteArray& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = kTemporaryPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        FileDescriptor fd(
            ::openat(folder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.isValid() || errno != EEXIST)
            return fd;
    }
    return FileDescriptor();
}

// Writes a temporary file in the target's folder with `fill` and renames it over the target, so the target is always
// either the old or the new file. The replaced file's permission bits (and, when we may, its owner) carry over; a new
// file gets `newMode`. `durable` flushes the new file before the rename.
// Whether the file the update replaces (if any) may be replaced: a link or folder in its place, or a read-only file,
// stays as it is.
bool targetReplaceable(const Plan& plan, const FileEntry& file, struct stat& targetInfo, bool& replacing)
{
    const int targetFolder = plan.folders[file.folder]->target.get();
    const char* name = file.name.constData();
    replacing = ::fstatat(targetFolder, name, &targetInfo, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing && !S_ISREG(targetInfo.st_mode))
        return failWith("Not replaced, not a regular file in the installation:", file.relative, EEXIST);
    // A read-only target stays, as it would on Windows (root may write anything, so this only holds for users).
    if (replacing && ::geteuid() != 0 && ::faccessat(targetFolder, name, W_OK, AT_EACCESS) != 0)
        return failWith("Cannot replace read-only", file.relative);
    return true;
}

bool replaceTarget(const Plan& plan, const FileEntry& file, mode_t newMode, const std::function<bool(int)>& fill,
                   bool durable)
{
    const Folder& folder = *plan.folders[file.folder];
    const char* name = file.name.constData();
    const int targetFolder = folder.target.get();
    struct stat targetInfo;
    bool replacing = false;
    if (!targetReplaceable(plan, file, targetInfo, replacing))
        return false;
    const bool root = ::geteuid() == 0;

    QByteArray temporary;
    FileDescriptor out = createTemporary(targetFolder, temporary);
    if (!out.isValid())
        return failWith("Cannot write into the folder of", file.relative);

    bool ok = fill(out.get());
    const int fillError = errno;
    const bool otherOwner = replacing && (targetInfo.st_uid != ::geteuid() || targetInfo.st_gid != ::getegid());
    if (ok && root && otherOwner && ::fchown(out.get(), targetInfo.st_uid, targetInfo.st_gid) != 0)
        qCDebug(lcCopy) << "Cannot keep the owner of" << shown(file.relative) << std::strerror(errno);
    ok = ok && ::fchmod(out.get(), replacing ? targetInfo.st_mode & 07777 : newMode) == 0;
    ok = ok && (!durable || ::fsync(out.get()) == 0);
    ok = out.close() && ok;
    ok = ok && ::renameat(targetFolder, temporary.constData(), targetFolder, name) == 0;
    if (!ok) {
        failWith(fillError == EBADMSG ? "Not installed, differs from the signed manifest:" : "Cannot install",
                 file.relative, fillError ? fillError : errno);
        ::unlinkat(targetFolder, temporary.constData(), 0);
    }
    return ok;
}

// Opens a listed source file again, without following a link and without blocking (a FIFO swapped in after the
// listing must not hold the open), and checks that it still is a regular file of the caller.
FileDescriptor openSource(const Plan& plan, const FileEntry& file, struct stat& info)
{
    const Folder& folder = *plan.folders[file.folder];
    FileDescriptor in(::openat(folder.source.get(), file.name.constData(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!in.isValid() || ::fstat(in.get(), &info) != 0) {
        failWith("Cannot read", file.relative);
        return FileDescriptor();
    }
    if (!S_ISREG(info.st_mode)) {
        failWith("Not installed, not a regular file:", file.relative, EINVAL);
        return FileDescriptor();
    }
    if (!ownedByCaller(plan, info)) {
        failWith("Not installed, belongs to another user:", file.relative, EPERM);
        return FileDescriptor();
    }
    return in;
}

// Hashes a file without copying it (a file that is moved into place rather than copied).
bool matchesHash(int in, off_t size, const QString& expectedSha256)
{
    Sha256Hasher hash;
    std::vector<char> buffer(kBufferSize);
    off_t done = 0;
    while (done < size) {
        const ssize_t length = ::pread(in, buffer.data(), std::min<size_t>(kBufferSize, size - done), done);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return false;
        hash.update(buffer.data(), length);
        done += length;
    }
    char extra;
    return ::pread(in, &extra, 1, size) == 0 && Sha256Hasher::matches(expectedSha256, hash.finalHex());
}

// Renames the source file into place: same atomic replacement, no data copied. Only for a run with the caller's own
// rights (the file is the caller's to give away) and within one file system.
bool moveIntoPlace(const Plan& plan, const FileEntry& file, int in, mode_t newMode)
{
    struct stat targetInfo;
    bool replacing = false;
    if (!targetReplaceable(plan, file, targetInfo, replacing))
        return false;
    const Folder& folder = *plan.folders[file.folder];
    if (::fchmod(in, replacing ? targetInfo.st_mode & 07777 : newMode) != 0 ||
        ::renameat(folder.source.get(), file.name.constData(), folder.target.get(), file.name.constData()) != 0)
        return failWith("Cannot move into place", file.relative);
    return true;
}

bool installFile(const Plan& plan, const FileEntry& file)
{
    const Folder& folder = *plan.folders[file.folder];
    if (!folder.target.isValid())
        return failWith("Cannot install, its folder is missing:", file.relative, ENOENT);
    struct stat info;
    FileDescriptor in = openSource(plan, file, info);
    if (!in.isValid())
        return false;
    const SignedManifest::Entry* entry = nullptr;
    if (plan.signedManifest) {
        entry = plan.signedManifest->entry(QFile::decodeName(file.relative));
        if (!entry)
            return failWith("Not installed, not in the signed manifest:", file.relative, EPERM);
        if (entry->size != info.st_size)
            return failWith("Not installed, its size differs from the signed manifest:", file.relative, EBADMSG);
    }
    struct stat targetFolderInfo;
    if (plan.move && !plan.caller.elevated && ::fstat(folder.target.get(), &targetFolderInfo) == 0 &&
        targetFolderInfo.st_dev == info.st_dev) {
        if (entry && !matchesHash(in.get(), info.st_size, entry->sha256))
            return failWith("Not installed, differs from the signed manifest:", file.relative, EBADMSG);
        return moveIntoPlace(plan, file, in.get(), newFileMode(in.get()));
    }
    if (entry) {
        return replaceTarget(
            plan, file, newFileMode(in.get()),
            [&](int out) { return copyVerified(in.get(), out, info.st_size, entry->sha256); }, false);
    }
    return replaceTarget(
        plan, file, newFileMode(in.get()), [&](int out) { return copyContent(in.get(), out, info.st_size); }, false);
}

// Reads a small listed file whole (a manifest or signature), under the same rules as any other source file.
bool readSmall(const Plan& plan, const FileEntry& file, QByteArray& content)
{
    struct stat info;
    FileDescriptor in = openSource(plan, file, info);
    if (!in.isValid())
        return false;
    if (info.st_size > kMaxManifestSize)
        return failWith("Too large:", file.relative, EFBIG);
    content.resize(static_cast<int>(info.st_size));
    for (off_t done = 0; done < info.st_size;) {
        const ssize_t length = ::pread(in.get(), content.data() + done, static_cast<size_t>(info.st_size - done), done);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return failWith("Cannot read", file.relative, length == 0 ? EIO : errno);
        done += length;
    }
    return true;
}

// The manifest goes in last, flushed before it is renamed into place. With a signed manifest, it must hold what the
// publisher signed; the bytes checked are the bytes written.
bool installManifest(const Plan& plan)
{
    if (!plan.signedManifest) {
        struct stat info;
        FileDescriptor in = openSource(plan, plan.manifest, info);
        return in.isValid() &&
               replaceTarget(
                   plan, plan.manifest, 0644, [&](int out) { return copyContent(in.get(), out, info.st_size); }, true);
    }
    QByteArray content;
    if (!readSmall(plan, plan.manifest, content))
        return false;
    if (!plan.signedManifest->sameContent(content))
        return failWith("Not installed, differs from the signed manifest:", plan.manifest.relative, EBADMSG);
    return replaceTarget(
        plan, plan.manifest, 0644, [&](int out) { return writeAll(out, content.constData(), content.size()); }, true);
}

// Most of a file's cost is in the kernel (creating, filling and swapping inodes), so a few files at a time keep
// more than one core busy.
bool installFiles(const Plan& plan)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> allInstalled{true};
    const auto work = [&] {
        for (size_t index; (index = next++) < plan.files.size();) {
            if (!installFile(plan, plan.files[index]))
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

// Every installed file's data and every rename reaches the disk before the manifest says the build is there.
bool flushInstalled(const Plan& plan)
{
    std::set<dev_t> flushed;
    for (const auto& folder : plan.folders) {
        struct stat info;
        if (!folder->target.isValid() || ::fstat(folder->target.get(), &info) != 0 || flushed.count(info.st_dev))
            continue;
        if (::syncfs(folder->target.get()) != 0)
            return failWith("Cannot flush the installation", folder->relative);
        flushed.insert(info.st_dev);
    }
    return true;
}

// Many folders stay open at once; allow as many as the system lets us.
void raiseOpenFileLimit()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

bool copyTree(const QString& source, const QString& destination, const CopyOptions& options)
{
    raiseOpenFileLimit();
    Plan plan;
    auto root = std::make_unique<Folder>();
    root->source = FileDescriptor(::open(QFile::encodeName(QDir(source).absolutePath()).constData(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat rootInfo;
    if (!root->source.isValid() || ::fstat(root->source.get(), &rootInfo) != 0)
        return failWith("Cannot open the source folder", QFile::encodeName(source));
    plan.caller = callerFor(rootInfo);
    if (plan.caller.elevated && rootInfo.st_uid != plan.caller.uid) {
        refuse(plan, QByteArray(), "the source folder does not belong to the user the copy runs for");
        return false;
    }
    if (plan.caller.elevated && (rootInfo.st_mode & (S_IWGRP | S_IWOTH))) {
        refuse(plan, QByteArray(), "the source folder is writable by other users");
        return false;
    }
    struct stat targetInfo;
    if (::stat(QFile::encodeName(destination).constData(), &targetInfo) == 0) {
        plan.targetDevice = targetInfo.st_dev;
        plan.targetInode = targetInfo.st_ino;
    }
    plan.folders.push_back(std::move(root));
    listFolder(plan, 0);
    if (plan.refused)
        return false;

    SignedManifest signedManifest;
    if (!options.manifestPublicKey.isEmpty()) {
        QByteArray body;
        QByteArray signature;
        QString reason;
        if (!readSmall(plan, FileEntry{0, ManifestSignature::kBodyFileName, ManifestSignature::kBodyFileName}, body) ||
            !readSmall(plan, FileEntry{0, ManifestSignature::kSignatureFileName, ManifestSignature::kSignatureFileName},
                       signature) ||
            !signedManifest.load(body, signature, options.manifestPublicKey, &reason)) {
            qCWarning(lcCopy).noquote() << "Nothing installed:" << (reason.isEmpty() ? "no signed manifest" : reason);
            return false;
        }
        plan.signedManifest = &signedManifest;
    }
    plan.move = options.move;
    if (options.afterListing)
        options.afterListing();

    // Folders in listing order: each parent is opened before its children.
    plan.folders[0]->target = openTargetRoot(destination);
    if (!plan.folders[0]->target.isValid()) {
        failWith("Cannot open or create the destination folder", QFile::encodeName(destination));
        return false;
    }
    for (const auto& folder : plan.folders) {
        if (folder->parent >= 0) {
            const Folder& parent = *plan.folders[folder->parent];
            if (parent.target.isValid())
                folder->target = openTargetFolder(parent.target.get(), folder->name.constData());
            if (!folder->target.isValid()) {
                plan.complete =
                    failWith("Cannot create folder", folder->relative, parent.target.isValid() ? errno : ENOENT);
                continue;
            }
        }
        removeLeftovers(folder->target.get());
    }

    bool allInstalled = installFiles(plan) && plan.complete;
    allInstalled = flushInstalled(plan) && allInstalled;
    if (plan.hasManifest) {
        if (allInstalled) {
            const int rootTarget = plan.folders[0]->target.get();
            allInstalled = installManifest(plan) && ::fsync(rootTarget) == 0;
        } else {
            qCWarning(lcCopy) << "Keeping the installed" << kManifestName << "because the copy was incomplete";
        }
    }
    return allInstalled;
}
