#pragma once
// What the start-up benchmark's children print: moments on the monotonic clock, which
// every process of the machine shares, so the parent can put them against the moment
// it started the child. The last, at the window's first paint, ends the child.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdio>

inline void printStartupStamp(const char *what)
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::printf("%s %lld\n", what, static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
    std::fflush(stdout);
}

/// Installed on the application: at the first paint of any widget prints "painted" and
/// ends the event loop.
class TFirstPaint : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            printStartupStamp("painted");
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_painted = false;
};
