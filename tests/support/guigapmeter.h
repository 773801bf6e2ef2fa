#pragma once
// The longest time the GUI thread's event loop stayed away, as the machine cycle would feel it: a 20 ms
// timer notes the longest gap between two of its ticks (and up to stop(), so a blocking call made
// straight from the test counts too).

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

class GuiGapMeter : public QObject
{
public:
    GuiGapMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start(20);
    }
    // The longest gap in milliseconds, the last one up to now included.
    qint64 stop()
    {
        tick();
        m_timer.stop();
        return m_longest;
    }
    qint64 longestMs() const { return m_longest; }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};
