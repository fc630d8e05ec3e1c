#include "shell/ClientPage.h"

#include "net/WSocket.h"
#include "shell/Dialogs.h"
#include "shell/DockLayout.h"
#include "shell/Mover.h"
#include "ui_KORUMain.h"

#include <stdexcept>
#include <vector>

namespace {

const QString kMarker = QStringLiteral("\r\n===== From Server ====\r\n");

} // namespace

TClientPage::TClientPage(Ui::TF_KORUMain& ui, QWidget& window)
    : ui_(ui), window_(window), CSock_(std::make_unique<TWSocket>()) {
    layOut();
    CSock_->SetProto("tcp");
    CSock_->OnChangeState = [this](TCustomWSocket* s, TSocketState o, TSocketState n) {
        CSockChangeState(s, o, n);
    };
    CSock_->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { CSockDataAvailable(s, e); };
    connect(ui_.Button7, &QPushButton::clicked, this, &TClientPage::Button7Click);
    connect(ui_.Button10, &QPushButton::clicked, this, &TClientPage::Button10Click);
    connect(ui_.Button9, &QPushButton::clicked, this, &TClientPage::Button9Click);
}

TClientPage::~TClientPage() {
    CSock_->OnChangeState = nullptr;
    CSock_->OnDataAvailable = nullptr;
}

void TClientPage::layOut() {
    QWidget* page = ui_.TabSheet4;
    auto* dock = new TDockLayout(page);
    Mover1_ = new TMover(page);
    Mover1_->setObjectName(QStringLiteral("Mover1"));
    Mover1_->resize(3, page->height());
    Mover1_->SetBeveled(false);
    dock->addWidget(ui_.Panel2, TAlign::Left);
    dock->addWidget(ui_.Memo1, TAlign::Left);
    dock->addWidget(Mover1_, TAlign::Left);
    dock->addWidget(ui_.Memo2, TAlign::Client);
    Mover1_->SetAlign(TAlign::Left);
}

void TClientPage::Button7Click() {
    dialogs::Guarded(&window_, [this] {
        CSock_->SetAddr(ui_.Edit7->text().toStdString());
        CSock_->SetPort(ui_.Edit8->text().toStdString());
        bool ok = false;
        const int timeout = ui_.Edit9->text().trimmed().toInt(&ok);
        if (!ok)
            throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value")
                                         .arg(ui_.Edit9->text())
                                         .toStdString());
        CSock_->SetFlushTimeout(timeout);
        CSock_->Connect();
    });
}

void TClientPage::Button10Click() {
    QString text = ui_.Memo1->toPlainText();
    if (text.isEmpty())
        return;
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    // The client speaks bytes: one character is one byte, both ways.
    const QByteArray bytes = text.toLatin1();
    dialogs::Guarded(&window_,
                     [&] { CSock_->Send(bytes.constData(), static_cast<int32_t>(bytes.size())); });
}

void TClientPage::Button9Click() {
    dialogs::Guarded(&window_, [this] { CSock_->Abort(); });
}

void TClientPage::CSockChangeState(TCustomWSocket*, int, int newState) {
    const bool closed = newState == wsInvalidState || newState == wsClosed;
    ui_.Button7->setEnabled(closed);
    ui_.Button10->setEnabled(newState == wsConnected);
    ui_.Button9->setEnabled(!closed);
}

void TClientPage::CSockDataAvailable(TCustomWSocket*, uint16_t) {
    std::vector<char> buffer(65536);
    const int32_t n = CSock_->Receive(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n <= 0)
        return;
    QPlainTextEdit& memo = *ui_.Memo2;
    memo.moveCursor(QTextCursor::End);
    memo.insertPlainText(kMarker + QString::fromLatin1(buffer.data(), n));
}
