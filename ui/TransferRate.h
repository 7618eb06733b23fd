#pragma once

#include <QtGlobal>

// The speed of a download, smoothed over a few seconds (an exponential moving average of the rate between
// samples), and the time left at that speed. Fed with the running byte count and the time it was reached.
class TransferRate
{
public:
    explicit TransferRate(double smoothingSeconds = 3.0) : m_smoothingMs(smoothingSeconds * 1000.0) {}

    // `bytes` received in all, `msecs` after the download started. Samples closer than 200 ms to the last one
    // counted are left for the next, so that bursts of small reports do not make the figure jump.
    void add(qint64 bytes, qint64 msecs);
    // 0 until two samples have been counted.
    double bytesPerSecond() const { return m_rate; }
    // Whole seconds to receive `remaining` bytes at the smoothed speed (rounded up); -1 while no speed is known.
    qint64 secondsLeft(qint64 remaining) const;

private:
    double m_smoothingMs;
    double m_rate = 0.0;
    qint64 m_lastBytes = -1;
    qint64 m_lastMs = 0;
};
