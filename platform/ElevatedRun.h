#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include "Platform.h"

class QProcess;
class QThread;

// Platform::runElevatedAndWait without blocking: the program runs while the event loop goes on (the window repaints
// and takes input), and `finished` reports its end. Linux follows the process through QProcess's signals and logs its
// standard error line by line as it comes; Windows keeps its blocking elevated start and wait on a worker thread.
// One run per object. Destroying the object while the program runs waits for its end: an installation is never cut
// short.
class ElevatedRun : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ElevatedRun)

public:
    explicit ElevatedRun(QObject* parent = nullptr);
    ~ElevatedRun() override;

    // `finished` always follows from the event loop, also when the program could not be started.
    void start(const QString& program, const QStringList& arguments, const QString& folderToWrite);
    bool isRunning() const { return m_running; }

signals:
    void finished(Platform::ElevatedResult result);

private:
    void finish(const Platform::ElevatedResult& result);

    bool m_running = false;
    QProcess* m_process = nullptr;     // Linux
    QByteArray m_pendingErrorOutput;   // Linux: an incomplete last line
    QThread* m_worker = nullptr;       // Windows
    Platform::ElevatedResult m_result; // Windows: written by the worker before it ends
};
