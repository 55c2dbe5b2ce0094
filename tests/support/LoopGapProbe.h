#pragma once
// The event loop's health during a benchmark: the longest interval between two ticks
// of a 1 ms timer. A transfer that blocks the loop shows up here.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

class TLoopGapProbe
{
public:
    TLoopGapProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_maxGapNs = 0;
        m_sinceTick.start();
        m_timer.start();
    }
    /// The longest gap so far, the one still open included.
    qint64 maxGapNs() const { return std::max(m_maxGapNs, m_sinceTick.isValid() ? m_sinceTick.nsecsElapsed() : 0); }
    qint64 maxGapMs() const { return maxGapNs() / 1000000; }
    const QTimer &timer() const { return m_timer; }

private:
    void tick()
    {
        m_maxGapNs = std::max(m_maxGapNs, m_sinceTick.nsecsElapsed());
        m_sinceTick.restart();
    }

    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_maxGapNs = 0;
};
