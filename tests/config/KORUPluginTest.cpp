#include "config/KORUPlugin.h"

#include <gtest/gtest.h>

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

namespace {

// What the test modules report, in the order it happened, and a gate that makes the shop
// module's extended query wait until the test opens it.
class Recorder {
public:
    void Add(const std::string& module, const std::string& event, const std::string& text,
             int32_t value) {
        std::unique_lock lock(mutex_);
        std::string line = module + " " + event;
        if (event == "init" || event == "done")
            line += " " + std::to_string(value);
        lines_.push_back(line);
        texts_.push_back(text);
        changed_.notify_all();
        if (module == "shop" && event == "query2" && blocking_) {
            ++blocked_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !blocking_; });
        }
    }
    std::vector<std::string> Lines() {
        const std::lock_guard lock(mutex_);
        return lines_;
    }
    // The text of the last event `line`, or "(none)".
    std::string TextOf(const std::string& line) {
        const std::lock_guard lock(mutex_);
        for (size_t i = lines_.size(); i-- > 0;)
            if (lines_[i] == line)
                return texts_[i];
        return "(none)";
    }
    size_t Count(const std::string& line) {
        const auto lines = Lines();
        return std::count(lines.begin(), lines.end(), line);
    }
    void Clear() {
        const std::lock_guard lock(mutex_);
        lines_.clear();
        texts_.clear();
    }
    void Block() {
        const std::lock_guard lock(mutex_);
        blocking_ = true;
        blocked_ = 0;
    }
    void WaitUntilBlocked() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return blocked_ > 0; });
    }
    void Unblock() {
        const std::lock_guard lock(mutex_);
        blocking_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::vector<std::string> texts_;
    bool blocking_ = false;
    int blocked_ = 0;
};

Recorder& Events() {
    static Recorder recorder;
    return recorder;
}

QString ModuleFile(const char* id) {
    return QStringLiteral(KORU_TEST_MODULE_DIR "/") + QLatin1String(id) + QStringLiteral(".so");
}

// The entries of a folder in the order the file system lists them.
std::vector<std::string> ListingOrder(const QString& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    while (const dirent* entry = readdir(dir))
        names.emplace_back(entry->d_name);
    closedir(dir);
    return names;
}

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void
KoruTestEvent(const char* module, const char* event, const char* text, int32_t value) {
    Events().Add(module, event, text, value);
}

class PluginHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        Events().Clear();
        PluginInitParam = 0; // as at program start; scans and shutdowns in earlier tests change it
        panel_.OnChanged = [this] { ++changes_; };
    }
    void TearDown() override {
        Events().Unblock();
        ReleasePluginModules();
    }

    // Copies a test module into the plug-ins folder under `fileName` (default: its own name).
    QString Install(const char* id, QString fileName = {}) {
        if (fileName.isEmpty())
            fileName = QLatin1String(id) + QStringLiteral(".so");
        const QString target = folder_.path() + QLatin1Char('/') + fileName;
        EXPECT_TRUE(QFile::copy(ModuleFile(id), target)) << target.toStdString();
        return target;
    }
    QString Folder() const { return folder_.path(); }
    int Load(const char* id) {
        std::string name;
        std::string title;
        return LoadPluginModule(ModuleFile(id), name, title);
    }

    QTemporaryDir folder_;
    PluginPanel panel_;
    int changes_ = 0;
};

TEST_F(PluginHostTest, ScanRegistersOnlyModulesThatAcceptInit) {
    Install("noname", "Upper.SO"); // the pattern ignores letter case
    Install("declines");
    Install("noinit");
    Install("fullname", ".hidden.so");
    Install("fullname", "fullname.so.bak");
    Install("fullname", "fullname.sox");
    ASSERT_TRUE(QDir(Folder()).mkdir("folder.so"));
    QFile junk(Folder() + "/junk.so");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a library");
    junk.close();

    panel_.ScanPlugins(Folder());

    EXPECT_TRUE(panel_.PluginsLoaded());
    EXPECT_EQ(panel_.Lines(), QStringList{"NONAME ==> untitled"});
    EXPECT_GE(changes_, 1);
    EXPECT_EQ(FindPlugin("noname"), 0);
    EXPECT_EQ(FindPlugin("NoNaMe"), 0);
    EXPECT_EQ(FindPlugin("declines"), -1);
    EXPECT_EQ(Events().Count("noname init 16384"), 1u);
    EXPECT_EQ(Events().Count("noname fini"), 0u);
    // Loaded, refused and released again during the scan, never called otherwise.
    EXPECT_EQ(Events().Count("declines init 16384"), 1u);
    EXPECT_EQ(Events().Count("declines fini"), 1u);
    EXPECT_EQ(Events().Count("noinit fini"), 1u);
    EXPECT_EQ(Events().Count("fullname init 16384"), 0u);
}

TEST_F(PluginHostTest, LoadReadsFullWidthFieldsAndPassesThePath) {
    const QString path = Install("fullname");
    std::string name = "keep";
    std::string title = "keep";
    QString typed = path;
    typed.replace(typed.lastIndexOf('/'), 1, '\\'); // as the helpers join folder and file

    ASSERT_EQ(LoadPluginModule(typed, name, title), 0);

    EXPECT_EQ(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    EXPECT_EQ(title, std::string(255, 'x') + "y");
    EXPECT_EQ(Events().TextOf("fullname init 0"), QFile::encodeName(path).toStdString());

    name = title = "keep";
    EXPECT_EQ(LoadPluginModule(ModuleFile("declines"), name, title), -1);
    EXPECT_EQ(LoadPluginModule(Folder() + "/missing.so", name, title), -1);
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(title, "keep");
}

TEST_F(PluginHostTest, IndicesFollowTheFolderListing) {
    Install("noname");
    Install("shop");
    std::vector<std::string> order;
    for (const std::string& entry : ListingOrder(Folder()))
        if (entry == "noname.so" || entry == "shop.so")
            order.push_back(entry);
    ASSERT_EQ(order.size(), 2u);
    const QString nonameLine = "NONAME ==> untitled";
    const QString shopLine = QString::fromUtf8("SHOP_\xC3\xA4 ==> Test shop");

    panel_.ScanPlugins(Folder());

    const bool nonameFirst = order[0] == "noname.so";
    EXPECT_EQ(panel_.Lines(), nonameFirst ? QStringList({nonameLine, shopLine})
                                          : QStringList({shopLine, nonameLine}));
    EXPECT_EQ(FindPlugin("noname"), nonameFirst ? 0 : 1);
    EXPECT_EQ(FindPlugin("shop_\xC3\xA4"), nonameFirst ? 1 : 0);
}

TEST_F(PluginHostTest, NamesCompareWithOnlyAToZUpperCased) {
    EXPECT_EQ(UpperAZ("az`{AZ@[\xC3\xA4"), "AZ`{AZ@[\xC3\xA4");
    ASSERT_EQ(Load("shop"), 0);
    EXPECT_EQ(FindPlugin("shop_\xC3\xA4"), 0);
    EXPECT_EQ(FindPlugin("SHOP_\xC3\xA4"), 0);
    EXPECT_EQ(FindPlugin("ShOp_\xC3\xA4"), 0);
    EXPECT_EQ(FindPlugin("SHOP_\xC3\x84"), -1); // a letter outside a to z keeps its case
    EXPECT_EQ(FindPlugin("shop"), -1);
    EXPECT_EQ(FindPlugin(""), -1);
}

TEST_F(PluginHostTest, RunPluginPrefersTheExtendedQuery) {
    ASSERT_EQ(Load("shop"), 0);
    const std::string request = "GET /shop?x HTTP/1.0\r\n\r\n";
    std::string body;
    std::string header;
    int32_t status = 200;

    EXPECT_EQ(RunPlugin("SHOP_\xC3\xA4", "1.2.3.4", request, "x", body, header, status), 0);
    EXPECT_EQ(body, "peer=1.2.3.4;request=" + request + ";query=x;body=");
    EXPECT_EQ(header, "X-Shop: 1\r\n");
    EXPECT_EQ(status, 201);
    EXPECT_EQ(Events().Count("shop query"), 0u);

    EXPECT_EQ(QueryPlugin("shop_\xC3\xA4", "x", body), 0);
    EXPECT_EQ(body, "basic:x");
}

TEST_F(PluginHostTest, RunPluginFallsBackToTheBasicQueryThenToNothing) {
    ASSERT_EQ(Load("queryonly"), 0);
    ASSERT_EQ(Load("neither"), 1);
    std::string body = "keep";
    std::string header = "keep";
    int32_t status = 7;

    EXPECT_EQ(RunPlugin("queryonly", "p", "r", "a=1", body, header, status), 0);
    EXPECT_EQ(body, "q:a=1");
    EXPECT_EQ(header, "keep");
    EXPECT_EQ(status, 7);

    body = "keep";
    EXPECT_EQ(RunPlugin("neither", "p", "r", "a=1", body, header, status), 1);
    EXPECT_EQ(QueryPlugin("neither", "a=1", body), 1);
    EXPECT_EQ(RunPlugin("nosuch", "p", "r", "a=1", body, header, status), -1);
    EXPECT_EQ(QueryPlugin("nosuch", "a=1", body), -1);
    EXPECT_EQ(body, "keep");
    EXPECT_EQ(header, "keep");
    EXPECT_EQ(status, 7);
}

TEST_F(PluginHostTest, EmptyRepliesGiveAnEmptyBodyAndAreFreed) {
    ASSERT_EQ(Load("emptyreply"), 0);
    std::string body = "old";
    EXPECT_EQ(QueryPlugin("empty", "null", body), 0);
    EXPECT_EQ(body, "");

    // Each reply is a 1 MiB buffer holding an empty text: sixteen kept would show plainly.
    const size_t before = HeapInUse();
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
    ASSERT_EQ(panel_.Lines().size(), 2);
    const bool nonameFirst = FindPlugin("noname") == 0;
    const std::string first = nonameFirst ? "noname" : "shop";
    const std::string second = nonameFirst ? "shop" : "noname";
    const QStringList lines = panel_.Lines();
    const std::string reason = std::to_string(GetParam());
    Events().Clear();
    changes_ = 0;

    panel_.UnloadPlugins(GetParam());

    EXPECT_EQ(Events().Lines(),
              (std::vector<std::string>{first + " done " + reason, second + " done " + reason,
                                        first + " fini", second + " fini"}));
    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_TRUE(panel_.Lines().isEmpty());
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(PluginInitParam, -1);
    std::string body;
    EXPECT_EQ(QueryPlugin("noname", "x", body), -1);

    // The next start lists the modules anew.
    panel_.ScanPlugins(Folder());
    EXPECT_EQ(panel_.Lines(), lines);
    EXPECT_EQ(Events().Count("noname init 16384"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Reasons, PluginShutdownTest,
                         ::testing::Values(KORUPG_DONE_SERVER_STOPPED, KORUPG_DONE_PROGRAM_ENDS));

TEST_F(PluginHostTest, MissingFolderCountsAsScannedUntilTheNextUnload) {
    panel_.ScanPlugins(Folder() + "/nothere");
    EXPECT_TRUE(panel_.PluginsLoaded());
    EXPECT_TRUE(panel_.Lines().isEmpty());

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
    // A folder whose name makes "<folder>/noname.so" exactly 255 bytes long.
    const QString prefix = Folder() + "/";
    const int nameLength = kMaxPluginPath - static_cast<int>(prefix.size()) - 10;
    ASSERT_GT(nameLength, 1);
    const QString fits = prefix + QString(nameLength, 'f');
    const QString tooLong = prefix + QString(nameLength + 1, 'l');
    ASSERT_TRUE(QDir().mkdir(fits));
    ASSERT_TRUE(QDir().mkdir(tooLong));
    ASSERT_TRUE(QFile::copy(ModuleFile("noname"), fits + "/noname.so"));
    ASSERT_TRUE(QFile::copy(ModuleFile("queryonly"), tooLong + "/noname.so"));
    std::string name;
    std::string title;

    EXPECT_EQ(LoadPluginModule(fits + "/noname.so", name, title), 0);
    EXPECT_EQ(Events().TextOf("noname init 0").size(), 255u);
    EXPECT_EQ(LoadPluginModule(tooLong + "/noname.so", name, title), -1);
    EXPECT_EQ(Events().Count("queryonly init 0"), 0u);
}

TEST_F(PluginHostTest, SameNameFindsTheFirstAndEachModuleGetsOneDone) {
    ASSERT_EQ(Load("twin_a"), 0);
    ASSERT_EQ(Load("twin_b"), 1);
    std::string body;
    EXPECT_EQ(FindPlugin("TWIN"), 0);
    EXPECT_EQ(QueryPlugin("twin", "x", body), 0);
    EXPECT_EQ(body, "twin_a");

    // A module that was shut down answers no more; the next of that name does.
    EXPECT_EQ(DonePlugin("twin", KORUPG_DONE_SERVER_STOPPED), 0);
    EXPECT_EQ(QueryPlugin("twin", "x", body), 1);
    EXPECT_EQ(body, "twin_b");

    ShutdownPlugins(KORUPG_DONE_PROGRAM_ENDS);
    EXPECT_EQ(Events().Count("twin_a done 2"), 1u);
    EXPECT_EQ(Events().Count("twin_a done 3"), 0u);
    EXPECT_EQ(Events().Count("twin_b done 3"), 1u);
    EXPECT_EQ(Events().Count("twin_a fini"), 1u);
    EXPECT_EQ(Events().Count("twin_b fini"), 1u);
}

TEST_F(PluginHostTest, ModuleExceptionsReachTheCallerAsHostErrors) {
    ASSERT_EQ(Load("shop"), 0);
    ASSERT_EQ(Load("querythrows"), 1);
    std::string body;
    std::string header;
    int32_t status = 200;
    std::string text;
    try {
        RunPlugin("shop_\xC3\xA4", "p", "r", "throw", body, header, status);
        ADD_FAILURE() << "no error";
    } catch (const EPluginError& error) {
        text = error.what();
    }
    EXPECT_NE(text.find("KORUPGQuery2"), std::string::npos) << text;
    EXPECT_NE(text.find("shop refused"), std::string::npos) << text;
    EXPECT_THROW(RunPlugin("shop_\xC3\xA4", "p", "r", "throw-int", body, header, status),
                 EPluginError);
    EXPECT_THROW(QueryPlugin("querythrows", "x", body), EPluginError);
    EXPECT_THROW(RunPlugin("querythrows", "p", "r", "x", body, header, status), EPluginError);

    // The module keeps working, and its error outlives it.
    EXPECT_EQ(RunPlugin("shop_\xC3\xA4", "p", "r", "ok", body, header, status), 0);
    try {
        QueryPlugin("querythrows", "x", body);
        ADD_FAILURE() << "no error";
    } catch (const EPluginError& error) {
        ReleasePluginModules();
        EXPECT_EQ(Events().Count("querythrows fini"), 1u);
        EXPECT_NE(std::string(error.what()).find("basic query refused"), std::string::npos);
    }
}

TEST_F(PluginHostTest, InitErrorEndsTheScanAndReleasesWhatItRegistered) {
    Install("noname");
    Install("initthrows");
    Install("shop");

    EXPECT_THROW(panel_.ScanPlugins(Folder()), EPluginError);

    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_TRUE(panel_.Lines().isEmpty());
    EXPECT_EQ(FindPlugin("noname"), -1);
    EXPECT_EQ(FindPlugin("shop_\xC3\xA4"), -1);
    EXPECT_EQ(Events().Count("initthrows fini"), 1u);
    for (const char* id : {"noname", "shop"})
        EXPECT_EQ(Events().Count(std::string(id) + " init 16384"),
                  Events().Count(std::string(id) + " fini"))
            << id;
    for (const std::string& line : Events().Lines())
        EXPECT_EQ(line.find(" done "), std::string::npos) << line;
}

TEST_F(PluginHostTest, DoneErrorStopsTheShutdownAndTheNextOneFinishesIt) {
    ASSERT_EQ(Load("donethrows"), 0);
    ASSERT_EQ(Load("noname"), 1);

    EXPECT_THROW(ShutdownPlugins(KORUPG_DONE_SERVER_STOPPED), EPluginError);
    EXPECT_EQ(Events().Lines(), (std::vector<std::string>{"donethrows init 0", "noname init 0",
                                                          "donethrows done 2"}));
    EXPECT_EQ(FindPlugin("noname"), -1); // stopped: no new calls

    ShutdownPlugins(KORUPG_DONE_PROGRAM_ENDS);
    EXPECT_EQ(Events().Lines(),
              (std::vector<std::string>{"donethrows init 0", "noname init 0", "donethrows done 2",
                                        "noname done 3", "donethrows fini", "noname fini"}));
}

TEST_F(PluginHostTest, DoneErrorKeepsThePanelLoadedUntilTheNextUnload) {
    Install("donethrows");
    panel_.ScanPlugins(Folder());

    EXPECT_THROW(panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED), EPluginError);
    EXPECT_TRUE(panel_.PluginsLoaded());
    EXPECT_EQ(panel_.Lines().size(), 1);

    panel_.UnloadPlugins(KORUPG_DONE_PROGRAM_ENDS);
    EXPECT_FALSE(panel_.PluginsLoaded());
    EXPECT_EQ(Events().Count("donethrows done 2"), 1u);
    EXPECT_EQ(Events().Count("donethrows done 3"), 0u);
    EXPECT_EQ(Events().Count("donethrows fini"), 1u);
}

TEST_F(PluginHostTest, UnloadWaitsForARunningCallAndLaterCallsFindNoModule) {
    Install("shop");
    panel_.ScanPlugins(Folder());
    Events().Block();
    auto call = std::async(std::launch::async, [] {
        std::string body;
        std::string header;
        int32_t status = 200;
        const int index = RunPlugin("shop_\xC3\xA4", "p", "r", "slow", body, header, status);
        return std::make_pair(index, body);
    });
    Events().WaitUntilBlocked();

    auto unload = std::async(std::launch::async,
                             [this] { panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED); });
    // Once the unload has begun, new calls find no module, while the running one goes on.
    for (int i = 0; i < 10000 && FindPlugin("shop_\xC3\xA4") != -1; ++i)
        std::this_thread::sleep_for(1ms);
    std::string body = "keep";
    std::string header;
    int32_t status = 200;
    EXPECT_EQ(RunPlugin("shop_\xC3\xA4", "p", "r", "late", body, header, status), -1);
    EXPECT_EQ(body, "keep");
    // However long we look, nothing is finalised or released under the running call.
    EXPECT_EQ(unload.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(Events().Count("shop done 2"), 0u);
    EXPECT_EQ(Events().Count("shop fini"), 0u);

    Events().Unblock();
    const auto [index, answer] = call.get();
    unload.get();
    EXPECT_EQ(index, 0);
    EXPECT_EQ(answer, "peer=p;request=r;query=slow;body=");
    const std::vector<std::string> lines = Events().Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"shop done 2", "shop fini"}));
    EXPECT_EQ(Events().Count("shop query2"), 1u); // the late call never reached the module
}

TEST_F(PluginHostTest, NoCallRunsAfterDoneWhileManyWorkersCall) {
    Install("shop");
    Install("noname");
    panel_.ScanPlugins(Folder());
    constexpr int kWorkers = 4;
    std::mutex mutex;
    std::condition_variable started;
    int running = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            bool counted = false;
            for (;;) {
                std::string body;
                std::string header;
                int32_t status = 200;
                const int index =
                    w % 2 == 0 ? RunPlugin("shop_\xC3\xA4", "p", "r", "q", body, header, status)
                               : QueryPlugin("noname", "q", body);
                if (index < 0)
                    return;
                if (!counted) {
                    counted = true;
                    const std::lock_guard lock(mutex);
                    ++running;
                    started.notify_all();
                }
            }
        });
    {
        std::unique_lock lock(mutex);
        started.wait(lock, [&] { return running == kWorkers; });
    }

    panel_.UnloadPlugins(KORUPG_DONE_SERVER_STOPPED);
    for (std::thread& worker : workers)
        worker.join();

    // Per module: every call has returned before its KORUPGDone (calls into a module that is
    // shut down later may still run meanwhile).
    const std::vector<std::string> lines = Events().Lines();
    for (const std::string module : {"shop", "noname"}) {
        const auto done = std::find(lines.begin(), lines.end(), module + " done 2");
        ASSERT_NE(done, lines.end()) << module;
        for (auto it = done; it != lines.end(); ++it)
            EXPECT_NE(it->rfind(module + " query", 0), 0u) << *it;
    }
}
