#include "MessageLog.h"

#include <cctype>
#include <cstdio>

#include <QDateTime>
#include <QDir>
#include <QRecursiveMutex>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// Never destroyed: messages can still come while the program's statics are torn down.
QRecursiveMutex& handlerMutex()
{
    static auto* mutex = new QRecursiveMutex;
    return *mutex;
}
MessageLog* g_active = nullptr;      // guarded by handlerMutex()
thread_local bool t_writing = false; // a message raised while writing one goes to standard error only

const char* levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "unknown";
}

// Each line of a message carries the time, level and category, so that every line can be read alone.
QByteArray formatLines(QtMsgType type, const char* category, const QString& message)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray prefix = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                              levelName(type) + ' ' + (category ? category : "default") + ": ";
    QByteArray lines;
    for (const QString& line : message.split(QLatin1Char('\n')))
        lines += prefix + line.toUtf8() + '\n';
    return lines;
}

bool isHex(const QStringRef& text)
{
    for (const QChar c : text) {
        if (!isxdigit(c.toLatin1()))
            return false;
    }
    return true;
}

} // namespace

MessageLog::MessageLog(const QString& path) : m_file(path)
{
    QMutexLocker locker(&handlerMutex());
    if (g_active)
        return;
    g_active = this;
    m_installed = true;
    m_previous = qInstallMessageHandler(&MessageLog::handleMessage);
}

QString MessageLog::activePath()
{
    QMutexLocker locker(&handlerMutex());
    return g_active && g_active->isOpen() ? g_active->path() : QString();
}

MessageLog::~MessageLog()
{
    QMutexLocker locker(&handlerMutex());
    if (!m_installed)
        return;
    qInstallMessageHandler(m_previous);
    g_active = nullptr;
}

QString MessageLog::defaultPath()
{
#ifdef Q_OS_WIN
    // GenericDataLocation is %LOCALAPPDATA% on Windows.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Orvel";
#else
    QString state = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (!state.startsWith(QLatin1Char('/')))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = state + QStringLiteral("/orvel");
#endif
    return folder + QStringLiteral("/launcher.log");
}

QString MessageLog::redact(const QString& text)
{
    static const QString kRedacted = QStringLiteral("[redacted]");
    // A signed token: three Base64url segments (header, claims, signature) joined by dots.
    static const QRegularExpression jwt(
        QStringLiteral("(?<![A-Za-z0-9_-])[A-Za-z0-9_-]{16,}\\.[A-Za-z0-9_-]{2,}\\.[A-Za-z0-9_-]*"));
    // The value of a sign-in secret or token, in a query, a JSON body or a "name: value" text.
    static const QRegularExpression secretValue(
        QStringLiteral("((?:instance_?id|token|jwt|secret|password)[\"']?\\s*[:=]\\s*[\"']?)[^\"'&\\s,;}]{8,}"),
        QRegularExpression::CaseInsensitiveOption);
    // A long Base64 or Base64url run: the sealed token and anything like it. Absolute paths (which a launcher logs
    // often and which hold no secret of ours) and hexadecimal hashes are kept.
    static const QRegularExpression longRun(QStringLiteral("(?<![A-Za-z0-9+/_-])[A-Za-z0-9+/_-]{40,}={0,2}"));

    QString result = text;
    result.replace(jwt, kRedacted);
    result.replace(secretValue, QStringLiteral("\\1") + kRedacted);
    QRegularExpressionMatchIterator runs = longRun.globalMatch(result);
    QString kept;
    int copied = 0;
    while (runs.hasNext()) {
        const QRegularExpressionMatch run = runs.next();
        if (run.capturedRef().startsWith(QLatin1Char('/')) || isHex(run.capturedRef()))
            continue;
        kept += result.midRef(copied, run.capturedStart() - copied) + kRedacted;
        copied = run.capturedEnd();
    }
    return copied == 0 ? result : kept + result.midRef(copied);
}

void MessageLog::handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QMutexLocker locker(&handlerMutex());
    const QString clean = redact(message);
    MessageLog* log = g_active;
    if (log && !t_writing && log->m_file.isOpen()) {
        t_writing = true;
        log->m_file.write(formatLines(type, context.category, clean));
        t_writing = false;
    }
    if (log && log->m_previous) {
        log->m_previous(type, context, clean);
    } else {
        // Raced with the destructor: the message still reaches standard error.
        std::fputs(qPrintable(qFormatLogMessage(type, context, clean) + QLatin1Char('\n')), stderr);
    }
}
