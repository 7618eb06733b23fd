#include "VirtualDisplay.h"

#include <QDebug>

VirtualDisplay::~VirtualDisplay()
{
    m_server.terminate(); // lets Xvfb remove its lock file; QProcess kills it if it is still running after that
    m_server.waitForFinished(3000);
}

bool VirtualDisplay::start()
{
    // Xvfb writes the display number it chose to the descriptor given by -displayfd: here its standard output.
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start("Xvfb", {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", m_screen});
    while (!m_server.canReadLine() && m_server.waitForReadyRead(15000)) {
    }
    const QByteArray number = m_server.readLine().trimmed();
    m_name = QLatin1Char(':') + QString::fromLatin1(number);
    if (number.isEmpty())
        qWarning() << "Xvfb did not announce a display:" << m_server.errorString();
    return !number.isEmpty();
}

QByteArray VirtualDisplay::run(const QString& program, const QStringList& arguments, const QByteArray& input)
{
    QProcess p;
    p.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("DISPLAY=") + m_name); // the last entry wins
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    return p.waitForFinished(10000) ? p.readAllStandardOutput() : QByteArray();
}
