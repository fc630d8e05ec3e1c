#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <set>

class QTimer;

// Tells the owner about stored uploads: a batch is said in one message once no upload has come
// for a moment, so that a phone's photos arriving one after another are one notice, not one per
// file; a stream that never pauses is still said every so often. UI thread only.
class TUploadNotices : public QObject {
public:
    static constexpr int kQuietMs = 3000;
    static constexpr int kLongestMs = 30000;

    // `show` gets the title and the text of each notice. A batch is said after `quietMs` without
    // an upload, or `longestMs` after its first one.
    explicit TUploadNotices(std::function<void(const QString&, const QString&)> show,
                            QObject* parent = nullptr, int quietMs = kQuietMs,
                            int longestMs = kLongestMs);

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
    int quietMs_;
    int longestMs_;
    QElapsedTimer batchAge_;
    int files_ = 0;
    QString firstName_;
    int64_t bytes_ = 0;
    std::set<QString> peers_;
};
