// The application-wide error display, in a process whose application object is the program's
// own: errors from slots, socket handlers and other threads end in one box at a time.
#include "net/WSocket.h"
#include "shell/Application.h"

#include "support/LoopbackPorts.h"
#include "support/WaitUntil.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

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

// The text of the one open box, which is then dismissed as the user would; "" unless exactly
// one is open.
QString dismiss() {
    const QList<QMessageBox*> boxes = openBoxes();
    if (boxes.size() != 1)
        return {};
    const QString text = boxes[0]->text();
    boxes[0]->button(QMessageBox::Ok)->click();
    settle();
    return text;
}

} // namespace

TEST(Errors, ExceptionsLeavingSlotsShowOneBoxAndACountAndTheLoopGoesOn) {
    QObject receiver;
    const auto post = [&](std::function<void()> call) {
        QMetaObject::invokeMethod(&receiver, std::move(call), Qt::QueuedConnection);
    };
    bool after = false;
    for (const char* text : {"slot failed", "again", "and again"})
        post([text] { throw std::runtime_error(text); });
    post([&] { after = true; });
    post([] { QCoreApplication::exit(0); });
    QTimer stuck; // a loop that never gets to the exit must not hang the run
    stuck.callOnTimeout([] { QCoreApplication::exit(1); });
    stuck.start(60000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(after) << "events after the failures were delivered";
    settle();
    EXPECT_EQ(openBoxes().size(), 1);
    EXPECT_EQ(dismiss(), "slot failed");
    EXPECT_EQ(dismiss(), "and again\n\n(and 1 more not shown)")
        << "the newest and the rest counted";
    EXPECT_TRUE(openBoxes().isEmpty());
}

TEST(Errors, ReportFromAnotherThreadDoesNotWaitAndTheBoxOpensOnTheUiThread) {
    // This thread joins the worker before it runs its loop: a report that waited for the UI
    // thread would never return.
    std::thread worker([] {
        static_cast<KoruApplication*>(QCoreApplication::instance())->Errors().Report("worker");
    });
    worker.join();
    settle();
    const QList<QMessageBox*> boxes = openBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->thread(), QThread::currentThread());
    EXPECT_EQ(dismiss(), "worker");
}

TEST(Errors, SocketHandlerFailingOnTheMainLoopIsShown) {
    const testnet::Listener listener(1);
    ASSERT_GE(listener.fd, 0);
    TWSocket client;
    client.SetProto("tcp");
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(listener.port));
    client.OnSessionConnected = [](TCustomWSocket*, uint16_t) {
        throw std::runtime_error("connected handler failed");
    };
    client.Connect();
    testwait::Until([] { return !openBoxes().isEmpty(); });
    EXPECT_EQ(dismiss(), "connected handler failed");
    client.Abort();
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
