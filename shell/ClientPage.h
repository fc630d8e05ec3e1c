#pragma once

#include <QObject>

#include <cstdint>
#include <memory>

namespace Ui {
class TF_KORUMain;
}
class QWidget;
class TCustomWSocket;
class TMover;
class TWSocket;

// The Client tab: a raw-TCP test client on the stored layout's address, port and timeout fields,
// whose buttons follow its socket's state; the first memo's text is sent, what comes back is
// added to the second. UI thread only; the window's controls outlive it.
class TClientPage : public QObject {
public:
    TClientPage(Ui::TF_KORUMain& ui, QWidget& window);
    ~TClientPage() override;

    TWSocket& CSock() { return *CSock_; }
    TMover& Mover1() { return *Mover1_; }

    // Handlers of the controls and of the socket, named after control and event.
    void Button7Click();
    void Button10Click();
    void Button9Click();
    void CSockChangeState(TCustomWSocket* sender, int oldState, int newState);
    void CSockDataAvailable(TCustomWSocket* sender, uint16_t error);

private:
    void layOut();

    Ui::TF_KORUMain& ui_;
    QWidget& window_;
    std::unique_ptr<TWSocket> CSock_;
    TMover* Mover1_ = nullptr; // owned by its tab
};
