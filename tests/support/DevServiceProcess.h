#pragma once

#include <QByteArray>
#include <QHash>
#include <QProcess>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

namespace OrvelTest {

// The real OrvelDevService (from the build's bin/ folder) on a free loopback port, for tests that need both
// services over HTTPS. Its access log goes to a file in the state folder, so a busy test never blocks it.
class DevServiceProcess
{
public:
    DevServiceProcess() = default;
    ~DevServiceProcess();
    DevServiceProcess(const DevServiceProcess&) = delete;
    DevServiceProcess& operator=(const DevServiceProcess&) = delete;

    // Starts it with --state `stateFolder` --port 0 and `arguments`, and waits for its KEY=value lines.
    bool start(const QString& stateFolder, const QStringList& arguments = {});
    // SIGTERM, then waits. True when it ended by itself with exit code 0.
    bool stop();
    // Sends `signal` and waits; the exit code, or -1 when it crashed or did not end.
    int stopWith(int signal);

    QString value(const QString& key) const { return m_values.value(key); }
    QString caCertificatesPath() const { return value(QStringLiteral("ORVEL_CA_CERTIFICATES")); }
    QString updateUrl() const { return value(QStringLiteral("ORVEL_UPDATE_SERVICE_URL")); }
    QString accountUrl() const { return value(QStringLiteral("ORVEL_ACCOUNT_SERVICE_URL")); }
    QString connectUrl() const { return value(QStringLiteral("ORVEL_CONNECT_URL")); }
    int port() const { return value(QStringLiteral("ORVEL_DEV_SERVICE_PORT")).toInt(); }
    qint64 processId() const { return m_process.processId(); }

    // Trusts the service's certificate authority (and nothing else).
    QSslConfiguration sslConfiguration() const;
    QByteArray accessLog() const;
    // What went wrong in start(): the program's own error output.
    QString failure() const { return m_failure; }

private:
    QProcess m_process;
    QHash<QString, QString> m_values;
    QString m_logPath;
    QString m_failure;
};

} // namespace OrvelTest
