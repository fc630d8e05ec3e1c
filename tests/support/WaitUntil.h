#pragma once

// Waiting in tests for something another thread or the event loop brings about. Each wait runs
// the calling thread's Qt events and is bounded generously, so that a slow machine only makes a
// test slower, never wrong; a wait that runs out returns false for the test to assert on.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace testwait {

constexpr int kPatienceMs = 20000;

// Runs the event loop for a moment; it sleeps when nothing is due, so waiting costs no CPU that
// the threads under test could use.
inline void Nap(int ms = 2) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds; false when `ms` passed first.
inline bool Until(const std::function<bool()>& done, int ms = kPatienceMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        Nap();
    return done();
}

// Runs the event loop for `ms`, for checks that something does NOT happen.
inline void For(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        Nap();
}

} // namespace testwait
