// The application-wide error display, in a process whose application object is the program's
// own: errors from slots, socket handlers and other threads end in one box at a time.
#include "net/WSocket.h"
#include "shell/Application.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

KoruApplication& app() {
    return *static_cast<KoruApplication*>(QCoreApplication::instance());
}

void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

QList<QMessageBox*> openBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

// The one open box's text after it is dismissed the way the user would, or "" when none is open.
QString dismiss() {
    const QList<QMessageBox*> boxes = openBoxes();
    if (boxes.size() != 1)
        return {};
    const QString text = boxes[0]->text();
    boxes[0]->button(QMessageBox::Ok)->click();
    settle();
    return text;
}

bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

class Errors : public ::testing::Test {
protected:
    void TearDown() override {
        while (!dismiss().isEmpty()) {
        }
    }
};

} // namespace

TEST_F(Errors, WhileABoxIsOpenFurtherErrorsAreCountedNotStacked) {
    app().Errors().Report("first");
    settle();
    ASSERT_EQ(openBoxes().size(), 1);
    app().Errors().Report("second");
    app().Errors().Report("third");
    settle();
    ASSERT_EQ(openBoxes().size(), 1);
    EXPECT_EQ(dismiss(), "first");
    EXPECT_EQ(dismiss(), "third\n\n(and 1 more not shown)")
        << "the newest, and a count of the rest";
    EXPECT_TRUE(openBoxes().isEmpty());

    app().Errors().Report("fourth");
    settle();
    EXPECT_EQ(dismiss(), "fourth") << "the count starts again after it was shown";
    app().Errors().Report("fifth");
    app().Errors().Report("sixth");
    settle();
    EXPECT_EQ(dismiss(), "fifth");
    EXPECT_EQ(dismiss(), "sixth") << "one held back: shown as it is";
}

TEST_F(Errors, ExceptionLeavingASlotIsShownAndTheLoopGoesOn) {
    QObject receiver;
    const auto fail = [&](const char* text) {
        QMetaObject::invokeMethod(
            &receiver, [text] { throw std::runtime_error(text); }, Qt::QueuedConnection);
    };
    bool after = false;
    fail("slot failed");
    fail("again");
    fail("and again");
    QMetaObject::invokeMethod(
        &receiver, [&] { after = true; }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &receiver, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    QTimer stuck; // a loop that never gets to the exit must not hang the run
    stuck.callOnTimeout([] { QCoreApplication::exit(1); });
    stuck.start(60000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(after) << "events after the failures were delivered";
    settle();
    EXPECT_EQ(openBoxes().size(), 1);
    EXPECT_EQ(dismiss(), "slot failed");
    EXPECT_EQ(dismiss(), "and again\n\n(and 1 more not shown)");
}

TEST_F(Errors, ReportFromAnotherThreadReturnsAtOnceAndTheBoxOpensOnTheUiThread) {
    // This thread waits for the worker before it runs its loop: a report that waited for the UI
    // thread would never return.
    std::thread worker([] { app().Errors().Report("from a worker"); });
    worker.join();
    EXPECT_TRUE(openBoxes().isEmpty());
    settle();
    const QList<QMessageBox*> boxes = openBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->thread(), QThread::currentThread());
    EXPECT_EQ(dismiss(), "from a worker");
}

TEST_F(Errors, SocketHandlerFailingOnTheMainLoopIsShown) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof(address);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    TWSocket client;
    client.SetProto("tcp");
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(ntohs(address.sin_port)));
    client.OnSessionConnected = [](TCustomWSocket*, uint16_t) {
        throw std::runtime_error("connected handler failed");
    };
    client.Connect();
    EXPECT_TRUE(waitUntil([] { return !openBoxes().isEmpty(); }));
    EXPECT_EQ(dismiss(), "connected handler failed");
    client.Abort();
    ::close(listener);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_NO_THREADED_GLIB", "1", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    KoruApplication application(argc, argv);
    // As in the program: closing the last box must not end the loop.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
