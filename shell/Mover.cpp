#include "shell/Mover.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

namespace {

constexpr int kDefaultWidth = 3;

// A one-pixel frame just inside the rectangle from (left, top) to (right, bottom), the right and
// bottom edges outside it.
void frameRect(QPainter& painter, int left, int top, int right, int bottom, const QColor& color) {
    if (right <= left || bottom <= top)
        return;
    painter.fillRect(left, top, right - left, 1, color);
    painter.fillRect(left, bottom - 1, right - left, 1, color);
    painter.fillRect(left, top, 1, bottom - top, color);
    painter.fillRect(right - 1, top, 1, bottom - top, color);
}

} // namespace

TMover::TMover(QWidget* parent) : QWidget(parent), color_(palette().color(QPalette::Base)) {
    resize(kDefaultWidth, height());
    SetAlign(TAlign::Left);
}

TMover::~TMover() {
    if (hookedControl_)
        hookedControl_->removeEventFilter(this);
    delete line_; // owned by the parent, but of no use without us
}

void TMover::SetAlign(TAlign align) {
    SetDockAlign(*this, align);
    setCursor(horizontal() ? Qt::SplitHCursor : Qt::SplitVCursor);
}

void TMover::SetBeveled(bool beveled) {
    beveled_ = beveled;
    update();
}

QColor TMover::Color() const {
    const QWidget* parent = parentWidget();
    return parentColor_ && parent ? parent->palette().color(parent->backgroundRole()) : color_;
}

void TMover::SetColor(const QColor& color) {
    color_ = color;
    parentColor_ = false;
    update();
}

void TMover::SetParentColor(bool parentColor) {
    parentColor_ = parentColor;
    update();
}

void TMover::SetMinSize(int minSize) {
    minSize_ = std::max(1, minSize);
}

bool TMover::horizontal() const {
    return Align() == TAlign::Left || Align() == TAlign::Right;
}

QList<QWidget*> TMover::siblings() const {
    QList<QWidget*> result;
    if (const QWidget* parent = parentWidget())
        for (QObject* child : parent->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow() && w != line_)
                result.append(w);
    return result;
}

QWidget* TMover::FindSizedControl() const {
    // The point just beyond the side the mover is docked against: the control it sizes is there.
    const auto beyond = [this]() -> std::optional<QPoint> {
        switch (Align()) {
        case TAlign::Top:
            return pos() + QPoint(0, -1);
        case TAlign::Bottom:
            return pos() + QPoint(0, height());
        case TAlign::Left:
            return pos() + QPoint(-1, 0);
        case TAlign::Right:
            return pos() + QPoint(width(), 0);
        default:
            return std::nullopt;
        }
    };
    const std::optional<QPoint> probe = beyond();
    if (!probe)
        return nullptr;
    const QList<QWidget*> controls = siblings();
    const auto it = std::find_if(controls.begin(), controls.end(),
                                 [&](const QWidget* w) { return w->geometry().contains(*probe); });
    return it == controls.end() ? nullptr : *it;
}

int TMover::computeMaxSize() const {
    // Wide enough for MinSize up to INT_MAX: the room left may be far below zero.
    const QRect client = parentWidget()->contentsRect();
    int64_t room = (horizontal() ? client.width() : client.height()) - int64_t{minSize_};
    for (const QWidget* w : siblings()) {
        const TAlign align = DockAlign(*w);
        if (horizontal() && (align == TAlign::Left || align == TAlign::Right))
            room -= w->width();
        else if (!horizontal() && (align == TAlign::Top || align == TAlign::Bottom))
            room -= w->height();
    }
    room += horizontal() ? sizedControl_->width() : sizedControl_->height();
    return static_cast<int>(std::clamp<int64_t>(room, INT_MIN, INT_MAX));
}

void TMover::ClampSize(int x, int y) {
    splitOffset_ = horizontal() ? x - downPos_.x() : y - downPos_.y();
    int wanted = 0;
    switch (Align()) {
    case TAlign::Left:
        wanted = sizedControl_->width() + splitOffset_;
        break;
    case TAlign::Right:
        wanted = sizedControl_->width() - splitOffset_;
        break;
    case TAlign::Top:
        wanted = sizedControl_->height() + splitOffset_;
        break;
    default:
        wanted = sizedControl_->height() - splitOffset_;
        break;
    }
    // The lower bound wins when the two cross.
    newSize_ = wanted < minSize_ ? minSize_ : std::min(wanted, maxSize_);
    if (Align() == TAlign::Right || Align() == TAlign::Bottom)
        splitOffset_ += wanted - newSize_;
    else
        splitOffset_ += newSize_ - wanted;
}

QRect TMover::LineRect() const {
    const QPoint offset = horizontal() ? QPoint(splitOffset_, 0) : QPoint(0, splitOffset_);
    return QRect(pos() + offset, size());
}

void TMover::InvertTrackLine() {
    lineVisible_ = !lineVisible_;
    if (!line_) {
        line_ = new QWidget(parentWidget());
        line_->setAttribute(Qt::WA_TransparentForMouseEvents);
        line_->setAutoFillBackground(true);
        QPalette inverted = line_->palette();
        inverted.setColor(QPalette::Window, inverted.color(QPalette::WindowText));
        line_->setPalette(inverted);
    }
    if (lineVisible_) {
        line_->setGeometry(LineRect());
        line_->raise();
        line_->show();
    } else {
        line_->hide();
    }
}

void TMover::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || dragging_ || !parentWidget())
        return;
    const QPoint at = event->position().toPoint();
    sizedControl_ = FindSizedControl();
    downPos_ = at;
    if (!sizedControl_)
        return;
    dragging_ = true;
    maxSize_ = computeMaxSize();
    ClampSize(at.x(), at.y());
    if (QWidget* focused = window()->focusWidget()) {
        hookedControl_ = focused;
        focused->installEventFilter(this);
    }
    InvertTrackLine();
}

void TMover::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!dragging_ || !sizedControl_)
        return;
    const QPoint at = event->position().toPoint();
    InvertTrackLine();
    ClampSize(at.x(), at.y());
    InvertTrackLine();
}

void TMover::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (!dragging_)
        return;
    InvertTrackLine();
    applySize();
    FinishSizing();
}

void TMover::applySize() {
    QWidget* sized = sizedControl_;
    if (!sized)
        return; // it went away during the drag
    const QRect r = sized->geometry();
    switch (Align()) {
    case TAlign::Top:
        sized->resize(r.width(), newSize_);
        break;
    case TAlign::Bottom:
        sized->setGeometry(r.x(), r.y() + r.height() - newSize_, r.width(), newSize_);
        break;
    case TAlign::Left:
        sized->resize(newSize_, r.height());
        break;
    default:
        sized->setGeometry(r.x() + r.width() - newSize_, r.y(), newSize_, r.height());
        break;
    }
    if (auto* dock = qobject_cast<TDockLayout*>(parentWidget()->layout()))
        dock->Realign();
}

void TMover::FinishSizing() {
    if (dragging_) {
        if (lineVisible_)
            InvertTrackLine();
        dragging_ = false;
        sizedControl_ = nullptr;
        if (hookedControl_)
            hookedControl_->removeEventFilter(this);
        hookedControl_ = nullptr;
    }
    if (OnMoved)
        OnMoved(this);
}

bool TMover::eventFilter(QObject* watched, QEvent* event) {
    const bool esc =
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    if (!dragging_ || watched != hookedControl_ || !esc)
        return QWidget::eventFilter(watched, event);
    // This Esc belongs to the drag: it neither triggers a shortcut nor reaches the window.
    event->accept();
    if (event->type() == QEvent::KeyPress)
        FinishSizing();
    return true;
}

void TMover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Color());
    if (!beveled_)
        return;
    // The client rectangle, narrowed across the bar and stretched past its ends so that only the
    // long edges of the frames show.
    int left = 0, top = 0, right = width(), bottom = height();
    if (horizontal()) {
        left += 1, right -= 1, top -= 2, bottom += 2;
    } else {
        left -= 2, right += 2, top += 1, bottom -= 1;
    }
    frameRect(painter, left + 1, top + 1, right + 1, bottom + 1, palette().color(QPalette::Light));
    frameRect(painter, left - 1, top - 1, right - 1, bottom - 1, palette().color(QPalette::Dark));
}
