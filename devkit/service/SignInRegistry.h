#pragma once

#include <mutex>

#include <QDateTime>
#include <QHash>
#include <QString>

// Browser sign-ins waiting to be collected by the launcher's poll, by instance id. Shared by request threads.
class SignInRegistry
{
public:
    // Completed sign-ins older than this are dropped; the launcher gives up polling after about five minutes.
    static constexpr qint64 kLifetimeSeconds = 600;
    static constexpr int kCapacity = 10000;

    void complete(const QString& instanceId, const QString& email, qint64 now);

    // The e-mail of a completed sign-in, handed out once; empty when there is none (yet).
    QString collect(const QString& instanceId, qint64 now);

    static bool isValidInstanceId(const QString& instanceId);

private:
    struct Entry
    {
        QString email;
        qint64 completedAt = 0;
    };
    void dropExpired(qint64 now);

    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};
