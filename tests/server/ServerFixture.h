#pragma once

#include "config/HomeTool.h"
#include "config/KORUPlugin.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "net/WSocket.h"
#include "server/KORUMClient.h"
#include "server/ServerControl.h"
#include "support/ClientThread.h"
#include "support/LoopbackClient.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <initializer_list>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// Records what the server shows, as the main window would.
class RecordingView : public IServerView {
public:
    void SetCaption(const QString& caption) override { caption_ = caption; }
    QString Caption() const override { return caption_; }
    void SetTrayHint(const QString& hint) override { hint_ = hint; }
    QString TrayHint() const override { return hint_; }
    void SetStartEnabled(bool enabled) override { startEnabled = enabled; }
    void SetStopEnabled(bool enabled) override { stopEnabled = enabled; }
    void SetStatusText(int panel, const QString& text) override {
        status[panel] = text;
        if (panel == 0)
            clientsHistory.push_back(text);
        if (panel == 2)
            stateHistory.push_back(text);
    }
    void ShowListening(uint16_t port) override { listeningPort = port; }
    void ShowStopped() override { listeningPort = 0; }
    bool Destroying() const override { return false; }

    uint16_t listeningPort = 0;
    QString caption_;
    QString hint_;
    bool startEnabled = true;
    bool stopEnabled = false;
    QString status[3] = {"Clients: 0", "Requests: 0", "State"};
    std::vector<QString> clientsHistory;
    std::vector<QString> stateHistory;
};

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(docroot.isValid());
        settings.BaseFolder = docroot.path();
        settings.BaseFileName = "index.htm";
        settings.ListenPort = "0";
        settings.IdleSeconds = "5";
        settings.PluginsPath = docroot.path() + "/no-plugins";
        settings.LogEnabled = true;
        settings.LogFile = docroot.path() + "/koru.log";
        settings.PageHeader = "<H>";
        settings.PageFooter = "</H>";
        mime.LoadMIME(DefaultMimeText());
        server = std::make_unique<TServerControl>(context);
    }

    void TearDown() override {
        if (server)
            server->StopServer();
        testwait::Until([] { return platform::TThread::RunningCount() == 0; });
        testwait::For(50);
        server.reset();
    }

    uint16_t start() {
        server->StartServer();
        return static_cast<uint16_t>(std::stoi(server->Socket().GetLocalPort()));
    }

    void writeFile(const QString& relative, const QByteArray& content) {
        ASSERT_TRUE(testfiles::write(docroot.path() + "/" + relative, content))
            << relative.toStdString();
    }

    // Copies the named modules from `from` into a plug-in folder beside the site's files and
    // points the server at it.
    void installModules(const QString& from, std::initializer_list<const char*> modules) {
        const QString folder = docroot.path() + "/plugins";
        QDir().mkpath(folder);
        for (const char* module : modules) {
            const QString file = QString(module) + ".so";
            ASSERT_TRUE(QFile::copy(from + "/" + file, folder + "/" + file)) << module;
        }
        settings.PluginsPath = folder;
    }

    QByteArray readFile(const QString& relative) const {
        QFile file(docroot.path() + "/" + relative);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Runs `work` on a client thread while this thread serves the UI loop. What the workers
    // handed the UI thread before they replied has run when it returns.
    template <typename F> auto onClient(F work) {
        auto result = testnet::whileServing(std::move(work));
        context.handOff.RunPending();
        return result;
    }

    std::string get(const std::string& request) {
        const uint16_t port = portNumber;
        return onClient([port, request] { return client::exchange(port, {request}); });
    }

    QTemporaryDir docroot;
    ServerSettings settings;
    MimeTable mime;
    RecordingView view;
    PluginPanel plugins;
    ServerContext context{settings, mime, view, plugins};
    std::unique_ptr<TServerControl> server;
    uint16_t portNumber = 0;
};

// The size of each chunk the workers send, for the tests of how a reply is cut up.
class ChunkLog {
public:
    explicit ChunkLog(ServerContext& context) {
        context.afterChunkSent = [this](size_t n) {
            const std::lock_guard lock(mutex_);
            sizes_.push_back(n);
        };
    }

    std::vector<size_t> sizes() const {
        const std::lock_guard lock(mutex_);
        return sizes_;
    }

private:
    mutable std::mutex mutex_; // workers append while the test thread reads
    std::vector<size_t> sizes_;
};

inline std::string page(int code, const std::string& reason, const std::string& message) {
    const std::string body = "<HTML><h2>" + message + "</h2></HTML>";
    return "HTTP/1.0 " + std::to_string(code) + " " + reason +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent:\r\n\r\n" + body;
}
