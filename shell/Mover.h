#pragma once

#include "shell/DockLayout.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <functional>

// A thin bar docked beside a sibling control that resizes that sibling when dragged. While the
// left button is held a track line follows the mouse; the size is applied on release, and Esc in
// the window's focused control cancels. The parent should lay its children out with TDockLayout.
class TMover : public QWidget {
    Q_OBJECT
    // So that a Designer file can set them on a promoted widget.
    Q_PROPERTY(bool Beveled READ Beveled WRITE SetBeveled)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(int MinSize READ MinSize WRITE SetMinSize)
public:
    explicit TMover(QWidget* parent = nullptr);
    ~TMover() override;

    TAlign Align() const { return DockAlign(*this); }
    // Also picks the cursor: a horizontal split for left and right, a vertical one otherwise.
    void SetAlign(TAlign align);
    bool Beveled() const { return beveled_; }
    void SetBeveled(bool beveled);
    // The fill colour; while ParentColor is true the parent's background is used instead.
    QColor Color() const;
    // Setting a colour of its own clears ParentColor.
    void SetColor(const QColor& color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool parentColor);
    // The smallest size a drag may give the sized control; below 1 counts as 1.
    int MinSize() const { return minSize_; }
    void SetMinSize(int minSize);

    // Fired at the end of every drag, applied or cancelled.
    std::function<void(TMover* sender)> OnMoved;

    // The sibling a drag would resize: the first child of the parent whose rectangle holds the
    // pixel just outside this bar on its docked side; nullptr when there is none.
    QWidget* FindSizedControl() const;

    // The drag under way, for the owner and for tests.
    bool Dragging() const { return dragging_; }
    int NewSize() const { return newSize_; }
    int MaxSize() const { return maxSize_; }
    bool LineVisible() const { return lineVisible_; }
    // Where the track line is drawn over the parent, in the parent's coordinates.
    QRect LineRect() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool horizontal() const;
    QList<QWidget*> siblings() const;
    int computeMaxSize() const;
    void ClampSize(int x, int y);
    void InvertTrackLine();
    void applySize();
    void FinishSizing();

    QPoint downPos_;
    int splitOffset_ = 0;
    int maxSize_ = 0;
    bool dragging_ = false;
    QPointer<QWidget> sizedControl_;
    int newSize_ = 0;
    // The window's focused control, whose Esc ends the drag; watched only while dragging.
    QPointer<QWidget> hookedControl_;
    bool beveled_ = true;
    bool lineVisible_ = false;
    // The track line: an overlay over the parent, made at the first drag. The parent owns it.
    QPointer<QWidget> line_;
    QColor color_;
    bool parentColor_ = true;
    int minSize_ = 30;
};
