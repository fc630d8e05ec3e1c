#pragma once

#include <QWidget>

#include <cstdint>
#include <map>

class QLabel;
class QProgressBar;
class QTimer;
class QVBoxLayout;
namespace transfers {
class Board;
struct Progress;
} // namespace transfers

// The large downloads and uploads in progress, each with its peer, a progress bar and its rate;
// a row goes when its transfer ends. The board is looked at a few times a second, and only while
// it holds anything: no worker wakes the UI thread for a chunk.
// UI thread only; the board outlives the view.
class TTransfersView : public QWidget {
public:
    static constexpr int kRefreshMs = 250;
    // Rows shown at the most: a flood of downloads must not make the UI thread lay out a row
    // each; the rest are counted in one line.
    static constexpr size_t kMostRows = 8;

    TTransfersView(const transfers::Board& board, QWidget* parent = nullptr);

    // A transfer went on the board: the view looks until the board is empty again.
    void TransferBegan();
    // Looks at the board now.
    void Refresh();
    int Rows() const { return static_cast<int>(rows_.size()); }
    // "and 12 more transfers", empty when every transfer has its row.
    QString MoreText() const;

    // "↓ 192.168.1.7  /films/holiday.mp4", "12 MB of 1.2 GB, 8.4 MB/s".
    static QString Caption(const transfers::Progress& progress);
    static QString Rate(const transfers::Progress& progress);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        QWidget* box;
        QLabel* caption;
        QProgressBar* bar;
        QLabel* rate;
    };
    Row makeRow(const transfers::Progress& progress);

    const transfers::Board& board_;
    QVBoxLayout* layout_ = nullptr;
    QLabel* more_ = nullptr;
    std::map<uint64_t, Row> rows_;
    QTimer* timer_ = nullptr;
};
