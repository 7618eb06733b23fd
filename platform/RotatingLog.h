#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A log file that never grows much beyond `maxBytes`: when the next line would not fit, "launcher.log" becomes
// "launcher.log.1", "launcher.log.1" becomes "launcher.log.2" and so on, keeping `files` files in all; the oldest is
// dropped. What a launcher logs is for its user only: missing folders are made 0700 and the files 0600 (Linux).
// Not thread-safe; MessageLog serialises its writers.
class RotatingLog
{
    Q_DISABLE_COPY(RotatingLog)

public:
    static constexpr qint64 kDefaultMaxBytes = 1024 * 1024;

    explicit RotatingLog(const QString& path, qint64 maxBytes = kDefaultMaxBytes, int files = 3);

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }

    // Appends `line` (which ends with its newline) at once, rotating first when it would not fit.
    bool write(const QByteArray& line);

private:
    bool open();
    void rotate();

    QString m_path;
    qint64 m_maxBytes;
    int m_files;
    QFile m_file;
    qint64 m_size = 0;
};
