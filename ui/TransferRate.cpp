#include "TransferRate.h"

#include <cmath>

void TransferRate::add(qint64 bytes, qint64 msecs)
{
    if (m_lastBytes < 0) {
        m_lastBytes = bytes;
        m_lastMs = msecs;
        return;
    }
    const qint64 elapsed = msecs - m_lastMs;
    if (elapsed < 200)
        return;
    const double rate = double(bytes - m_lastBytes) * 1000.0 / double(elapsed);
    // Weighted by the time the sample covers, so that irregular reports count by their length.
    const double weight = 1.0 - std::exp(-double(elapsed) / m_smoothingMs);
    m_rate = m_rate == 0.0 ? rate : m_rate + weight * (rate - m_rate);
    m_lastBytes = bytes;
    m_lastMs = msecs;
}

qint64 TransferRate::secondsLeft(qint64 remaining) const
{
    if (m_rate <= 0.0)
        return -1;
    return qint64(std::ceil(double(qMax<qint64>(remaining, 0)) / m_rate));
}
