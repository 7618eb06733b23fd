#include "RotatingLog.h"

#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN

// %LOCALAPPDATA% belongs to the user already.
bool makeFolder(const QString& folder)
{
    return QDir().mkpath(folder);
}

bool openForAppending(QFile& file, const QString& path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

#else

// Missing parents are made 0700 as well, as the base-directory rules ask for $XDG_STATE_HOME.
bool makeFolder(const QString& folder)
{
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !QFileInfo::exists(parent) && !makeFolder(parent))
        return false;
    const QByteArray path = QFile::encodeName(folder);
    if (mkdir(path.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return false;
    struct stat info;
    return lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           chmod(path.constData(), S_IRWXU) == 0;
}

// Created 0600 whatever the umask; an existing file must be the user's own plain file (no link) and is narrowed.
bool openForAppending(QFile& file, const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
        fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        ::close(fd);
        return false;
    }
    file.setFileName(path);
    return file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle);
}

#endif

} // namespace

RotatingLog::RotatingLog(const QString& path, qint64 maxBytes, int files)
    : m_path(path), m_maxBytes(maxBytes), m_files(qMax(1, files))
{
    if (makeFolder(QFileInfo(m_path).path()))
        open();
}

bool RotatingLog::write(const QByteArray& line)
{
    if (m_size > 0 && m_size + line.size() > m_maxBytes)
        rotate();
    if (!m_file.isOpen())
        return false;
    const qint64 written = m_file.write(line);
    if (written > 0)
        m_size += written;
    return written == line.size();
}

bool RotatingLog::open()
{
    if (!openForAppending(m_file, m_path))
        return false;
    m_size = m_file.size();
    return true;
}

void RotatingLog::rotate()
{
    m_file.close();
    const auto numbered = [this](int n) { return n == 0 ? m_path : m_path + QLatin1Char('.') + QString::number(n); };
    QFile::remove(numbered(m_files - 1));
    for (int n = m_files - 1; n > 0; --n)
        QFile::rename(numbered(n - 1), numbered(n));
    open();
}
