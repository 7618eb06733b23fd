#include "DevServiceProcess.h"

#include <csignal>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSslCertificate>

namespace OrvelTest {

namespace {
const char* const kLastLine = "ORVEL_DEV_SERVICE_PORT";
constexpr int kStartTimeoutMs = 30000;
} // namespace

DevServiceProcess::~DevServiceProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DevServiceProcess::start(const QString& stateFolder, const QStringList& arguments)
{
    QDir().mkpath(stateFolder);
    m_logPath = QDir(stateFolder).absoluteFilePath(QStringLiteral("access-%1.log").arg(quintptr(this), 0, 16));
    m_process.setProgram(QStringLiteral(ORVEL_BIN_DIR "/OrvelDevService"));
    // Standard input stays open while this process lives: if a test crashes, the service sees its end and stops.
    m_process.setArguments(QStringList{QStringLiteral("--state"), stateFolder, QStringLiteral("--port"),
                                       QStringLiteral("0"), QStringLiteral("--stop-on-stdin-close")} +
                           arguments);
    m_process.setStandardErrorFile(m_logPath);
    m_process.start();
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        m_failure = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_values.contains(QLatin1String(kLastLine))) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            const int equals = line.indexOf(QLatin1Char('='));
            if (equals > 0)
                m_values.insert(line.left(equals), line.mid(equals + 1));
        }
    }
    if (!m_values.contains(QLatin1String(kLastLine))) {
        m_process.waitForFinished(2000);
        m_failure = QString::fromUtf8(accessLog());
        return false;
    }
    return true;
}

int DevServiceProcess::stopWith(int signal)
{
    if (m_process.state() == QProcess::NotRunning)
        return -1;
    ::kill(static_cast<pid_t>(m_process.processId()), signal);
    if (!m_process.waitForFinished(20000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

bool DevServiceProcess::stop()
{
    return stopWith(SIGTERM) == 0;
}

QSslConfiguration DevServiceProcess::sslConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(caCertificatesPath()));
    return configuration;
}

QByteArray DevServiceProcess::accessLog() const
{
    QFile file(m_logPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace OrvelTest
