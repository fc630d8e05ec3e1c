#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <set>

class QTimer;

// Tells the owner about stored uploads: the first one starts a short wait, and everything stored
// meanwhile is said in one message, so that a batch of photos from a phone is one notice, not
// one per file. UI thread only.
class TUploadNotices : public QObject {
public:
    static constexpr int kGatherMs = 3000;

    // `show` gets the title and the text of each notice.
    explicit TUploadNotices(std::function<void(const QString&, const QString&)> show,
                            QObject* parent = nullptr);

    // One upload was stored under `name` (the file's name, without its folder).
    void Stored(const QString& name, int64_t bytes, const QString& peer);
    // Says what was gathered now, if anything.
    void Flush();
    bool Waiting() const;

    // "Received holiday photo.jpg (2.1 MB) from 192.168.1.7", "Received 3 files (12 MB) from
    // 192.168.1.7", "... from 2 visitors".
    static QString Text(int files, const QString& firstName, int64_t bytes,
                        const std::set<QString>& peers);

private:
    std::function<void(const QString&, const QString&)> show_;
    QTimer* timer_ = nullptr;
    int files_ = 0;
    QString firstName_;
    int64_t bytes_ = 0;
    std::set<QString> peers_;
};
