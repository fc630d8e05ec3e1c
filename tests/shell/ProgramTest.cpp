// The program as a whole: started as the desktop would start it, ended by signals.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "support/LoopbackClient.h"
#include "support/LoopbackPorts.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Empty when nothing listens on the port.
std::string fetch(uint16_t port, const std::string& request) {
    const std::string reply = client::exchange(port, {request});
    return reply == "<connect failed>" ? std::string() : reply;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        port = testnet::freePort();
        ASSERT_TRUE(testfiles::write(dir.path() + "/site/index.htm", "<p>up</p>"));
    }
    void startProgram(const QByteArray& extraLines = {}) {
        ASSERT_TRUE(
            testfiles::write(dir.path() + "/store/Quillbrook/Projects.conf",
                             QString("[KORU]\nSettings\\CBoxes=0010\nSettings\\Edit1=%1/site/\n"
                                     "Settings\\Edit2=index.htm\nSettings\\Edit4=%2\n"
                                     "Settings\\Edit6=%3/\nSettings\\Edit12=%1/koru.log\n")
                                     .arg(dir.path())
                                     .arg(port)
                                     .arg(KORU_PLUGIN_DIR)
                                     .toUtf8() +
                                 extraLines));
        launch(program);
    }
    void launch(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_DIRS", dir.path() + "/store");
        // The test's own runtime folder: programs of tests running side by side, or the
        // user's own, must not take each other for the one already running.
        env.insert("XDG_RUNTIME_DIR", runtimeDir());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(KORU_PROGRAM, {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    QString runtimeDir() const {
        const QString folder = dir.path() + "/run";
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
        return folder;
    }
    QString socketPath() const { return runtimeDir() + "/koru.sock"; }
    bool waitForReply(std::string& reply) {
        return testwait::Until([&] {
            reply = fetch(port, "GET / HTTP/1.0\r\n\r\n");
            return !reply.empty();
        });
    }
    void endWith(int signal) {
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(15000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }

    QTemporaryDir dir;
    uint16_t port = 0;
    QProcess program;
};

} // namespace

TEST_F(Program, ServesAndEndsOnSigterm) {
    startProgram();
    std::string reply;
    ASSERT_TRUE(waitForReply(reply));
    EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\r\n"));
    EXPECT_TRUE(reply.ends_with("<p>up</p>"));
    EXPECT_NE(fetch(port, "GET /calc?a=2&b=3&op=add HTTP/1.0\r\n\r\n").find("5"),
              std::string::npos);
    endWith(SIGTERM);
    EXPECT_TRUE(fetch(port, "GET / HTTP/1.0\r\n\r\n").empty()) << "the port is closed";
}

// Lines waiting in the hand-off to the UI thread when the loop ended were thrown away: up to a
// hundred of the last requests were missing from the log after a SIGTERM.
TEST_F(Program, EveryAnsweredRequestIsInTheLogAfterSigterm) {
    startProgram();
    std::string reply;
    ASSERT_TRUE(waitForReply(reply));
    int answered = 0;
    for (int i = 0; i < 150; ++i)
        answered += fetch(port, "GET /index.htm?n=" + std::to_string(i) + " HTTP/1.0\r\n\r\n")
                            .starts_with("HTTP/1.0 ")
                        ? 1
                        : 0;
    endWith(SIGTERM);
    QFile log(dir.path() + "/koru.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray lines = log.readAll();
    EXPECT_EQ(lines.count("?n="), answered);
    EXPECT_TRUE(lines.endsWith("GET /index.htm?n=149 HTTP/1.0\r\n"));
}

TEST_F(Program, EndsOnSigintWhileAClientIsConnected) {
    startProgram();
    std::string reply;
    ASSERT_TRUE(waitForReply(reply));
    // A silent client keeps its worker waiting for the idle limit; the end must not wait for it.
    const int fd = client::connectTo(port);
    ASSERT_GE(fd, 0);
    QThread::msleep(100);
    endWith(SIGINT);
    ::close(fd);
}

TEST_F(Program, DamagedStoreValueStillStartsAndServes) {
    // Read after the port and the base folder: those are used, the rest are defaults.
    startProgram("Settings\\Edit10=<html><body>Welcome, friend\n");
    std::string reply;
    ASSERT_TRUE(waitForReply(reply)) << program.readAllStandardError().toStdString();
    EXPECT_TRUE(reply.ends_with("<p>up</p>"));
    endWith(SIGTERM);
}

TEST_F(Program, FailedStartStillRunsTheProgram) {
    // The port is taken by someone else: the server stays stopped but the program runs on.
    const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(busy, 1), 0);
    startProgram();
    EXPECT_FALSE(program.waitForFinished(1500)) << "the loop runs although the start failed";
    endWith(SIGTERM);
    ::close(busy);
}

TEST_F(Program, SecondStartShowsTheFirstsWindowAndEndsWithoutServing) {
    startProgram();
    std::string reply;
    ASSERT_TRUE(waitForReply(reply));
    ASSERT_TRUE(QFile::exists(socketPath()));
    QProcess second;
    QElapsedTimer took;
    took.start();
    launch(second);
    ASSERT_TRUE(second.waitForFinished(5000)) << "the second start ends on its own";
    EXPECT_LT(took.elapsed(), 3000);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().contains("already running: its window is shown"));
    EXPECT_TRUE(fetch(port, "GET / HTTP/1.0\r\n\r\n").ends_with("<p>up</p>"))
        << "the first still serves";
    endWith(SIGTERM);
    EXPECT_FALSE(QFile::exists(socketPath())) << "an orderly end takes its socket away";
}
