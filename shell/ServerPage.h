#pragma once

#include "config/AccessChoices.h"

#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QGridLayout;
class QLabel;
class QTimer;
class QToolButton;
class TRecentRequests;
class TTransfersView;
namespace transfers {
class Board;
}
class TBaseFolderNote;
class TProblemNotes;

// The IPv4 addresses by which other machines reach this one: not loopback, on interfaces that are
// up and connected. The listener takes every local address, so each of these leads to it.
QList<QHostAddress> NetworkAddresses();

// The live part of the Server tab: where the server can be reached while it listens (links that
// open the browser or copy the address, and a QR code for a phone on the same network), a notice
// when the base folder is missing, notes on what keeps the server from working as set, the
// transfers in progress and the latest requests with their answers. UI thread only.
class TServerPage : public QWidget {
    Q_OBJECT
public:
    // The board's transfers are shown; it outlives the page.
    explicit TServerPage(const transfers::Board& board, QWidget* parent = nullptr);

    // What the window was told the listener does now: the addresses with the port it bound while
    // it listens, and a notice when the base folder (as the listener serves it) is missing or
    // unset; "Not listening" otherwise. Only the addresses by which `reach` lets visitors in are
    // shown, with a line that names it.
    void ShowListening(quint16 port, const QString& basePath,
                       ReachChoice reach = ReachChoice::Anywhere);
    void ShowStopped();
    TRecentRequests& Requests() { return *requests_; }
    TTransfersView& Transfers() { return *transfers_; }

    // The addresses shown, localhost first; empty while not listening.
    const QList<QUrl>& Urls() const { return urls_; }
    // The tray menu's "Open in browser": opens the localhost address while listening.
    QAction& OpenInBrowser() { return *openInBrowser_; }
    // What keeps the server from working as set: its port, its log file.
    TProblemNotes& Notes() { return *notes_; }

    // Where the addresses come from (tests give fixed ones) and what opens a link (the desktop's
    // browser, unless a test records it instead).
    std::function<QList<QHostAddress>()> AddressSource = NetworkAddresses;
    std::function<void(const QUrl&)> OpenUrl;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct AddressRow {
        QLabel* link;
        QToolButton* copy;
    };

    void showAddresses();
    void showQrCode(const QUrl& url);
    AddressRow& row(size_t index);

    QList<QUrl> urls_;
    std::vector<AddressRow> rows_;
    QLabel* state_ = nullptr;
    QLabel* reach_ = nullptr;
    QGridLayout* rowsLayout_ = nullptr;
    TBaseFolderNote* notice_ = nullptr;
    TProblemNotes* notes_ = nullptr;
    QLabel* qr_ = nullptr;
    QLabel* qrCaption_ = nullptr;
    TTransfersView* transfers_ = nullptr;
    TRecentRequests* requests_ = nullptr;
    QAction* openInBrowser_ = nullptr;
};

// Puts the page below the About text on the Server tab, both in a layout that uses the whole tab.
void PlaceServerPage(QWidget& tab, QLabel& about, TServerPage& page);
