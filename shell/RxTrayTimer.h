#pragma once

#include "platform/Thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// Paces the tray icon's animation. It never touches the tray, its icons or the notification area:
// it only emits FrameDue, which the tray handles on the UI thread, and it waits for FrameDone
// before it sleeps again, so a busy UI thread never piles up frames. Every method may be called
// from any thread; the destructor stops the thread and waits for it. Suspend() and Resume() pause
// and continue the frames; Start() runs the thread itself.
class TTimerThread : public platform::TThread {
    Q_OBJECT
public:
    // A suspended thread sends no frame until Resume().
    TTimerThread(std::chrono::milliseconds interval, bool suspended);
    ~TTimerThread() override;

    // Runs the thread; called once, after FrameDue is connected, so that no frame goes unheard.
    void Start() { platform::TThread::Resume(); }

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

protected:
    void Execute() override;

private:
    bool idle() const; // with mutex_ held

    // The UI thread sets these while the thread sleeps on them.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::chrono::milliseconds interval_; // guarded by mutex_
    bool suspended_;                     // guarded by mutex_
    bool stopping_ = false;              // guarded by mutex_
    bool framePending_ = false;          // guarded by mutex_
};
