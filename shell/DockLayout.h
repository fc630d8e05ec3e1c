#pragma once

#include <QLayout>
#include <QList>

class QWidget;

// The edge of its parent a control is docked to.
enum class TAlign { None, Top, Bottom, Left, Right, Client };

// The edge `widget` is docked to; None for a control placed by hand.
TAlign DockAlign(const QWidget& widget);
// Docks `widget` to `align` and lays out its parent again when the parent has a TDockLayout.
void SetDockAlign(QWidget& widget, TAlign align);

// Docks the children of a widget to its edges: all top ones first, then bottom, left, right and
// last the client ones, each group in the order the children were added. A docked child keeps
// its own width (left, right) or height (top, bottom) and is stretched the other way; client
// children take what is left; undocked ones are not moved. Children that resize themselves are
// laid out again on the next Realign() or resize of the parent. No margins, no spacing. The
// minimum size leaves every docked child its own size and the client ones their minimum, and
// keeps the undocked ones added with TAlign::None inside.
class TDockLayout : public QLayout {
    Q_OBJECT
public:
    explicit TDockLayout(QWidget* parent = nullptr);
    ~TDockLayout() override;

    void addWidget(QWidget* widget, TAlign align);
    // Lays the children out again now.
    void Realign();

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return static_cast<int>(items_.size()); }
    void setGeometry(const QRect& rect) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;

private:
    QList<QLayoutItem*> items_;
};
