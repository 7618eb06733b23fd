#include "DevServiceProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QSslCertificate>

namespace OrvelTest {

DevServiceProcess::~DevServiceProcess()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool DevServiceProcess::start(const QString& stateFolder, const QStringList& arguments)
{
    const QString lastKey = QStringLiteral("ORVEL_DEV_SERVICE_PORT");
    QDir().mkpath(stateFolder);
    m_logPath = QDir(stateFolder).filePath(QStringLiteral("access-%1.log").arg(quintptr(this), 0, 16));
    m_process.setStandardErrorFile(m_logPath);
    // Standard input stays open while this process lives: when a test crashes, the service sees its end and stops.
    m_process.start(QStringLiteral(ORVEL_BIN_DIR "/OrvelDevService"),
                    QStringList{"--state", stateFolder, "--port", "0", "--stop-on-stdin-close"} + arguments);
    const QDeadlineTimer deadline(30000);
    while (!m_values.contains(lastKey) &&
           (m_process.canReadLine() || m_process.waitForReadyRead(int(deadline.remainingTime())))) {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            m_values.insert(line.section('=', 0, 0), line.section('=', 1));
        }
    }
    if (m_values.contains(lastKey))
        return true;
    m_process.waitForFinished(2000);
    m_failure = m_process.errorString() + QLatin1Char('\n') + QString::fromUtf8(accessLog());
    return false;
}

int DevServiceProcess::stop(int signal)
{
    if (m_process.state() != QProcess::Running)
        return -1;
    ::kill(pid_t(m_process.processId()), signal);
    // Well below the 10 s an idle keep-alive connection would hold a careless server up.
    const bool ended = m_process.waitForFinished(8000) && m_process.exitStatus() == QProcess::NormalExit;
    return ended ? m_process.exitCode() : -1;
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
