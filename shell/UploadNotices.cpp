#include "shell/UploadNotices.h"

#include "server/Transfers.h"

#include <QTimer>

#include <algorithm>

TUploadNotices::TUploadNotices(std::function<void(const QString&, const QString&)> show,
                               QObject* parent, int quietMs, int longestMs)
    : QObject(parent), show_(std::move(show)), timer_(new QTimer(this)), quietMs_(quietMs),
      longestMs_(longestMs) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &TUploadNotices::Flush);
}

QString TUploadNotices::Text(int files, const QString& firstName, int64_t bytes,
                             const std::set<QString>& peers) {
    const QString what = files == 1 ? firstName : QStringLiteral("%1 files").arg(files);
    const QString from =
        peers.size() == 1 ? *peers.begin() : QStringLiteral("%1 visitors").arg(peers.size());
    return QStringLiteral("Received %1 (%2) from %3")
        .arg(what, QString::fromStdString(transfers::SizeText(bytes)), from);
}

void TUploadNotices::Stored(const QString& name, int64_t bytes, const QString& peer) {
    if (files_++ == 0) {
        firstName_ = name;
        batchAge_.start();
    }
    bytes_ += bytes;
    peers_.insert(peer);
    // Each upload puts the notice off, until the batch has waited long enough.
    const qint64 left = longestMs_ - batchAge_.elapsed();
    if (left <= 0)
        Flush();
    else
        timer_->start(static_cast<int>(std::min<qint64>(quietMs_, left)));
}

bool TUploadNotices::Waiting() const {
    return files_ > 0;
}

void TUploadNotices::Flush() {
    timer_->stop();
    if (files_ == 0)
        return;
    const QString text = Text(files_, firstName_, bytes_, peers_);
    files_ = 0;
    firstName_.clear();
    bytes_ = 0;
    peers_.clear();
    show_(QStringLiteral("KORU"), text);
}
