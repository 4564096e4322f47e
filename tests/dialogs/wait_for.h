#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <functional>

// Runs the event loop until `done` holds or `ms` pass: preview renderings finish on their own thread.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QTest::qWait(5);
    }
    return true;
}
