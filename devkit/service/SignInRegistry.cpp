#include "SignInRegistry.h"

void SignInRegistry::dropExpired(qint64 now)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (now - it->completedAt > kLifetimeSeconds)
            it = m_entries.erase(it);
        else
            ++it;
    }
}

void SignInRegistry::complete(const QString& instanceId, const QString& email, qint64 now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.size() >= kCapacity)
        dropExpired(now);
    if (m_entries.size() >= kCapacity && !m_entries.contains(instanceId))
        m_entries.erase(m_entries.begin());
    m_entries.insert(instanceId, Entry{email, now});
}

QString SignInRegistry::collect(const QString& instanceId, qint64 now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.find(instanceId);
    if (it == m_entries.end())
        return {};
    const Entry entry = it.value();
    m_entries.erase(it);
    return now - entry.completedAt > kLifetimeSeconds ? QString() : entry.email;
}

bool SignInRegistry::isValidInstanceId(const QString& instanceId)
{
    if (instanceId.isEmpty() || instanceId.size() > 64)
        return false;
    for (const QChar c : instanceId) {
        if (c.unicode() > 127 || !c.isLetterOrNumber())
            return false;
    }
    return true;
}
