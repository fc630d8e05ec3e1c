#include "shell/DockLayout.h"

#include <QWidget>

#include <algorithm>

namespace {

constexpr const char* kAlignProperty = "koruDockAlign";

// The order in which the groups take their share of the parent's area.
constexpr TAlign kDockOrder[] = {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right,
                                 TAlign::Client};

QWidget* dockedWidget(QLayoutItem* item) {
    QWidget* w = item->widget();
    return w && !w->isHidden() ? w : nullptr;
}

// Visits each shown child of the group, in the layout's order.
template <typename Visit>
void forEachInGroup(const QList<QLayoutItem*>& items, TAlign group, const Visit& visit) {
    for (QLayoutItem* item : items)
        if (QWidget* w = dockedWidget(item); w && DockAlign(*w) == group)
            visit(*item, *w);
}

// Visits the shown children group by group, in the order the groups take their share.
template <typename Visit>
void forEachInDockOrder(const QList<QLayoutItem*>& items, const Visit& visit) {
    for (const TAlign group : kDockOrder)
        forEachInGroup(items, group, [&](QLayoutItem& item, QWidget& w) { visit(group, item, w); });
}

} // namespace

TAlign DockAlign(const QWidget& widget) {
    const QVariant value = widget.property(kAlignProperty);
    return value.isValid() ? static_cast<TAlign>(value.toInt()) : TAlign::None;
}

void SetDockAlign(QWidget& widget, TAlign align) {
    widget.setProperty(kAlignProperty, static_cast<int>(align));
    if (QWidget* parent = widget.parentWidget())
        if (auto* dock = qobject_cast<TDockLayout*>(parent->layout()))
            dock->Realign();
}

TDockLayout::TDockLayout(QWidget* parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    setSizeConstraint(QLayout::SetNoConstraint);
}

TDockLayout::~TDockLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void TDockLayout::addWidget(QWidget* widget, TAlign align) {
    widget->setProperty(kAlignProperty, static_cast<int>(align));
    QLayout::addWidget(widget);
}

void TDockLayout::Realign() {
    invalidate();
    activate();
}

void TDockLayout::addItem(QLayoutItem* item) {
    items_.append(item);
}

QLayoutItem* TDockLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}

QLayoutItem* TDockLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

void TDockLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    QRect free = rect;
    forEachInDockOrder(items_, [&](TAlign group, QLayoutItem&, QWidget& w) {
        const int width = std::max(0, free.width());
        const int height = std::max(0, free.height());
        switch (group) {
        case TAlign::Top:
            w.setGeometry(free.left(), free.top(), width, w.height());
            free.setTop(free.top() + w.height());
            break;
        case TAlign::Bottom:
            w.setGeometry(free.left(), free.bottom() + 1 - w.height(), width, w.height());
            free.setBottom(free.bottom() - w.height());
            break;
        case TAlign::Left:
            w.setGeometry(free.left(), free.top(), w.width(), height);
            free.setLeft(free.left() + w.width());
            break;
        case TAlign::Right:
            w.setGeometry(free.right() + 1 - w.width(), free.top(), w.width(), height);
            free.setRight(free.right() - w.width());
            break;
        default:
            w.setGeometry(free.left(), free.top(), width, height);
            break;
        }
    });
}

QSize TDockLayout::minimumSize() const {
    // Each group takes its share in dock order: top and bottom children span the whole width,
    // left and right ones the height the top and bottom ones left, client ones what remains.
    QSize need(0, 0);
    int edgeWidths = 0;
    int edgeHeights = 0;
    forEachInGroup(items_, TAlign::None, [&](QLayoutItem&, const QWidget& w) {
        need = need.expandedTo({w.geometry().right() + 1, w.geometry().bottom() + 1});
    });
    forEachInDockOrder(items_, [&](TAlign group, QLayoutItem& item, const QWidget& w) {
        const QSize least = item.minimumSize();
        if (group == TAlign::Top || group == TAlign::Bottom) {
            need = need.expandedTo({edgeWidths + least.width(), 0});
            edgeHeights += w.height();
        } else if (group == TAlign::Left || group == TAlign::Right) {
            need = need.expandedTo({0, edgeHeights + least.height()});
            edgeWidths += w.width();
        } else {
            need = need.expandedTo({edgeWidths + least.width(), edgeHeights + least.height()});
        }
    });
    return need.expandedTo({edgeWidths, edgeHeights});
}

QSize TDockLayout::sizeHint() const {
    // Docked children at their own size around the largest wish of a client child.
    QSize client(0, 0);
    int edgeWidths = 0;
    int edgeHeights = 0;
    for (QLayoutItem* item : items_) {
        const QWidget* w = dockedWidget(item);
        if (!w)
            continue;
        switch (DockAlign(*w)) {
        case TAlign::Left:
        case TAlign::Right:
            edgeWidths += w->width();
            break;
        case TAlign::Top:
        case TAlign::Bottom:
            edgeHeights += w->height();
            break;
        case TAlign::Client:
            client = client.expandedTo(w->sizeHint());
            break;
        default:
            break;
        }
    }
    return QSize(edgeWidths + client.width(), edgeHeights + client.height())
        .expandedTo(minimumSize());
}
