#include "VirtualDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

VirtualDisplay::VirtualDisplay(const QString& screen) : m_screen(screen)
{}

VirtualDisplay::~VirtualDisplay()
{
    for (QProcess* p : {&m_compositor, &m_server}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
}

bool VirtualDisplay::start(bool withCompositor)
{
    // Xvfb writes the display number it chose to the descriptor given by -displayfd; a shell hands it a file.
    const QString numberFile = m_dir.filePath(QStringLiteral("display"));
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("exec Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 \"$1\" 3>\"$2\" 2>/dev/null"),
         QStringLiteral("sh"), m_screen, numberFile});
    if (!m_server.waitForStarted(5000)) {
        m_error = QStringLiteral("Xvfb could not be started");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000) {
        QFile file(numberFile);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll();
            if (text.endsWith('\n')) {
                m_name = QLatin1Char(':') + QString::fromLatin1(text.trimmed());
                break;
            }
        }
        if (m_server.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("Xvfb ended at start");
            return false;
        }
        QThread::msleep(20);
    }
    if (m_name.isEmpty()) {
        m_error = QStringLiteral("Xvfb did not announce a display");
        return false;
    }
    if (withCompositor) {
        // Without a compositor, translucent windows show black where they should be transparent.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_name);
        m_compositor.setProcessEnvironment(env);
        m_compositor.setStandardOutputFile(QProcess::nullDevice());
        m_compositor.setStandardErrorFile(QProcess::nullDevice());
        m_compositor.start(QStringLiteral("xcompmgr"), QStringList());
        m_compositor.waitForStarted(5000);
    }
    return true;
}

bool VirtualDisplay::loadResources(const QString& resources)
{
    int exitCode = -1;
    run(QStringLiteral("xrdb"), {QStringLiteral("-nocpp"), QStringLiteral("-load"), QStringLiteral("-")}, 10000,
        &exitCode, resources.toUtf8() + '\n');
    return exitCode == 0;
}

QByteArray VirtualDisplay::run(const QString& program, const QStringList& arguments, int timeoutMs, int* exitCode,
                               const QByteArray& input)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_name);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!input.isNull()) {
        p.write(input);
        p.closeWriteChannel();
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}
