#include "shell/ServerPage.h"

#include "platform/FilePath.h"
#include "server/PeerRule.h"
#include "shell/BaseFolderNote.h"
#include "shell/ProblemNotes.h"
#include "shell/QrCode.h"
#include "shell/RecentRequests.h"
#include "shell/TransfersView.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkInterface>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// About as large as a phone needs to read it from a screen at arm's length.
constexpr int kQrPixels = 132;

QUrl siteUrl(const QString& host, quint16 port) {
    return QUrl(QStringLiteral("http://%1:%2/").arg(host).arg(port));
}

QLabel* heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

QList<QHostAddress> NetworkAddresses() {
    QList<QHostAddress> found;
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = nic.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                found.append(ip);
        }
    }
    return found;
}

TServerPage::TServerPage(const transfers::Board& board, QWidget* parent) : QWidget(parent) {
    OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    state_ = heading(QString(), this);
    state_->setObjectName(QStringLiteral("ServerState"));
    reach_ = new QLabel(this);
    reach_->setObjectName(QStringLiteral("ReachInForce"));
    rowsLayout_ = new QGridLayout;
    rowsLayout_->setSpacing(2);
    rowsLayout_->setColumnStretch(2, 1);
    notice_ = new TBaseFolderNote(this);
    notes_ = new TProblemNotes(this);
    qr_ = new QLabel(this);
    qr_->setObjectName(QStringLiteral("QrCode"));
    qrCaption_ = new QLabel(QStringLiteral("Scan to open on a phone"), this);
    qrCaption_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* where = new QVBoxLayout;
    where->addWidget(state_);
    where->addLayout(rowsLayout_);
    where->addWidget(reach_);
    where->addWidget(notice_);
    where->addWidget(notes_);
    where->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(where, 1);
    auto* phone = new QVBoxLayout;
    phone->addWidget(qr_, 0, Qt::AlignHCenter);
    phone->addWidget(qrCaption_);
    phone->addStretch(1);
    top->addLayout(phone);

    transfers_ = new TTransfersView(board, this);
    requests_ = new TRecentRequests(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(transfers_);
    layout->addWidget(heading(QStringLiteral("Recent requests"), this));
    layout->addWidget(requests_, 1);

    openInBrowser_ = new QAction(QStringLiteral("Open in browser"), this);
    connect(openInBrowser_, &QAction::triggered, this, [this] {
        if (!urls_.isEmpty())
            OpenUrl(urls_.front());
    });
    ShowStopped();
}

void TServerPage::ShowListening(quint16 port, const QString& basePath, ReachChoice reach) {
    if (reach == ReachChoice::ThisComputer) {
        // The listener takes the loopback address only.
        urls_ = {siteUrl(QStringLiteral("127.0.0.1"), port)};
    } else {
        urls_ = {siteUrl(QStringLiteral("localhost"), port)};
        for (const QHostAddress& address : AddressSource())
            if (reach == ReachChoice::Anywhere ||
                peerrule::IsHomePeer(address.toString().toStdString()))
                urls_.append(siteUrl(address.toString(), port));
    }
    reach_->setText(QStringLiteral("Visitors may connect from: %1")
                        .arg(ReachCaptions()[static_cast<int>(reach)].toLower()));
    reach_->show();
    state_->setText(QStringLiteral("Open the site at:"));
    notice_->Check(basePath);
    showAddresses();
    // A phone reaches the machine by a network address; localhost only leads back to the phone.
    showQrCode(urls_.size() > 1 ? urls_[1] : urls_[0]);
    // No phone can connect to a server for this computer only.
    if (reach == ReachChoice::ThisComputer) {
        qr_->hide();
        qrCaption_->hide();
    }
    openInBrowser_->setEnabled(true);
}

void TServerPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    notice_->Recheck(); // a folder made or removed meanwhile
}

void TServerPage::ShowStopped() {
    urls_.clear();
    state_->setText(QStringLiteral("Not listening"));
    reach_->hide();
    notice_->Clear();
    showAddresses();
    qr_->clear();
    qr_->hide();
    qrCaption_->hide();
    openInBrowser_->setEnabled(false);
}

void TServerPage::showAddresses() {
    for (size_t i = 0; i < static_cast<size_t>(urls_.size()); ++i) {
        const QString text = urls_[static_cast<qsizetype>(i)].toString();
        AddressRow& shown = row(i);
        shown.link->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(text.toHtmlEscaped()));
        shown.link->show();
        shown.copy->show();
    }
    for (size_t i = static_cast<size_t>(urls_.size()); i < rows_.size(); ++i) {
        rows_[i].link->hide();
        rows_[i].copy->hide();
    }
}

// Rows are made when first needed and kept: a machine's address count rarely changes.
TServerPage::AddressRow& TServerPage::row(size_t index) {
    while (rows_.size() <= index) {
        const size_t number = rows_.size();
        auto* link = new QLabel(this);
        link->setObjectName(QStringLiteral("AddressLink%1").arg(number));
        link->setTextFormat(Qt::RichText);
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        connect(link, &QLabel::linkActivated, this,
                [this](const QString& href) { OpenUrl(QUrl(href)); });
        auto* copy = new QToolButton(this);
        copy->setObjectName(QStringLiteral("CopyAddress%1").arg(number));
        copy->setText(QStringLiteral("Copy"));
        copy->setToolTip(QStringLiteral("Copy the address"));
        connect(copy, &QToolButton::clicked, this, [this, number] {
            if (number < static_cast<size_t>(urls_.size()))
                QGuiApplication::clipboard()->setText(
                    urls_[static_cast<qsizetype>(number)].toString());
        });
        const int line = static_cast<int>(number);
        rowsLayout_->addWidget(link, line, 0);
        rowsLayout_->addWidget(copy, line, 1);
        rows_.push_back({link, copy});
    }
    return rows_[index];
}

void TServerPage::showQrCode(const QUrl& url) {
    const std::optional<TQrCode> code = TQrCode::Encode(url.toString().toUtf8());
    qr_->setVisible(code.has_value());
    qrCaption_->setVisible(code.has_value());
    if (!code)
        return;
    const int scale = std::max(2, kQrPixels / (code->Size() + 2 * TQrCode::kQuietZone));
    qr_->setPixmap(QPixmap::fromImage(code->ToImage(scale)));
    qr_->setToolTip(
        QStringLiteral("Scan with a phone on the same network to open %1").arg(url.toString()));
}

void PlaceServerPage(QWidget& tab, QLabel& about, TServerPage& page) {
    if (QLayout* existing = tab.layout()) {
        existing->addWidget(&page);
        return;
    }
    auto* layout = new QVBoxLayout(&tab);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(&about);
    layout->addWidget(&page, 1);
}
