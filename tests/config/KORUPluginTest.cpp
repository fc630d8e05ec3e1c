#include "config/KORUPlugin.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <future>
#include <malloc.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace {

const std::string kShop = "shop_\xC3\xA4"; // the shop module's name holds a letter beyond a to z

// What the test modules report ("module event" plus the value of init and done), in order; and
// a gate that holds the shop module's extended query until the test opens it.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    Lines lines;
    std::vector<std::string> texts;
    bool blocking = false;
    bool blocked = false;

    Lines Get() {
        const std::lock_guard lock(mutex);
        return lines;
    }
    size_t Count(const std::string& line) {
        const Lines all = Get();
        return std::count(all.begin(), all.end(), line);
    }
    std::string TextOf(const std::string& line) {
        const std::lock_guard lock(mutex);
        const auto it = std::find(lines.rbegin(), lines.rend(), line);
        return it == lines.rend() ? "(none)" : texts[lines.rend() - it - 1];
    }
    void SetBlocking(bool on) {
        const std::lock_guard lock(mutex);
        blocking = on;
        changed.notify_all();
    }
    void WaitUntilBlocked() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return blocked; });
    }
};

Recorder& Events() {
    static Recorder recorder;
    return recorder;
}

QString ModuleFile(const char* id) {
    return QStringLiteral(KORU_TEST_MODULE_DIR "/") + id + QStringLiteral(".so");
}

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void
KoruTestEvent(const char* module, const char* event, const char* text, int32_t value) {
    Recorder& r = Events();
    std::unique_lock lock(r.mutex);
    const std::string what = event;
    r.lines.push_back(std::string(module) + " " + what +
                      (what == "init" || what == "done" ? " " + std::to_string(value) : ""));
    r.texts.push_back(text);
    if (std::string(module) == "shop" && what == "query2" && r.blocking) {
        r.blocked = true;
        r.changed.notify_all();
        r.changed.wait(lock, [&r] { return !r.blocking; });
    }
}

class PluginHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        const std::lock_guard lock(Events().mutex);
        Events().lines.clear();
        Events().texts.clear();
        Events().blocked = false;
        PluginInitParam = 0; // as at program start; earlier tests change it
    }
    void TearDown() override {
        Events().SetBlocking(false);
        ReleasePluginModules();
    }
    QString Install(const char* id, QString fileName = {}) {
        const QString target =
            Folder() + "/" + (fileName.isEmpty() ? id + QString(".so") : fileName);
        EXPECT_TRUE(QFile::copy(ModuleFile(id), target)) << target.toStdString();
        return target;
    }
    QString Folder() const { return folder_.path(); }
    static int Load(const char* id) {
        std::string name, title;
        return LoadPluginModule(ModuleFile(id), name, title);
    }
    static int Run(const std::string& name, const std::string& query, std::string& body,
                   std::string& header, int32_t& status) {
        return RunPlugin(name, "1.2.3.4", "r", query, body, header, status);
    }

    // Loads the shop module and starts a call into it that blocks until blocking is switched
    // off; returns when the call is inside the module.
    std::future<std::pair<int, std::string>> StartBlockedShopCall() {
        Install("shop");
        panel_.ScanPlugins(Folder());
        Events().SetBlocking(true);
        auto call = std::async(std::launch::async, [] {
            std::string body, header;
            int32_t status = 200;
            return std::make_pair(Run(kShop, "slow", body, header, status), body);
        });
        Events().WaitUntilBlocked();
        return call;
    }

    QTemporaryDir folder_;
    PluginPanel panel_;
};

TEST_F(PluginHostTest, ScanRegistersOnlyModuleFilesThatAcceptInit) {
    Install("noname", "Upper.SO"); // the pattern ignores letter case
    Install("declines");
    Install("noinit");
    for (const char* skipped : {".hidden.so", "fullname.so.bak", "fullname.sox"})
        Install("fullname", skipped);
    ASSERT_TRUE(QDir(Folder()).mkdir("folder.so"));
    QFile junk(Folder() + "/junk.so");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not a library") > 0);
    junk.close();
    int changes = 0;
    panel_.OnChanged = [&changes] { ++changes; };

    panel_.ScanPlugins(Folder());

    EXPECT_TRUE(panel_.PluginsLoaded());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(panel_.Lines(), QStringList{"NONAME ==> untitled"});
    EXPECT_EQ(FindPlugin("NoNaMe"), 0);
    EXPECT_EQ(FindPlugin("declines"), -1);
    EXPECT_EQ(Events().Count("noname fini"), 0u);
    // Loaded, refused and released again at once; the skipped files are never loaded.
    for (const std::string line :
         {"noname init 16384", "declines init 16384", "declines fini", "noinit fini"})
        EXPECT_EQ(Events().Count(line), 1u) << line;
    EXPECT_EQ(Events().Count("fullname init 16384"), 0u);
    // Every file that is not registered, but for a module that declines, is named with why.
    QStringList skipped = panel_.Skipped();
    skipped.sort();
    EXPECT_EQ(skipped,
              QStringList({"folder.so: skipped, a folder", "junk.so: skipped, not a shared library",
                           "noinit.so: skipped, a library without KORUPGInit, not a module"}));
}

TEST_F(PluginHostTest, LoadReadsFullWidthFieldsAndPassesThePath) {
    const QString path = Install("fullname");
    QString typed = path;
    typed[typed.lastIndexOf('/')] = '\\'; // as the helpers join folder and file
    std::string name = "keep", title = "keep";

    ASSERT_EQ(LoadPluginModule(typed, name, title), 0);
    EXPECT_EQ(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    EXPECT_EQ(title, std::string(255, 'x') + "y");
    EXPECT_EQ(Events().TextOf("fullname init 0"), QFile::encodeName(path).toStdString());

    name = title = "keep";
    EXPECT_EQ(LoadPluginModule(ModuleFile("declines"), name, title), -1);
    EXPECT_EQ(LoadPluginModule(Folder() + "/missing.so", name, title), -1);
    EXPECT_EQ(name + title, "keepkeep");
}

TEST_F(PluginHostTest, IndicesFollowTheFolderListing) {
    Install("noname");
    Install("shop");
    Lines order; // as the file system lists them
    DIR* dir = opendir(QFile::encodeName(Folder()).constData());
    while (const dirent* entry = readdir(dir))
        if (std::string(entry->d_name).ends_with(".so"))
            order.emplace_back(entry->d_name);
    closedir(dir);
    const bool nonameFirst = order == Lines{"noname.so", "shop.so"};

    panel_.ScanPlugins(Folder());

    const QString noname = "NONAME ==> untitled";
    const QString shop = QString::fromUtf8("SHOP_\xC3\xA4 ==> Shop_\xC3\xA4 title");
    EXPECT_EQ(panel_.Lines(),
              nonameFirst ? QStringList({noname, shop}) : QStringList({shop, noname}));
    EXPECT_EQ(FindPlugin("noname"), nonameFirst ? 0 : 1);
    EXPECT_EQ(FindPlugin(kShop), nonameFirst ? 1 : 0);
}

TEST_F(PluginHostTest, NamesCompareWithOnlyAToZUpperCased) {
    EXPECT_EQ(UpperAZ("az`{AZ@[\xC3\xA4"), "AZ`{AZ@[\xC3\xA4");
    ASSERT_EQ(Load("shop"), 0);
    for (const char* name : {"shop_\xC3\xA4", "SHOP_\xC3\xA4", "ShOp_\xC3\xA4"})
        EXPECT_EQ(FindPlugin(name), 0) << name;
    for (const char* name : {"SHOP_\xC3\x84", "shop", ""})
        EXPECT_EQ(FindPlugin(name), -1) << name;
}

TEST_F(PluginHostTest, QueriesPreferTheExtendedCallThenTheBasicOneThenNothing) {
    ASSERT_EQ(Load("shop"), 0);
    ASSERT_EQ(Load("queryonly"), 1);
    ASSERT_EQ(Load("neither"), 2);
    std::string body = "", header = "";
    int32_t status = 200;

    EXPECT_EQ(Run(kShop, "x", body, header, status), 0);
    EXPECT_EQ(body, "peer=1.2.3.4;request=r;query=x;body=");
    EXPECT_EQ(header, "X-Shop: 1\r\n");
    EXPECT_EQ(status, 201);
    EXPECT_EQ(QueryPlugin(kShop, "x", body), 0);
    EXPECT_EQ(body, "basic:x");

    body = header = "keep";
    status = 7;
    EXPECT_EQ(Run("queryonly", "a=1", body, header, status), 1);
    EXPECT_EQ(body + header + std::to_string(status), "q:a=1keep7");
    body = "keep";
    EXPECT_EQ(Run("neither", "a=1", body, header, status), 2);
    EXPECT_EQ(QueryPlugin("neither", "a=1", body), 2);
    EXPECT_EQ(Run("nosuch", "a=1", body, header, status), -1);
    EXPECT_EQ(QueryPlugin("nosuch", "a=1", body), -1);
    EXPECT_EQ(body + header + std::to_string(status), "keepkeep7");
}

TEST_F(PluginHostTest, EmptyRepliesGiveAnEmptyBodyAndAreFreed) {
    ASSERT_EQ(Load("emptyreply"), 0);
    std::string body = "old";
    EXPECT_EQ(QueryPlugin("empty", "null", body), 0);
    EXPECT_EQ(body, "");
    const size_t before = HeapInUse(); // each reply is 1 MiB: sixteen kept would show
    for (int i = 0; i < 16; ++i) {
        body = "old";
        ASSERT_EQ(QueryPlugin("empty", "big", body), 0);
        EXPECT_EQ(body, "");
    }
    EXPECT_LT(HeapInUse(), before + 1024 * 1024);
}

class PluginShutdownTest : public PluginHostTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(PluginShutdownTest, UnloadCallsDoneWithTheReasonThenReleasesEveryModule) {
    Install("noname");
    Install("shop");
    panel_.ScanPlugins(Folder());
    const QStringList lines = panel_.Lines();
    const std::string first = FindPlugin("noname") == 0 ? "noname" : "shop";
    const std::string second = first == "noname" ? "shop" : "noname";
    const std::string reason = std::to_string(GetParam());

    panel_.UnloadPlugins(GetParam());

    const Lines events = Events().Get();
    EXPECT_EQ(Lines(events.end() - 4, events.end()),
              (Lines{first + " done " + reason, second + " done " + reason, first + " fini",
                     second + " fini"}));
    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_TRUE(panel_.Lines().isEmpty());
    EXPECT_EQ(PluginInitParam, -1);
    EXPECT_EQ(FindPlugin("noname"), -1);

    panel_.ScanPlugins(Folder()); // the next start lists them anew
    EXPECT_EQ(panel_.Lines(), lines);
    EXPECT_EQ(Events().Count("noname init 16384"), 2u);
}

INSTANTIATE_TEST_SUITE_P(Reasons, PluginShutdownTest,
                         ::testing::Values(KORUPG_DONE_SERVER_STOPPED, KORUPG_DONE_PROGRAM_ENDS));

TEST_F(PluginHostTest, MissingFolderCountsAsScannedUntilTheNextUnload) {
    panel_.ScanPlugins(Folder() + "/nothere");
    EXPECT_TRUE(panel_.PluginsLoaded());
    Install("noname");
    panel_.ScanPlugins(Folder());
    EXPECT_TRUE(panel_.Lines().isEmpty());
    panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED);
    panel_.ScanPlugins(Folder());
    EXPECT_EQ(panel_.Lines(), QStringList{"NONAME ==> untitled"});
}

TEST_F(PluginHostTest, BlankPluginsPathScansTheCurrentFolder) {
    Install("noname");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Folder()));
    for (const QString& blank : {QString(), QStringLiteral(" \t ")}) {
        panel_.ScanPlugins(blank);
        EXPECT_EQ(panel_.Lines(), QStringList{"NONAME ==> untitled"});
        EXPECT_EQ(Events().TextOf("noname init 16384"), "noname.so");
        panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED);
    }
    QDir::setCurrent(previous);
}

TEST_F(PluginHostTest, PathsLongerThanThePathFieldAreNotLoaded) {
    // Folders that make "<folder>/noname.so" exactly 255 and 256 bytes long.
    const QString prefix = Folder() + "/";
    const int length = kMaxPluginPath - static_cast<int>(prefix.size()) - 10;
    const QString fits = prefix + QString(length, 'f'), tooLong = prefix + QString(length + 1, 'l');
    ASSERT_TRUE(QDir().mkdir(fits) && QDir().mkdir(tooLong));
    ASSERT_TRUE(QFile::copy(ModuleFile("noname"), fits + "/noname.so"));
    ASSERT_TRUE(QFile::copy(ModuleFile("queryonly"), tooLong + "/noname.so"));
    std::string name, title;

    EXPECT_EQ(LoadPluginModule(fits + "/noname.so", name, title), 0);
    EXPECT_EQ(Events().TextOf("noname init 0").size(), 255u);
    EXPECT_EQ(LoadPluginModule(tooLong + "/noname.so", name, title), -1);
    EXPECT_EQ(Events().Count("queryonly init 0"), 0u);
}

TEST_F(PluginHostTest, SameNameFindsTheFirstAndEachModuleGetsOneDone) {
    ASSERT_EQ(Load("twin_a"), 0);
    ASSERT_EQ(Load("twin_b"), 1);
    std::string body;
    EXPECT_EQ(QueryPlugin("TWIN", "x", body), 0);
    EXPECT_EQ(body, "twin_a:x");

    // A module that was shut down answers no more; the next of that name does.
    EXPECT_EQ(DonePlugin("twin", KORUPG_DONE_SERVER_STOPPED), 0);
    EXPECT_EQ(QueryPlugin("twin", "x", body), 1);
    EXPECT_EQ(body, "twin_b:x");

    ShutdownPlugins(KORUPG_DONE_PROGRAM_ENDS);
    EXPECT_EQ(Events().Get(),
              (Lines{"twin_a init 0", "twin_b init 0", "twin_a query", "twin_a done 2",
                     "twin_b query", "twin_b done 3", "twin_a fini", "twin_b fini"}));
}

TEST_F(PluginHostTest, ModuleExceptionsReachTheCallerAsHostErrors) {
    ASSERT_EQ(Load("shop"), 0);
    ASSERT_EQ(Load("querythrows"), 1);
    std::string body, header;
    int32_t status = 200;
    EXPECT_THROW(Run(kShop, "throw-int", body, header, status), EPluginError);
    EXPECT_THROW(Run("querythrows", "x", body, header, status), EPluginError);
    EXPECT_EQ(Run(kShop, "ok", body, header, status), 0); // still callable

    std::string text;
    try {
        Run(kShop, "throw", body, header, status);
    } catch (const EPluginError& error) {
        ReleasePluginModules(); // the error must outlive the module that raised it
        EXPECT_EQ(Events().Count("shop fini"), 1u);
        text = error.what();
    }
    EXPECT_EQ(text,
              "Plugin \"SHOP_\xC3\xA4\" raised an error in KORUPGQuery2: extended query refused");
}

// A raising KORUPGInit threw out of the scan, and so out of the server's start, before it
// accepted anything: the port took connections and answered none.
TEST_F(PluginHostTest, InitErrorSkipsThatModuleAndReportsItOnce) {
    for (const char* id : {"noname", "initthrows", "shop"})
        Install(id);
    QStringList reported;
    panel_.OnProblem = [&reported](const QString& problem) { reported << problem; };

    panel_.ScanPlugins(Folder());

    EXPECT_TRUE(panel_.PluginsLoaded());
    EXPECT_EQ(panel_.Lines().size(), 2);
    EXPECT_GE(FindPlugin("noname"), 0);
    EXPECT_GE(FindPlugin(kShop), 0);
    EXPECT_EQ(Events().Count("initthrows init 16384"), Events().Count("initthrows fini"));
    const QString line = "initthrows.so: skipped, Plugin \"" +
                         QFile::encodeName(Folder() + "/initthrows.so") +
                         "\" raised an error in KORUPGInit: init refused";
    EXPECT_EQ(panel_.Skipped(), QStringList{line});
    EXPECT_EQ(reported, QStringList{line});
}

// A raising KORUPGDone ended the shutdown there: the modules after it got no KORUPGDone at the
// program's end, and stayed loaded.
TEST_F(PluginHostTest, DoneErrorKeepsNoOtherModuleFromItsOwn) {
    ASSERT_EQ(Load("donethrows"), 0);
    ASSERT_EQ(Load("noname"), 1);

    EXPECT_THROW(ShutdownPlugins(KORUPG_DONE_PROGRAM_ENDS), EPluginError);
    EXPECT_EQ(Events().Get(), (Lines{"donethrows init 0", "noname init 0", "donethrows done 3",
                                     "noname done 3", "donethrows fini", "noname fini"}));

    // The panel reports it and never throws.
    Install("donethrows");
    Install("noname");
    panel_.ScanPlugins(Folder());
    QStringList reported;
    panel_.OnProblem = [&reported](const QString& problem) { reported << problem; };
    panel_.UnloadPlugins(KORUPG_DONE_PROGRAM_ENDS);
    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_EQ(Events().Count("noname done 3"), 2u);
    EXPECT_EQ(Events().Count("noname fini"), 2u);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported[0].endsWith("raised an error in KORUPGDone: done refused"));
}

// The server's stop unloads the modules on the UI thread, which waited there for every running
// call: a module taking 30 s held the window and the tray for 30 s.
TEST_F(PluginHostTest, StopNeverWaitsForARunningCallAndAStartMeanwhileLoadsAfterIt) {
    auto call = StartBlockedShopCall();

    panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED); // returns at once
    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_TRUE(panel_.Lines().isEmpty());
    std::string body = "keep", header;
    int32_t status = 200;
    EXPECT_EQ(Run(kShop, "late", body, header, status), -1) << "new calls find no module";
    EXPECT_EQ(body, "keep");
    EXPECT_TRUE(ShutdownsPending());
    // A start before the call returns loads nothing yet: the old module is still mapped.
    panel_.ScanPlugins(Folder());
    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_EQ(FindPlugin(kShop), -1);
    QCoreApplication::processEvents();
    EXPECT_EQ(Events().Count("shop done 2") + Events().Count("shop fini"), 0u)
        << "nothing is finalised or released under the running call";

    Events().SetBlocking(false);
    EXPECT_EQ(call.get(),
              std::make_pair(0, std::string("peer=1.2.3.4;request=r;query=slow;body=")));
    // The worker that returned last has the UI thread finish the shutdown, then the scan.
    for (int i = 0; i < 1000 && !panel_.PluginsLoaded(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(panel_.PluginsLoaded());
    EXPECT_FALSE(ShutdownsPending());
    EXPECT_EQ(FindPlugin(kShop), 0);
    const Lines events = Events().Get();
    EXPECT_EQ(Lines(events.end() - 4, events.end()),
              (Lines{"shop query2", "shop done 2", "shop fini", "shop init 16384"}));
}

// At the program's end the workers have been awaited: the shutdown waits for a running call.
TEST_F(PluginHostTest, TheProgramsEndWaitsForARunningCall) {
    auto call = StartBlockedShopCall();
    auto unload = std::async(std::launch::async, [] { ShutdownPlugins(KORUPG_DONE_PROGRAM_ENDS); });
    EXPECT_EQ(unload.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(Events().Count("shop done 3") + Events().Count("shop fini"), 0u);
    Events().SetBlocking(false);
    EXPECT_EQ(call.get().first, 0);
    unload.get();
    const Lines events = Events().Get();
    EXPECT_EQ(Lines(events.end() - 3, events.end()),
              (Lines{"shop query2", "shop done 3", "shop fini"}));
}

TEST_F(PluginHostTest, NoCallRunsAfterItsModulesDoneWhileManyWorkersCall) {
    Install("shop");
    Install("noname");
    panel_.ScanPlugins(Folder());
    std::mutex mutex;
    std::condition_variable started;
    int running = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (bool first = true;; first = false) {
                std::string body, header;
                int32_t status = 200;
                if ((w % 2 == 0 ? Run(kShop, "q", body, header, status)
                                : QueryPlugin("noname", "q", body)) < 0)
                    return;
                if (first) {
                    const std::lock_guard lock(mutex);
                    ++running;
                    started.notify_all();
                }
            }
        });
    {
        std::unique_lock lock(mutex);
        started.wait(lock, [&] { return running == 4; });
    }
    panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED);
    for (std::thread& worker : workers)
        worker.join();
    for (int i = 0; i < 1000 && ShutdownsPending(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_FALSE(ShutdownsPending());

    // Calls into a module shut down later may still run meanwhile.
    const Lines events = Events().Get();
    for (const std::string module : {"shop", "noname"}) {
        const auto done = std::find(events.begin(), events.end(), module + " done 2");
        ASSERT_NE(done, events.end()) << module;
        for (auto it = done; it != events.end(); ++it)
            EXPECT_NE(it->rfind(module + " query", 0), 0u) << *it;
    }
}
