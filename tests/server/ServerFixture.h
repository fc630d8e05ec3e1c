#pragma once

#include "config/HomeTool.h"
#include "config/KORUPlugin.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "net/WSocket.h"
#include "platform/Thread.h"
#include "server/KORUMClient.h"
#include "server/ServerControl.h"
#include "support/LoopbackClient.h"

#include <QCoreApplication>
#include <atomic>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <thread>
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
    }
    bool Destroying() const override { return false; }

    QString caption_;
    QString hint_;
    bool startEnabled = true;
    bool stopEnabled = false;
    QString status[3] = {"Clients: 0", "Requests: 0", "State"};
    std::vector<QString> clientsHistory;
};

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetUiCalls();
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
        waitUntil([] { return platform::TThread::RunningCount() == 0; });
        pump(50);
        server.reset();
    }

    uint16_t start() {
        server->StartServer();
        return static_cast<uint16_t>(std::stoi(server->Socket().GetLocalPort()));
    }

    void writeFile(const QString& relative, const QByteArray& content) {
        const QString path = docroot.path() + "/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QByteArray readFile(const QString& relative) const {
        QFile file(docroot.path() + "/" + relative);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    static void pump(int ms) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    static bool waitUntil(const std::function<bool()>& done, int ms = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }

    // Runs on the UI thread what workers handed it so far: their calls run in order, so once a
    // call queued now from another thread has run, so have all queued before it.
    static bool runHandedOverCalls() {
        std::atomic<bool> ran = false;
        std::thread([&ran] { platform::PostToUiThread([&ran] { ran = true; }); }).join();
        return waitUntil([&] { return ran.load(); });
    }

    // Runs `work` on a client thread while this thread serves the UI loop.
    template <typename F> auto onClient(F work) {
        auto future = std::async(std::launch::async, std::move(work));
        waitUntil(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            60000);
        // What the workers queued for the UI thread before they replied runs now.
        QCoreApplication::processEvents();
        return future.get();
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

inline std::string page(int code, const std::string& reason, const std::string& message) {
    const std::string body = "<HTML><h2>" + message + "</h2></HTML>";
    return "HTTP/1.0 " + std::to_string(code) + " " + reason +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent:\r\n\r\n" + body;
}
