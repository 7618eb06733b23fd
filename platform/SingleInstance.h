#pragma once

#include <memory>

#include <QObject>

class QLocalServer;
class QLockFile;

// One launcher per user: a lock file and a local socket in the user's private temporary folder
// (Platform::privateTempFolder()). The first launcher holds the lock and listens; a second start of the same user
// fails tryAcquire(), asks the first to come to the front with notifyRunning() and ends. Other users have folders of
// their own and never block this one.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SingleInstance)

public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the user's only launcher. False when another live launcher holds the lock.
    // Without a private folder (refused as unsafe) nothing can be locked: the launcher then runs unguarded (true),
    // rather than not at all.
    bool tryAcquire();

    // Asks the launcher holding the lock to come to the front. False when none answered.
    static bool notifyRunning(int timeoutMs = 2000);

signals:
    // A second start of the same user asked this launcher to show its window.
    void activationRequested();

private:
    void onNewConnection();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
