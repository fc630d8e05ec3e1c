// Which file the settings are read from and written to: the per-user file once it holds KORU
// settings (then as the whole store), else the machine-wide one; a save the machine-wide file
// refuses goes to the per-user file, also for a user without the right to write it.
#include "config/StorePlace.h"
#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"

#include "support/TempStore.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

QByteArray garbage() {
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
    return bytes;
}

QByteArray contentOf(const QString& file) {
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

class StorePlaceTest : public ::testing::Test {
protected:
    void SetUp() override { RegRoot = platform::StoreRoot::MachineWide; }
    QString systemFile() const { return store.systemDir() + "/Quillbrook/Projects.conf"; }
    QString userFile() const { return store.userDir() + "/Quillbrook/Projects.conf"; }
    // Lays a store file out as `kind` names it; false when that failed.
    static bool layOut(const QString& file, const std::string& kind) {
        if (kind == "none")
            return true;
        if (kind == "folder in its place")
            return QDir().mkpath(file);
        if (kind == "damaged")
            return testfiles::write(file, garbage());
        if (kind == "other values only")
            return testfiles::write(file, "[Other]\nSettings\\Edit4=1\n");
        // "port N": KORU settings with that port and an idle time of 99 seconds.
        return testfiles::write(file, QByteArray("[KORU]\nSettings\\Edit4=") +
                                          QByteArray::fromStdString(kind.substr(5)) +
                                          "\nSettings\\Edit13=99\n");
    }
    ServerSettings restored() {
        ServerSettings settings;
        MimeTable mime;
        ResetSettings(settings, mime, StoreDefaults());
        RestoreSettings(settings, mime);
        return settings;
    }

    TempStore store;
};

} // namespace

TEST_F(StorePlaceTest, ThePerUserFileIsReadOnceItHoldsSettingsAndThenIsTheWholeStore) {
    struct Case {
        const char* perUser;
        const char* machineWide;
        bool readsPerUser;
        Defaults defaults;
        bool problem; // StoreProblem() names the file read
        const char* port;
        const char* idle;
    };
    const Case cases[] = {
        {"none", "none", false, Defaults::FirstRun, false, "8080", "40"},
        {"port 8081", "none", true, Defaults::OlderStore, false, "8081", "99"},
        {"none", "port 8082", false, Defaults::OlderStore, false, "8082", "99"},
        {"port 8081", "port 8082", true, Defaults::OlderStore, false, "8081", "99"},
        {"other values only", "port 8082", false, Defaults::OlderStore, false, "8082", "99"},
        {"other values only", "none", false, Defaults::FirstRun, false, "8080", "40"},
        // A damaged per-user file is the user's own store: never a first run, and never a
        // reason to show the machine-wide values instead.
        {"damaged", "port 8082", true, Defaults::OlderStore, true, "8080", "40"},
        {"folder in its place", "none", true, Defaults::OlderStore, true, "8080", "40"},
        {"none", "damaged", false, Defaults::OlderStore, true, "8080", "40"},
        {"port 8081", "damaged", true, Defaults::OlderStore, false, "8081", "99"},
        {"none", "folder in its place", false, Defaults::OlderStore, true, "8080", "40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.perUser) + " / " + c.machineWide);
        // A store of its own each time: a file rewritten within a moment with the same size is
        // taken for unchanged and not read again.
        const TempStore fresh;
        const QString user = fresh.userDir() + "/Quillbrook/Projects.conf";
        const QString system = fresh.systemDir() + "/Quillbrook/Projects.conf";
        ASSERT_TRUE(layOut(user, c.perUser));
        ASSERT_TRUE(layOut(system, c.machineWide));
        EXPECT_EQ(StoreFile(), c.readsPerUser ? user : system);
        EXPECT_EQ(StoreDefaults(), c.defaults);
        const QString problem = StoreProblem();
        EXPECT_EQ(!problem.isEmpty(), c.problem) << problem.toStdString();
        if (c.problem) {
            EXPECT_TRUE(problem.contains(StoreFile())) << problem.toStdString();
        }
        ServerSettings settings;
        MimeTable mime;
        ResetSettings(settings, mime, StoreDefaults());
        try {
            RestoreSettings(settings, mime);
        } catch (const platform::StoreError&) {
            // a damaged file may hold a value that is not text: the fields keep their defaults
        }
        EXPECT_EQ(settings.ListenPort, c.port);
        EXPECT_EQ(settings.IdleSeconds, c.idle)
            << "values the file read lacks take the defaults, not the other file's";
    }
}

TEST_F(StorePlaceTest, ASaveGoesWhereTheSettingsCameFromOrElseToThePerUserFile) {
    struct Case {
        const char* perUser;
        const char* machineWide;
        bool blockMachineWideFolder; // a plain file where the machine-wide folder should be
        bool writesPerUser;
    };
    const Case cases[] = {
        {"none", "none", false, false},
        {"none", "port 8082", false, false},
        {"port 8081", "port 8082", false, true},
        {"other values only", "port 8082", false, false},
        {"none", "none", true, true},
        {"none", "folder in its place", false, true},
        {"other values only", "none", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.perUser) + " / " + c.machineWide +
                     (c.blockMachineWideFolder ? " (blocked)" : ""));
        const TempStore fresh;
        const QString user = fresh.userDir() + "/Quillbrook/Projects.conf";
        const QString system = fresh.systemDir() + "/Quillbrook/Projects.conf";
        ASSERT_TRUE(layOut(user, c.perUser));
        ASSERT_TRUE(layOut(system, c.machineWide));
        if (c.blockMachineWideFolder) {
            ASSERT_TRUE(testfiles::write(fresh.systemDir() + "/Quillbrook", "not a folder"));
        }
        const QByteArray untouched = contentOf(c.writesPerUser ? system : user);

        ServerSettings settings = restored();
        settings.ListenPort = "9090";
        MimeTable mime;
        mime.LoadMIME("\"a\"=\"b/c\"@");
        const QString written = SaveSettings(settings, mime);
        EXPECT_EQ(written, c.writesPerUser ? user : system);
        EXPECT_TRUE(contentOf(written).contains("Settings\\Edit4=9090"));
        EXPECT_EQ(contentOf(c.writesPerUser ? system : user), untouched) << "the other file stays";
        EXPECT_EQ(StoreFile(), written) << "read from where it was written";
        EXPECT_EQ(restored().ListenPort, "9090");
        EXPECT_TRUE(contentOf(written).contains("[Other]") ||
                    QByteArray(c.writesPerUser ? c.perUser : c.machineWide) != "other values only")
            << "another program's values in the file are kept";
    }
}

TEST_F(StorePlaceTest, ASaveThatNoFileTakesNamesBothAndLeavesNothingBehind) {
    ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook", "not a folder"));
    ASSERT_TRUE(testfiles::write(store.userDir() + "/Quillbrook", "not a folder"));
    ServerSettings settings = restored();
    settings.ListenPort = "9090";
    try {
        SaveSettings(settings, MimeTable());
        ADD_FAILURE() << "the save was reported as done";
    } catch (const platform::StoreError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("Cannot save the settings to " + systemFile().toStdString()),
                  std::string::npos)
            << what;
        EXPECT_NE(what.find("Cannot save the settings to " + userFile().toStdString()),
                  std::string::npos)
            << what;
        EXPECT_NE(what.find("cannot create the folder"), std::string::npos) << what;
    }
    EXPECT_FALSE(SettingsStored()) << "a failed save is not taken for a stored one later";
    EXPECT_EQ(restored().ListenPort, "8080");
}

// Only the per-user root counts when the program is set up for it: the machine-wide file is
// then neither read nor written.
TEST_F(StorePlaceTest, APerUserRootNeverReachesTheMachineWideFile) {
    ASSERT_TRUE(layOut(systemFile(), "port 8082"));
    RegRoot = platform::StoreRoot::PerUser;
    EXPECT_EQ(StoreFile(), userFile());
    EXPECT_EQ(restored().ListenPort, "8080");
    EXPECT_EQ(WriteRegString(kSettingsKey, "Edit4", "9090"), userFile());
    EXPECT_FALSE(contentOf(systemFile()).contains("9090"));
    RegRoot = platform::StoreRoot::MachineWide;
}

TEST_F(StorePlaceTest, APerUserRootThatIsUnsetOrRelativeIsTheHomeFoldersConfig) {
    const ScopedEnv home("HOME", store.path() + "/me");
    const QString expected = store.path() + "/me/.config/Quillbrook/Projects.conf";
    for (const char* value : {"", "relative/config", "./cfg"}) {
        SCOPED_TRACE(value);
        const ScopedEnv configHome("XDG_CONFIG_HOME", value);
        EXPECT_EQ(platform::StoreFileFor(platform::StoreRoot::PerUser, RegBase + kSettingsKey),
                  expected);
    }
}

namespace {

// What a save by a user without the right to write the machine-wide file reports: the file it
// wrote, the port read back afterwards and where it was read from, or "error: " and the reason.
std::string saveAsNormalUser() {
    try {
        RegRoot = platform::StoreRoot::MachineWide;
        ServerSettings settings;
        MimeTable mime;
        ResetSettings(settings, mime, StoreDefaults());
        RestoreSettings(settings, mime);
        if (settings.ListenPort != "8082")
            return "error: the machine-wide values were not read first";
        settings.ListenPort = "9090";
        const QString written = SaveSettings(settings, mime);
        ServerSettings again;
        RestoreSettings(again, mime);
        return (written + "|" + again.ListenPort + "|" + StoreFile()).toStdString();
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
}

// What a save that neither file takes leaves behind for a normal user: "refused" and the port a
// restore reads afterwards, or "error: " and the reason.
std::string failedSaveAsNormalUser() {
    try {
        RegRoot = platform::StoreRoot::MachineWide;
        ServerSettings settings;
        MimeTable mime;
        RestoreSettings(settings, mime);
        settings.ListenPort = "9090";
        try {
            SaveSettings(settings, mime);
            return "error: the save was reported as done";
        } catch (const platform::StoreError&) {
        }
        ServerSettings again;
        RestoreSettings(again, mime);
        return ("refused|" + again.ListenPort).toStdString();
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
}

// Runs `body` in a child that has given up root for "nobody"; "skip: ..." when the privileges
// cannot be dropped here.
std::string runInChildAsNobody(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "skip: no pipe";
    const pid_t child = ::fork();
    if (child < 0)
        return "skip: no fork";
    if (child == 0) {
        ::close(fds[0]);
        std::string report;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0)
            report = "skip: the privileges cannot be dropped";
        else
            report = body();
        const ssize_t sent = ::write(fds[1], report.data(), report.size());
        ::_exit(sent == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(got));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return report;
}

} // namespace

// Every normal user: the machine-wide file belongs to root. The save must land in the user's own
// file and be read from there, the machine-wide file untouched.
TEST_F(StorePlaceTest, ANormalUsersSaveGoesToThePerUserFileAndIsReadFromThere) {
    ASSERT_TRUE(layOut(systemFile(), "port 8082"));
    const QByteArray machineWide = contentOf(systemFile());
    std::string report;
    if (::geteuid() == 0) {
        // The child must reach the store through the temporary folder, and own its home.
        ASSERT_EQ(::chmod(QFile::encodeName(store.path()).constData(), 0755), 0);
        ASSERT_TRUE(QDir().mkpath(store.userDir()));
        ASSERT_EQ(::chown(QFile::encodeName(store.userDir()).constData(), kNobody, kNobody), 0);
        report = runInChildAsNobody(saveAsNormalUser);
    } else {
        const QByteArray folder = QFile::encodeName(store.systemDir() + "/Quillbrook");
        ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(systemFile()).constData(), 0444), 0);
        report = saveAsNormalUser();
        ::chmod(folder.constData(), 0755);
    }
    if (report.starts_with("skip: ")) {
        GTEST_SKIP() << report;
    }
    EXPECT_EQ(report, (userFile() + "|9090|" + userFile()).toStdString());
    EXPECT_EQ(contentOf(systemFile()), machineWide) << "the machine-wide file is untouched";
    EXPECT_TRUE(contentOf(userFile()).contains("Settings\\Edit4=9090"));
    EXPECT_EQ(restored().ListenPort, "9090") << "the next start reads the per-user file";
}

// A normal user whose own folder is closed too: the save fails, and the values it could not
// write must not come back from a restore in the same run as if they had been stored.
TEST_F(StorePlaceTest, ANormalUsersFailedSaveLeavesNothingToRestore) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a child a store it cannot write";
    ASSERT_TRUE(layOut(systemFile(), "port 8082"));
    ASSERT_EQ(::chmod(QFile::encodeName(store.path()).constData(), 0755), 0);
    ASSERT_TRUE(QDir().mkpath(store.userDir())); // root's, closed to the child
    const std::string report = runInChildAsNobody(failedSaveAsNormalUser);
    if (report.starts_with("skip: ")) {
        GTEST_SKIP() << report;
    }
    EXPECT_EQ(report, "refused|8082");
    EXPECT_FALSE(QFile::exists(userFile()));
}
