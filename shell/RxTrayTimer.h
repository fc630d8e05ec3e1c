#pragma once

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Paces the tray icon's animation on a thread of its own. It never touches the tray, its icons or
// the notification area: it only emits FrameDue, which the tray handles on the UI thread, and it
// waits for FrameDone before it sleeps again, so a busy UI thread never piles up frames. Ended is
// its last act. The object belongs to the UI thread; the methods below may be called from any
// thread, and the destructor stops the thread and joins it.
class TTimerThread : public QObject {
    Q_OBJECT
public:
    // A suspended thread sends no frame until Resume().
    TTimerThread(std::chrono::milliseconds interval, bool suspended);
    ~TTimerThread() override;

    // Runs the thread; called once, after the signals are connected, so that nothing goes unheard.
    void Start();
    // Read before every sleep: a change takes effect at the next frame.
    void SetInterval(std::chrono::milliseconds interval);
    void Suspend();
    void Resume();
    bool Suspended() const;
    // Ends the thread within moments, without another frame.
    void Stop();
    // The UI thread has handled the last FrameDue.
    void FrameDone();

signals:
    void FrameDue();
    void Ended();

private:
    void Execute();
    // Sets one of the guarded flags and wakes the thread to look at it.
    void setAndWake(bool& flag, bool value);
    bool idle() const; // with mutex_ held

    // The UI thread sets these while the thread sleeps on them.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::chrono::milliseconds interval_; // guarded by mutex_
    bool suspended_;                     // guarded by mutex_
    bool stopping_ = false;              // guarded by mutex_
    bool framePending_ = false;          // guarded by mutex_
    // A plain thread, joined in the destructor: the join is what makes the thread's last touches
    // of this object happen before its memory is freed.
    std::thread thread_;
};
