#pragma once

// The main window as the program creates it at start-up, on a settings store of its own, with a
// tray that records what it is shown and dialogs that record their messages.

#include "net/WSocket.h"
#include "platform/Thread.h"
#include "platform/UiCalls.h"
#include "server/ServerControl.h"
#include "shell/Dialogs.h"
#include "shell/KORUMain.h"
#include "shell/TrayServiceFake.h"
#include "ui_KORUMain.h"

#include "KeyPress.h"

#include "support/LoopbackPorts.h"
#include "support/TempStore.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/socket.h>

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetUiCalls();
        dialogs::SetRecording(true);
        dialogs::TakeMessages();
        open();
    }
    // A window as the program creates it at start-up, from what the store holds now.
    void open() {
        window.reset();
        auto fake = std::make_unique<RecordingTrayService>();
        tray = fake.get();
        window = std::make_unique<TF_KORUMain>(std::move(fake));
        ui = &window->UI();
    }
    void TearDown() override {
        if (!window) // an open() that failed
            return;
        window->StopServer();
        testwait::Until([] { return platform::TThread::RunningCount() == 0; });
        window.reset();
        dialogs::SetRecording(false);
    }

    // A panel of the status bar: 0 clients, 1 requests, 2 the state.
    QLabel* panel(int i) { return window->findChild<QLabel*>(QStringLiteral("SB1Panel%1").arg(i)); }

    // Starts the server from the window, on a port of the kernel's choice rather than the
    // setting's, which something else here may hold; the port it got.
    uint16_t startOnFreePort() {
        ui->Edit4->setText("0");
        ui->ListenBtn->click();
        return static_cast<uint16_t>(std::stoi(window->Server().Socket().GetLocalPort()));
    }

    // Points the window's test client at `port` on this machine and connects.
    void connectTestClient(uint16_t port) {
        ui->Edit7->setText("127.0.0.1");
        ui->Edit8->setText(QString::number(port));
        ui->Button7->click();
    }
    // Connects the test client to `listener`; `peer` is the accepted end, once the client can
    // send.
    void connectTestClientTo(const testnet::Listener& listener, int& peer) {
        connectTestClient(listener.port);
        peer = ::accept(listener.fd, nullptr, nullptr);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(testwait::Until([&] { return ui->Button10->isEnabled(); }));
    }

    TempStore store;
    RecordingTrayService* tray = nullptr;
    std::unique_ptr<TF_KORUMain> window;
    Ui::TF_KORUMain* ui = nullptr;
};
