// A later start brings the running program's window up as a click on its tray icon does.
#include "MainWindowFixture.h"

#include "shell/SingleInstance.h"

#include <QTemporaryDir>

#include <future>

namespace {

class SecondStart : public MainWindowFixture {
protected:
    // A later start, on a thread of its own while this thread's loop answers it.
    SingleInstance::Outcome startAnother() {
        SingleInstance later(folder.path().toStdString());
        auto outcome = std::async(std::launch::async, [&later] { return later.Start(); });
        EXPECT_TRUE(testwait::Until(
            [&] { return outcome.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            10000));
        return outcome.get();
    }

    QTemporaryDir folder;
};

} // namespace

TEST_F(SecondStart, ShowsTheHiddenOrMinimisedWindow) {
    SingleInstance running(folder.path().toStdString());
    ASSERT_EQ(running.Start(), SingleInstance::Outcome::Listening);
    running.Serve([this] { window->RxTray1Click(); });

    window->show();
    window->Button6Click();
    ASSERT_FALSE(window->isVisible()) << "hidden to the tray";
    EXPECT_EQ(startAnother(), SingleInstance::Outcome::ShownByAnother);
    EXPECT_TRUE(window->isVisible());

    window->showMinimized();
    EXPECT_EQ(startAnother(), SingleInstance::Outcome::ShownByAnother);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(tray->Shown()) << "the one tray icon stays";
}
