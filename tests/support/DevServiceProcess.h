#pragma once

#include <csignal>

#include <QHash>
#include <QProcess>
#include <QSslConfiguration>

namespace OrvelTest {

// The real OrvelDevService (the build's bin/ folder) on a free loopback port. Its access log goes to a file in the
// state folder, so a busy test never blocks it; it ends with this object, or with the test when that crashes.
class DevServiceProcess
{
public:
    DevServiceProcess() = default;
    ~DevServiceProcess();
    Q_DISABLE_COPY(DevServiceProcess)

    // Starts it with --state `stateFolder` --port 0 and `arguments` and reads its KEY=value lines (the port's last).
    bool start(const QString& stateFolder, const QStringList& arguments = {});
    // Sends `signal` and waits 8 s at most: the exit code, or -1 when it crashed, did not end or did not run.
    int stop(int signal = SIGTERM);

    QString value(const QString& key) const { return m_values.value(key); }
    QString updateUrl() const { return value(QStringLiteral("ORVEL_UPDATE_SERVICE_URL")); }
    QString caCertificatesPath() const { return value(QStringLiteral("ORVEL_CA_CERTIFICATES")); }
    qint64 processId() const { return m_process.processId(); }
    // Trusts the service's certificate authority and nothing else.
    QSslConfiguration sslConfiguration() const;
    QByteArray accessLog() const;
    QString failure() const { return m_failure; } // why start() failed

private:
    QProcess m_process;
    QHash<QString, QString> m_values;
    QString m_logPath;
    QString m_failure;
};

} // namespace OrvelTest
