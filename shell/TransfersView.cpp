#include "shell/TransfersView.h"

#include "server/Transfers.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <set>
#include <span>

namespace {

QString sizeText(int64_t bytes) {
    return QString::fromStdString(transfers::SizeText(bytes));
}

// The bar counts in thousandths: its range is an int, a transfer's size may not fit one.
int permille(const transfers::Progress& p) {
    return p.total <= 0 ? 0 : static_cast<int>(p.done * 1000 / p.total);
}

} // namespace

TTransfersView::TTransfersView(const transfers::Board& board, QWidget* parent)
    : QWidget(parent), board_(board) {
    setObjectName(QStringLiteral("Transfers"));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(2);
    more_ = new QLabel(this);
    more_->setObjectName(QStringLiteral("MoreTransfers"));
    more_->hide();
    layout_->addWidget(more_);
    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &TTransfersView::Refresh);
    setVisible(false);
}

QString TTransfersView::Caption(const transfers::Progress& p) {
    const QString arrow = p.direction == transfers::Direction::Download ? QStringLiteral("\u2193")
                                                                        : QStringLiteral("\u2191");
    return QStringLiteral("%1 %2  %3")
        .arg(arrow, QString::fromStdString(p.peer), QString::fromStdString(p.name));
}

QString TTransfersView::Rate(const transfers::Progress& p) {
    const int64_t perSecond = p.elapsedMs > 0 ? p.done * 1000 / p.elapsedMs : 0;
    return QStringLiteral("%1 of %2, %3/s")
        .arg(sizeText(p.done), sizeText(p.total), sizeText(perSecond));
}

void TTransfersView::TransferBegan() {
    if (!timer_->isActive())
        timer_->start();
}

void TTransfersView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

TTransfersView::Row TTransfersView::makeRow(const transfers::Progress& p) {
    auto* box = new QWidget(this);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    Row row{box, new QLabel(Caption(p), box), new QProgressBar(box), new QLabel(box)};
    row.caption->setTextFormat(Qt::PlainText);
    row.bar->setRange(0, 1000);
    row.bar->setTextVisible(false);
    row.bar->setMaximumHeight(row.caption->sizeHint().height());
    line->addWidget(row.caption, 2);
    line->addWidget(row.bar, 3);
    line->addWidget(row.rate, 2);
    layout_->insertWidget(layout_->indexOf(more_), box);
    return row;
}

void TTransfersView::Refresh() {
    const std::vector<transfers::Progress> now = board_.Snapshot();
    if (now.empty())
        timer_->stop();
    // The view itself shows only while it has rows.
    std::set<uint64_t> current;
    const size_t shown = std::min(now.size(), kMostRows);
    for (const transfers::Progress& p : std::span(now).first(shown)) {
        current.insert(p.id);
        auto found = rows_.find(p.id);
        if (found == rows_.end())
            found = rows_.emplace(p.id, makeRow(p)).first;
        found->second.bar->setValue(permille(p));
        found->second.rate->setText(Rate(p));
    }
    for (auto it = rows_.begin(); it != rows_.end();) {
        if (current.contains(it->first)) {
            ++it;
            continue;
        }
        it->second.box->hide();
        it->second.box->deleteLater();
        it = rows_.erase(it);
    }
    const size_t hidden = now.size() - shown;
    more_->setText(
        hidden == 0
            ? QString()
            : QStringLiteral("and %1 more transfer%2").arg(hidden).arg(hidden == 1 ? "" : "s"));
    more_->setVisible(hidden > 0);
    setVisible(!rows_.empty());
}

QString TTransfersView::MoreText() const {
    return more_->text();
}
