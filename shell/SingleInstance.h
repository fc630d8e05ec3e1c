#pragma once

#include "platform/LocalSocket.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// One program per user. A start first asks the program already running to show its window; when
// it answers, this start is done. Otherwise this start listens for later ones, taking over a path
// left by a program that crashed, hangs or is no program of ours; and when even that cannot be
// had, it runs alone. Nothing at the path can keep the program from starting: a start gives up
// asking within `kAnswerLimit` and waits for a concurrent start within `kLockLimit`.
// UI thread only (the asking part runs before the application object exists).
class SingleInstance {
public:
    enum class Outcome { ShownByAnother, Listening, Alone };

    static constexpr std::chrono::milliseconds kLockLimit{800};
    static constexpr std::chrono::milliseconds kAnswerLimit{1000};
    // The request and the answer on the wire, one line each.
    static constexpr const char* kShowRequest = "show\n";
    static constexpr const char* kShownAnswer = "shown";

    // The user's private folder by default; tests pass one of their own.
    explicit SingleInstance(std::string folder = platform::ChoosePrivateFolder());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Decides; plain system calls, so it may run before the application object exists.
    Outcome Start();
    // Answers later starts from the event loop, running `show` for each request to show. Needs
    // the application object; without a listener it does nothing.
    void Serve(std::function<void()> show);
    // Stops answering and removes the socket file, unless a later start has replaced it.
    void Close();

    const std::string& SocketPath() const { return path_; }
    bool Listening() const { return listener_.Listening(); }

private:
    void acceptPending();
    void converse(int fd);

    std::string folder_;
    std::string path_;
    platform::LocalListener listener_;
    std::function<void()> show_;
    // The listener's notifier and the conversations in progress, its children; gone with Close.
    std::unique_ptr<QObject> serving_;
};
