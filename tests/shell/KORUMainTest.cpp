#include "MainWindowFixture.h"

#include "config/HomeTool.h"
#include "config/TodaysMime.h"
#include "shell/Mover.h"
#include "shell/RxTray.h"

#include "support/ClientThread.h"
#include "support/LoopbackPorts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

class MainWindow : public MainWindowFixture {
protected:
    uint16_t serveDocroot() {
        ui->Edit1->setText(docroot.path());
        return startOnFreePort();
    }
    bool writeIndex(const QByteArray& content) {
        return testfiles::write(docroot.path() + "/index.html", content);
    }

    QTemporaryDir docroot;
};

} // namespace

TEST_F(MainWindow, InitialStateFromAnEmptyStore) {
    EXPECT_EQ(window->windowTitle(), "Server");
    EXPECT_EQ(window->size(), QSize(574, 428));
    EXPECT_EQ(ui->PageControl1->currentWidget(), ui->TabSheet1);
    EXPECT_FALSE(ui->StopBtn->isEnabled());
    EXPECT_TRUE(ui->ListenBtn->isEnabled());
    EXPECT_FALSE(ui->Button8->isEnabled());
    EXPECT_TRUE(ui->Button7->isEnabled());
    EXPECT_FALSE(ui->Button10->isEnabled());
    EXPECT_FALSE(ui->Button9->isEnabled());
    EXPECT_EQ(panel(0)->text(), "Clients: 0");
    EXPECT_EQ(panel(1)->text(), "Requests: 0");
    EXPECT_EQ(panel(2)->text(), "State");
    EXPECT_EQ(ui->Edit4->text(), "8080");
    EXPECT_EQ(ui->Edit13->text(), "40");
    EXPECT_TRUE(ui->CheckBox4->isChecked());
    EXPECT_TRUE(ui->CheckBox5->isChecked());
    EXPECT_EQ(ui->Edit2->text(), "index.html");
    EXPECT_TRUE(ui->FolderPagesBox->isChecked());
    EXPECT_EQ(window->Mime().GetMIME(), TodaysMimeText());
    EXPECT_EQ(ui->LB->count(), window->Mime().Extensions().size());
    EXPECT_TRUE(window->ShowAtStartup()) << "a first run shows the window";
    EXPECT_EQ(RegRoot, platform::StoreRoot::MachineWide);
    EXPECT_TRUE(tray->Shown()) << "the application icon goes to the tray at once";
    EXPECT_EQ(ui->Edit7->text(), "127.0.0.1") << "the test client starts at this server";
    EXPECT_EQ(ui->Edit8->text(), "8080");

    const QStringList lines = ui->Label7->text().split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[2].startsWith("Version 0.4 (Last compilation: ")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith(")"));
    EXPECT_EQ(lines[3], "Plugins level: 2");
}

TEST_F(MainWindow, WithoutNotificationAreaTheWindowStaysReachable) {
    tray->available = false;
    window->show();
    ui->Button6->click();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(MainWindow, StartStopAndAFailedStartShowTheirStates) {
    const uint16_t bound = serveDocroot();
    const QString hint = "Server: Listening on port " + QString::number(bound);
    EXPECT_EQ(ui->Edit8->text(), QString::number(bound)) << "a first run's client follows it";
    EXPECT_EQ(window->windowTitle(), "Server: Listening");
    EXPECT_EQ(window->RxTray1().Hint(), hint) << "the port bound, not the setting's 0";
    EXPECT_EQ(tray->Current()->tip, hint);
    EXPECT_FALSE(ui->ListenBtn->isEnabled());
    EXPECT_TRUE(ui->StopBtn->isEnabled());
    // The first item opens the browser (see ServerPageTest); the server's own items follow.
    const QList<QAction*> items = window->PM2().actions().mid(1);
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0]->text(), "&Start");
    EXPECT_EQ(items[1]->text(), "S&top");
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text(), "&Exit");
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_TRUE(items[1]->isEnabled());

    ui->StopBtn->click();
    EXPECT_EQ(window->windowTitle(), "Server: Stopped");
    EXPECT_EQ(window->RxTray1().Hint(), "Server: Stopped");
    EXPECT_TRUE(ui->ListenBtn->isEnabled() && items[0]->isEnabled());
    EXPECT_FALSE(ui->StopBtn->isEnabled() || items[1]->isEnabled());

    testnet::Listener busy;
    ui->Edit4->setText(QString::number(busy.port));
    ui->ListenBtn->click();
    const std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Error 10048 in function Bind"))
        << messages[0].toStdString();
    EXPECT_TRUE(ui->ListenBtn->isEnabled()) << "a failed start leaves the server startable";

    window->StartAtStartup(); // hidden: the failure goes to the tray
    EXPECT_EQ(window->StatusText(2), "Failed");
    EXPECT_TRUE(testwait::Until([&] { return panel(2)->text() == "Failed"; }));
    ASSERT_EQ(tray->messages.size(), 1u);
    EXPECT_EQ(tray->messages[0], "KORU could not start\n" + messages[0])
        << "the title, then the whole error";
}

TEST_F(MainWindow, CountersMoveWithRealConnections) {
    ASSERT_TRUE(writeIndex("hi"));
    EXPECT_TRUE(testnet::fetchWhileServing(serveDocroot(), "GET / HTTP/1.0\r\n\r\n")
                    .ends_with("\r\n\r\nhi"));
    EXPECT_TRUE(testwait::Until([&] { return panel(0)->text() == "Clients: 0"; }));
    EXPECT_EQ(panel(1)->text(), "Requests: 1") << "counted before the connection ended";
}

// Counts reach the panels through one throttle: however fast requests come, a shown window
// repaints its count panels 40 times a second at most (each repaint costs more than a request).
TEST_F(MainWindow, CountPanelsRepaintAtMostFortyTimesASecond) {
    ASSERT_TRUE(writeIndex("hi"));
    window->show();
    const uint16_t port = serveDocroot();
    testwait::For(100); // the first paint of the shown window
    struct PaintCount : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    panel(0)->installEventFilter(&counter);
    panel(1)->installEventFilter(&counter);
    QElapsedTimer elapsed;
    elapsed.start();
    const std::vector<std::string> replies = testnet::fetchAllWhileServing(
        port, std::vector<std::string>(400, "GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(testwait::Until([&] { return panel(1)->text() == "Requests: 400"; }));
    const qint64 ms = elapsed.elapsed();
    EXPECT_EQ(std::count_if(replies.begin(), replies.end(),
                            [](const std::string& r) { return r.ends_with("\r\n\r\nhi"); }),
              400);
    // Both panels of one batch may paint apart; the batch at once, the last one and a late first
    // paint of the window are a few more. Set at each accept, they painted 800 times here.
    EXPECT_LE(counter.paints, 2 * (ms / 25 + 4)) << "in " << ms << " ms";
}

TEST_F(MainWindow, EnterAndEscHideTrayClickShows) {
    window->show();
    ui->PageControl1->setCurrentWidget(ui->TabSheet4);
    pressKey(ui->Memo1, Qt::Key_Return, "\r");
    EXPECT_TRUE(window->isVisible()) << "a memo takes Enter itself";
    pressKey(ui->Edit8, Qt::Key_Return, "\r");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(tray->Shown()) << "the tray icon stays";
    tray->Press(TrayMouse::LeftRelease);
    EXPECT_TRUE(window->isVisible());
    pressKey(ui->Edit4, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindow, TrayMenuStartsStopsAndExits) {
    ui->Edit4->setText("0");
    QAction* start = window->PM2().actions()[1];
    QAction* stop = window->PM2().actions()[2];
    QAction* exit = window->PM2().actions()[4];
    tray->choose = [&](QMenu&) { start->trigger(); };
    tray->Press(TrayMouse::RightRelease);
    ASSERT_EQ(tray->popups.size(), 1u);
    EXPECT_EQ(tray->popups[0].menu, &window->PM2());
    EXPECT_EQ(window->windowTitle(), "Server: Listening");
    tray->choose = [&](QMenu&) { stop->trigger(); };
    tray->Press(TrayMouse::RightRelease);
    EXPECT_EQ(window->windowTitle(), "Server: Stopped");
    int closed = 0;
    QObject::connect(window.get(), &TF_KORUMain::Closed, [&] { ++closed; });
    tray->choose = [&](QMenu&) { exit->trigger(); };
    tray->Press(TrayMouse::RightRelease);
    EXPECT_EQ(closed, 1);
}

TEST_F(MainWindow, MimeEditorAddDropChange) {
    ui->PageControl1->setCurrentWidget(ui->TabSheet2);
    ui->PageControl2->setCurrentWidget(ui->TabSheet6);
    const int count = ui->LB->count();
    const int gif = static_cast<int>(window->Mime().Extensions().indexOf("gif"));
    ASSERT_GE(gif, 0);
    dialogs::SetNextAnswer(QString("gif"));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), count);
    EXPECT_EQ(ui->LB->item(gif)->text(), "gif --> type/info");
    EXPECT_EQ(ui->LB->currentRow(), gif);
    dialogs::SetNextAnswer(QString("new"));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), count + 1);
    EXPECT_EQ(ui->LB->currentRow(), count);
    EXPECT_EQ(ui->Edit5->text(), "type/info");
    EXPECT_FALSE(ui->ChangeBtn->isEnabled());

    ui->Edit5->setFocus();
    pressKey(ui->Edit5, Qt::Key_X, "x");
    EXPECT_TRUE(ui->ChangeBtn->isEnabled()) << "typing in the type field enables Change";
    ui->ChangeBtn->click();
    EXPECT_EQ(window->Mime().LookupMIME("new"), "type/infox");
    EXPECT_EQ(ui->LB->item(count)->text(), "new --> type/infox");

    ui->DropBtn->click();
    EXPECT_EQ(ui->LB->count(), count);
    EXPECT_EQ(ui->LB->currentRow(), count - 1);

    dialogs::SetNextAnswer(std::nullopt);
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), count) << "Cancel adds nothing";
    dialogs::SetNextAnswer(QString("bad\"ext"));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), count);
    EXPECT_EQ(dialogs::TakeMessages().size(), 1u);
    dialogs::SetNextAnswer(QString(""));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), count);
    EXPECT_EQ(dialogs::TakeMessages().size(), 1u);
}

// An earlier version's store keeps its table; the button brings it up to today's types without
// touching a type it has, and the list shows them.
TEST_F(MainWindow, TodaysTypesButtonAddsWhatTheTableLacks) {
    ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook/Projects.conf",
                                 "[KORU]\nSettings\\MIME=\"\\\"jpg\\\"=\\\"image/x-mine\\\"@\"\n"));
    open();
    EXPECT_EQ(ui->TypesBtn->text(), "Add today's &types");
    EXPECT_EQ(ui->TypesBtn->parentWidget(), ui->TabSheet6);
    ASSERT_EQ(ui->LB->count(), 1);
    ui->TypesBtn->click();
    MimeTable today;
    today.LoadMIME(TodaysMimeText());
    EXPECT_EQ(ui->LB->count(), today.Extensions().size());
    EXPECT_EQ(ui->LB->item(0)->text(), "jpg --> image/x-mine");
    EXPECT_EQ(ui->LB->item(1)->text(), today.Lines().at(0));
    EXPECT_EQ(ui->LB->currentRow(), 1) << "the first added line";
    EXPECT_EQ(window->Mime().Published()->Lookup("png"), "image/png") << "served at once";
    ui->TypesBtn->click();
    EXPECT_EQ(ui->LB->count(), today.Extensions().size()) << "nothing twice";
    EXPECT_TRUE(dialogs::TakeMessages().empty());

    ui->Button4->click();
    open();
    EXPECT_EQ(ui->LB->count(), today.Extensions().size()) << "saved with the rest";
}

// A store an earlier version wrote lacks FolderPages, the base file and the table: it keeps what
// they meant then, and a save writes them, so that they stay as shown.
TEST_F(MainWindow, AnEarlierVersionsStoreKeepsItsDefaultsAndTheBoxIsSaved) {
    ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook/Projects.conf",
                                 "[KORU]\nSettings\\Edit4=8081\n"));
    open();
    EXPECT_EQ(ui->Edit2->text(), "Index.Htm");
    EXPECT_EQ(ui->Edit7->text(), "192.168.1.1") << "an earlier user's client fields stay";
    EXPECT_EQ(ui->Edit8->text(), "80");
    EXPECT_FALSE(ui->FolderPagesBox->isChecked());
    EXPECT_FALSE(window->Settings().FolderPages);
    EXPECT_EQ(ui->LB->count(), 63);

    ui->FolderPagesBox->click();
    EXPECT_TRUE(window->Settings().FolderPages);
    ui->Button4->click();
    EXPECT_TRUE(dialogs::TakeMessages().empty());
    ui->FolderPagesBox->click();
    ui->Button11->click();
    EXPECT_TRUE(ui->FolderPagesBox->isChecked()) << "Restore shows what was saved";
    open();
    EXPECT_TRUE(window->Settings().FolderPages);
    EXPECT_EQ(ui->Edit2->text(), "Index.Htm");
}

TEST_F(MainWindow, FieldsFeedTheLiveSettingsAndSaveRestoreRoundTrip) {
    ui->Edit10->setText("<h>");
    ui->CheckBox4->setChecked(false);
    EXPECT_EQ(window->Settings().PageHeader.get(), "<h>");
    EXPECT_FALSE(window->Settings().HideOnStartup);
    ui->Button4->click();
    EXPECT_TRUE(dialogs::TakeMessages().empty());
    ui->Edit10->setText("unsaved");
    ui->Button11->click();
    EXPECT_EQ(ui->Edit10->text(), "<h>");
    EXPECT_FALSE(ui->CheckBox4->isChecked());
}

// Uploads into the plug-ins folder are refused, and its module files can be downloaded: the owner
// is told while it lies inside the base folder.
TEST_F(MainWindow, TheSettingsPageSaysWhenThePluginsFolderLiesInsideTheBaseFolder) {
    open();
    QTemporaryDir site;
    QDir(site.path()).mkpath("plugins");
    const auto warning = [this] {
        const auto* label = window->findChild<QLabel*>("PluginsInsideBase");
        return label != nullptr && !label->isHidden();
    };
    ui->Edit1->setText(site.path() + "/");
    ui->Edit6->setText(site.path() + "/plugins/");
    EXPECT_TRUE(warning());
    ui->Edit6->setText(site.path() + "/../");
    EXPECT_FALSE(warning());
    ui->Edit6->setText("  ");
    EXPECT_EQ(warning(),
              QDir::current().canonicalPath().startsWith(QDir(site.path()).canonicalPath()))
        << "a blank path is the current folder";
    ui->Edit6->setText(site.path());
    EXPECT_TRUE(warning()) << "the base folder itself";
    ui->Edit1->setText(site.path() + "/plugins");
    EXPECT_FALSE(warning());
}

// A store that could not be read at all started silently as a first run, with whatever a first
// run shares: it is reported as a damaged value is, and counts as an earlier version's store.
TEST_F(MainWindow, AStoreThatCannotBeReadIsReportedAndIsNoFirstRun) {
    const QString file = store.systemDir() + "/Quillbrook/Projects.conf";
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    for (int damage = 0; damage < 2; ++damage) {
        QDir(store.systemDir() + "/Quillbrook").removeRecursively();
        if (damage == 0)
            ASSERT_TRUE(QDir().mkpath(file)) << "a folder where the file belongs";
        else
            ASSERT_TRUE(testfiles::write(file, garbage));
        ASSERT_NO_THROW(open());
        EXPECT_FALSE(window->ShowAtStartup()) << "not taken for a first run";
        EXPECT_EQ(ui->Edit4->text(), "8080");
        EXPECT_FALSE(ui->FolderPagesBox->isChecked()) << "shares no more than before";
        EXPECT_EQ(ui->Edit2->text(), "Index.Htm");
        EXPECT_EQ(ui->LB->count(), 63);
        QApplication::processEvents();
        const std::deque<QString> messages = dialogs::TakeMessages();
        ASSERT_EQ(messages.size(), 1u) << damage;
        EXPECT_TRUE(messages[0].startsWith("The settings store " + file + " cannot be read"))
            << messages[0].toStdString();
        // The store is looked at again: it must still count as an earlier version's.
        ui->FolderPagesBox->setChecked(true);
        ui->Button11->click();
        EXPECT_FALSE(ui->FolderPagesBox->isChecked()) << "nor when restored again";
        EXPECT_EQ(ui->LB->count(), 63);
        dialogs::TakeMessages();
    }
}

TEST_F(MainWindow, DamagedValueInTheStoreStillOpensTheWindowAndIsReported) {
    // The unquoted comma makes the header read as a list, not as text.
    ASSERT_TRUE(testfiles::write(
        store.systemDir() + "/Quillbrook/Projects.conf",
        "[KORU]\nSettings\\CBoxes=1000\nSettings\\Edit1=/srv/www/\n"
        "Settings\\Edit4=8080\nSettings\\Edit10=<html><body>Welcome, friend\n"
        "Settings\\Edit12=/var/log/koru.log\nSettings\\Edit13=5\nSettings\\MIME=\"a\"=\"b/c\"\n"));
    ASSERT_NO_THROW(open());

    EXPECT_EQ(ui->Edit1->text(), "/srv/www/");
    EXPECT_EQ(ui->Edit4->text(), "8080");
    EXPECT_EQ(window->Settings().ListenPort, "8080");
    EXPECT_FALSE(ui->CheckBox4->isChecked());
    EXPECT_EQ(ui->Edit10->text(), "<html><body bgcolor=#c0c0c0>");
    EXPECT_EQ(ui->Edit12->text(), store.stateDir() + "/koru/KORU.Log");
    EXPECT_EQ(window->Settings().LogFile, store.stateDir() + "/koru/KORU.Log");
    EXPECT_EQ(ui->Edit13->text(), "40");
    EXPECT_EQ(ui->LB->count(), 63) << "the MIME table after the bad value is the built-in one";
    EXPECT_FALSE(ui->FolderPagesBox->isChecked()) << "an earlier version's store: no folder pages";
    EXPECT_EQ(ui->Edit2->text(), "Index.Htm");

    QApplication::processEvents();
    std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("Edit10")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("Quillbrook/Projects.conf")) << messages[0].toStdString();

    ui->Edit13->setText("7");
    ui->Button11->click();
    messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u) << "Restore still says why it stopped";
    EXPECT_TRUE(messages[0].contains("Edit10"));
    EXPECT_EQ(ui->Edit13->text(), "7") << "Restore keeps what it did not get to";
}

TEST_F(MainWindow, SaveThatCannotWriteSaysWhereAndWhy) {
    ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook", {})) << "a file, not a folder";
    // The same for the per-user file, which a save falls back to.
    ASSERT_TRUE(testfiles::write(store.userDir() + "/Quillbrook", {}));
    ui->Button4->click();
    const std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("Quillbrook/Projects.conf")) << messages[0].toStdString();
    const auto* report = window->findChild<QLabel*>("SaveReport");
    EXPECT_TRUE(report == nullptr || report->isHidden()) << "no save to report";
}

// A save says which file it wrote: the machine-wide one when it takes the write, else the
// per-user one, which the next start then reads; a failed save takes the report away.
TEST_F(MainWindow, ASaveSaysWhichFileItWrote) {
    const QString machineWide = store.systemDir() + "/Quillbrook/Projects.conf";
    const QString perUser = store.userDir() + "/Quillbrook/Projects.conf";
    ui->Button4->click();
    const auto* report = window->findChild<QLabel*>("SaveReport");
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->text(), "Settings saved to " + machineWide);
    EXPECT_TRUE(report->isVisibleTo(ui->TabSheet2));

    ASSERT_TRUE(QDir(store.systemDir()).removeRecursively());
    ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook", {})) << "a file, not a folder";
    ui->Edit4->setText("8099");
    ui->Button4->click();
    EXPECT_TRUE(dialogs::TakeMessages().empty());
    EXPECT_EQ(report->text(), "Settings saved to " + perUser);
    open();
    EXPECT_EQ(ui->Edit4->text(), "8099") << "the next start reads the per-user file";
    EXPECT_FALSE(window->ShowAtStartup()) << "and takes it for a saved store";

    ASSERT_TRUE(QDir(store.userDir()).removeRecursively());
    ASSERT_TRUE(testfiles::write(store.userDir() + "/Quillbrook", {}));
    ui->Button4->click();
    ui->Button4->click();
    EXPECT_EQ(dialogs::TakeMessages().size(), 2u);
    const auto* again = window->findChild<QLabel*>("SaveReport");
    EXPECT_TRUE(again == nullptr || again->isHidden());
}

TEST_F(MainWindow, PickersFillTheirFields) {
    const QString base = docroot.path() + "/";
    ui->Edit1->setText(base);
    dialogs::SetNextAnswer(base + "docs/a.htm");
    ui->BaseFileBtn->click();
    EXPECT_EQ(ui->Edit2->text(), "docs/a.htm");
    dialogs::SetNextAnswer(QString("/elsewhere/a.htm"));
    ui->BaseFileBtn->click();
    EXPECT_EQ(ui->Edit2->text(), "docs/a.htm");
    dialogs::SetNextAnswer(base.toUpper() + "b.htm");
    ui->BaseFileBtn->click();
    EXPECT_EQ(ui->Edit2->text(), "docs/a.htm");
    EXPECT_EQ(dialogs::TakeMessages(), (std::deque<QString>{"Invalid path", "Invalid path"}));

    dialogs::SetNextAnswer(QString("/var/logs"));
    ui->LogFileBtn->click();
    EXPECT_EQ(ui->Edit12->text(), "/var/logs\\KORU.LOG");
    dialogs::SetNextAnswer(std::nullopt);
    ui->LogFileBtn->click();
    EXPECT_EQ(ui->Edit12->text(), "/var/logs\\KORU.LOG");
    dialogs::SetNextAnswer(QString("/srv/plugins/"));
    ui->PluginsPathBtn->click();
    EXPECT_EQ(window->Settings().PluginsPath, "/srv/plugins/");
}

TEST_F(MainWindow, ClientPageLayoutAndSplitter) {
    window->show();
    ui->PageControl1->setCurrentWidget(ui->TabSheet4);
    QApplication::processEvents();
    EXPECT_GE(ui->Panel2->width(), 133) << "wider only where its buttons need it";
    EXPECT_EQ(ui->Memo1->width(), 201);
    EXPECT_EQ(window->Mover1().width(), 3);
    EXPECT_EQ(window->Mover1().FindSizedControl(), ui->Memo1);
    EXPECT_EQ(ui->Memo2->x(), ui->Panel2->width() + 201 + 3);
}

TEST_F(MainWindow, TestClientTalksToARealServer) {
    ASSERT_TRUE(writeIndex("<p>served</p>"));
    const uint16_t port = serveDocroot();
    ui->Button10->click(); // not connected: sends nothing
    connectTestClient(port);
    ASSERT_TRUE(testwait::Until([&] { return ui->Button10->isEnabled(); }));
    EXPECT_FALSE(ui->Button7->isEnabled());
    EXPECT_TRUE(ui->Button9->isEnabled());
    ui->Button10->click(); // an empty memo sends nothing
    ui->Memo1->setPlainText("GET / HTTP/1.0\n\n");
    ui->Button10->click();
    ASSERT_TRUE(testwait::Until([&] { return ui->Button7->isEnabled(); })) << "the server closes";
    const QString transcript = ui->Memo2->toPlainText();
    EXPECT_TRUE(transcript.startsWith("\n===== From Server ====\nHTTP/1.0 200 OK"))
        << transcript.toStdString();
    EXPECT_TRUE(transcript.endsWith("<p>served</p>"));
}

TEST_F(MainWindow, TestClientShowsEveryChunkWithItsMarkerEvenOneByte) {
    testnet::Listener server;
    int peer = -1;
    ASSERT_NO_FATAL_FAILURE(connectTestClientTo(server, peer));
    ::send(peer, "A", 1, 0);
    ASSERT_TRUE(testwait::Until([&] { return ui->Memo2->toPlainText().endsWith("A"); }));
    ::send(peer, "BC", 2, 0);
    ASSERT_TRUE(testwait::Until([&] { return ui->Memo2->toPlainText().endsWith("BC"); }));
    ::close(peer);
    ASSERT_TRUE(testwait::Until([&] { return ui->Button7->isEnabled(); }));
    EXPECT_EQ(ui->Memo2->toPlainText(), "\n===== From Server ====\nA\n===== From Server ====\nBC");
}

TEST_F(MainWindow, TestClientRefusalsAndBadTimeout) {
    const uint16_t unused = testnet::freePort();
    connectTestClient(unused);
    ASSERT_TRUE(testwait::Until([&] { return window->CSock().State() == wsClosed; }));
    EXPECT_TRUE(ui->Button7->isEnabled());
    EXPECT_FALSE(ui->Button9->isEnabled());

    ui->Edit9->setText("abc");
    ui->Button7->click();
    const std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "'abc' is not a valid integer value");
    EXPECT_EQ(window->CSock().State(), wsClosed);
}

TEST_F(MainWindow, AbortWhileConnectingReturnsToClosed) {
    testnet::Listener server; // never accepts: the connection completes in the kernel's queue
    connectTestClient(server.port);
    EXPECT_TRUE(ui->Button9->isEnabled());
    ui->Button9->click();
    EXPECT_EQ(window->CSock().State(), wsClosed);
    EXPECT_TRUE(ui->Button7->isEnabled());
    EXPECT_FALSE(ui->Button9->isEnabled());
    EXPECT_FALSE(ui->Button10->isEnabled());
}
