#include "ElevatedRun.h"

#include <QProcess>
#include <QThread>

#include "ElevatedCommand.h"
#include "PlatformLogging.h"

ElevatedRun::ElevatedRun(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Platform::ElevatedResult>();
}

ElevatedRun::~ElevatedRun()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        qCInfo(lcPlatform) << "Waiting for" << m_process->program() << "to end";
        m_process->waitForFinished(-1);
    }
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void ElevatedRun::finish(const Platform::ElevatedResult& result)
{
    // Queued, so that a caller who connects right after start() hears even an immediate failure.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            m_running = false;
            emit finished(result);
        },
        Qt::QueuedConnection);
}

#ifdef Q_OS_WIN

void ElevatedRun::start(const QString& program, const QStringList& arguments, const QString& folderToWrite)
{
    if (m_running || m_worker)
        return;
    m_running = true;
    m_worker = QThread::create([this, program, arguments, folderToWrite] {
        m_result = Platform::runElevatedAndWait(program, arguments, folderToWrite);
    });
    connect(m_worker, &QThread::finished, this, [this] {
        m_worker->deleteLater();
        m_worker = nullptr;
        finish(m_result);
    });
    m_worker->start();
}

#else

void ElevatedRun::start(const QString& program, const QStringList& arguments, const QString& folderToWrite)
{
    if (m_running || m_process)
        return;
    m_running = true;
    const ElevatedCommand::Command command = ElevatedCommand::forFolder(program, arguments, folderToWrite);
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        m_pendingErrorOutput += m_process->readAllStandardError();
        ElevatedCommand::logErrorOutput(m_pendingErrorOutput, false);
    });
    connect(m_process, &QProcess::errorOccurred, this, [this, command](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        qCWarning(lcPlatform) << "Cannot start" << command.program << m_process->errorString();
        finish({});
    });
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, command](int exitCode, QProcess::ExitStatus status) {
                m_pendingErrorOutput += m_process->readAllStandardError();
                ElevatedCommand::logErrorOutput(m_pendingErrorOutput, true);
                if (status != QProcess::NormalExit) {
                    qCWarning(lcPlatform) << command.program << "crashed";
                    finish({Platform::ElevatedOutcome::Ended, -1});
                    return;
                }
                finish(ElevatedCommand::ended(command, exitCode));
            });
    m_process->start(command.program, command.arguments, QIODevice::ReadOnly);
}

#endif
