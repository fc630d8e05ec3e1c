// The program entry: the main window, the server started at once, the loop, and an orderly end
// on the tray menu's Exit, the window's close box, SIGTERM or SIGINT.
#include "platform/Thread.h"
#include "platform/Tuning.h"
#include "platform/UiCalls.h"
#include "server/Upload.h"
#include "shell/Application.h"
#include "shell/KORUMain.h"
#include "shell/SingleInstance.h"

#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Workers still serving at exit are given this long to finish.
constexpr int kWorkerGraceMs = 3000;

int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the program the way "Exit" does, on the UI thread.
void routeSignalsTo(TF_KORUMain& window) {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        while (::read(gSignalPipe[0], &byte, 1) > 0) {
        }
        window.Exit1Click();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    // A second start brings the running program's window up and ends, before it has a tray icon,
    // a window or even a connection to the display.
    SingleInstance single;
    if (single.Start() == SingleInstance::Outcome::ShownByAnother) {
        std::puts("KORU is already running: its window is shown.");
        return 0;
    }
    // Threads other than the UI thread get the plain UNIX event dispatcher (the pooled ones have
    // one of their own); the UI thread keeps the desktop's.
    setenv("QT_NO_THREADED_GLIB", "1", 1);
    // Errors that escape a handler are shown in a box and the program goes on.
    KoruApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORU"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/koru-256.png")));
    QApplication::setQuitOnLastWindowClosed(false);
    ::signal(SIGPIPE, SIG_IGN);
    platform::RaiseDescriptorLimit();
    platform::LimitAllocatorArenas();
    platform::FavourThroughput();
    platform::KeepToolkitPoolThreads();

    int result = 0;
    {
        TF_KORUMain window;
        QObject::connect(&window, &TF_KORUMain::Closed, &app, &QApplication::quit);
        routeSignalsTo(window);
        single.Serve([&window] { window.RxTray1Click(); });
        if (window.ShowAtStartup())
            window.show();
        window.StartAtStartup();
        result = QApplication::exec();
        // A start from now on must not find a program that is ending.
        single.Close();
        // Workers waiting for this thread must not wait for a loop that has ended, and workers
        // still serving are asked to stop.
        platform::ShutdownUiCalls();
        platform::TThread::TerminateAll();
        // Workers read the window's settings: they end before the window goes. One that does
        // not end in time must not hold the program up.
        const bool ended = platform::TThread::WaitForAll(kWorkerGraceMs);
        // Log lines and counts the workers queued before they ended are still written: the
        // loop's hand-off takes them only every few milliseconds.
        window.RunWorkerCalls();
        // An upload still in progress must not leave its partial file behind.
        upload::RemoveTemporaries();
        if (!ended)
            ::_exit(result);
    }
    return result;
}
