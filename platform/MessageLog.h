#pragma once

#include <QString>
#include <QtGlobal>

#include "RotatingLog.h"

// The launcher's log, for a user to send with a bug report: while an object lives, every Qt message goes, with its
// time, level and category on each line, to a RotatingLog (1 MiB x 3) and on to the handler installed before
// (standard error). Texts that look like credentials (signed tokens, long Base64 runs such as the sealed token, the
// values of sign-in secrets) are replaced by "[redacted]" in both. Messages may come from any thread.
// One at a time: a second object while one is installed installs nothing.
class MessageLog
{
    Q_DISABLE_COPY(MessageLog)

public:
    explicit MessageLog(const QString& path = defaultPath());
    ~MessageLog(); // the previous handler takes over again

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.path(); }

    // $XDG_STATE_HOME/orvel/launcher.log ($XDG_STATE_HOME defaults to ~/.local/state);
    // %LOCALAPPDATA%/Orvel/launcher.log on Windows.
    static QString defaultPath();
    // The file of the log in effect, empty when none is.
    static QString activePath();

    // The text with every credential-like part replaced by "[redacted]".
    static QString redact(const QString& text);

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    RotatingLog m_file;
    QtMessageHandler m_previous = nullptr;
    bool m_installed = false;
};
