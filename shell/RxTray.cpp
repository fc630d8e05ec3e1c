#include "shell/RxTray.h"

#include "shell/RxTrayTimer.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QWidget>

#include <algorithm>

TRxTray::TRxTray(QObject* parent, std::unique_ptr<TrayService> service)
    : QObject(parent),
      service_(service ? std::move(service) : std::make_unique<SystemTrayService>()) {
    service_->OnMouse = [this](TrayMouse mouse) { Dispatch(mouse); };
    icons_.OnChange = [this](TIconList*) { RefreshTray(); };
}

TRxTray::~TRxTray() {
    destroying_ = true;
    icons_.OnChange = nullptr;
    SetAnimated(false);
    RemoveFromTray();
    service_->OnMouse = nullptr;
    // Each thread stops at once and is joined here; frames it queued die with this object.
    threads_.clear();
}

void TRxTray::SetActive(bool active) {
    if (active == active_)
        return;
    active_ = active;
    if (active_)
        AddToTray();
    else
        RemoveFromTray();
}

void TRxTray::SetHint(const QString& hint) {
    if (hint == hint_)
        return;
    hint_ = hint;
    RefreshTray();
}

void TRxTray::SetIcon(const QIcon& icon) {
    icon_ = icon;
    RefreshTray();
}

bool TRxTray::Animated() const {
    return animatedFlag_ && animationThread_;
}

void TRxTray::SetAnimated(bool animated) {
    const bool wanted = animated && icons_.Count() > 0;
    if (wanted == Animated())
        return;
    if (wanted) {
        animationThread_ = StartThread();
        animatedFlag_ = true;
    } else {
        animatedFlag_ = false;
        if (animationThread_)
            animationThread_->Stop();
    }
    iconIndex_ = 0;
    RefreshTray();
}

void TRxTray::SetInterval(uint16_t ms) {
    interval_ = ms;
    if (animationThread_)
        animationThread_->SetInterval(std::chrono::milliseconds(ms));
}

void TRxTray::AddToTray() {
    RemoveFromTray();
    if (const QIcon* icon = CurrentIcon(); icon && !icon->isNull())
        added_ = service_->Add(FillIconData());
    if (animationThread_ && animationThread_->Suspended())
        animationThread_->Resume();
}

void TRxTray::RemoveFromTray() {
    service_->Delete();
    added_ = false;
    if (animationThread_ && !animationThread_->Suspended())
        animationThread_->Suspend();
}

void TRxTray::RefreshTray() {
    if (destroying_)
        return;
    if (icons_.Count() == 0)
        SetAnimated(false);
    if (added_) {
        const QIcon* icon = CurrentIcon();
        if (!icon || icon->isNull())
            RemoveFromTray();
        else
            service_->Modify(FillIconData());
    } else if (active_) {
        AddToTray();
    }
}

QString TRxTray::ShortHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(u'|');
    QString tip = bar < 0 ? hint : hint.left(bar);
    if (tip.size() > kMaxTipLength) {
        tip.truncate(kMaxTipLength);
        if (tip.back().isHighSurrogate()) // never leave half a character behind
            tip.chop(1);
    }
    return tip;
}

const QIcon* TRxTray::CurrentIcon() const {
    if (icons_.Count() == 0 || !Animated())
        return &icon_;
    // A frame deleted while animating can leave the index past the end until the next frame.
    const int index = std::max(iconIndex_, 0);
    return icons_.Items(index < icons_.Count() ? index : 0);
}

TrayEntry TRxTray::FillIconData() const {
    const QIcon* icon = CurrentIcon();
    return {icon ? *icon : QIcon(), ShortHint(hint_)};
}

TTimerThread* TRxTray::StartThread() {
    auto owned = std::make_unique<TTimerThread>(std::chrono::milliseconds(interval_), !added_);
    TTimerThread* thread = owned.get();
    connect(
        thread, &TTimerThread::FrameDue, this, [this, thread] { NextFrame(thread); },
        Qt::QueuedConnection);
    connect(
        thread, &TTimerThread::Ended, this, [this, thread] { ThreadEnded(thread); },
        Qt::QueuedConnection);
    threads_.push_back(std::move(owned));
    thread->Start();
    return thread;
}

void TRxTray::NextFrame(TTimerThread* from) {
    // Frames still queued from a thread told to stop belong to an animation that is over.
    if (from != animationThread_)
        return;
    from->FrameDone();
    if (destroying_ || !animatedFlag_)
        return;
    ++iconIndex_;
    if (iconIndex_ >= icons_.Count())
        iconIndex_ = 0;
    RefreshTray();
}

void TRxTray::ThreadEnded(TTimerThread* thread) {
    // Animation may have been switched on again meanwhile: that newer thread stays named.
    if (animationThread_ == thread)
        animationThread_ = nullptr;
    std::erase_if(threads_, [thread](const auto& owned) { return owned.get() == thread; });
}

void TRxTray::Dispatch(TrayMouse mouse) {
    // An error must not unwind into the desktop's notification: it is shown and goes no further.
    try {
        switch (mouse) {
        case TrayMouse::LeftRelease:
            HandleClick(Qt::LeftButton);
            break;
        case TrayMouse::LeftDoubleClick:
            HandleDoubleClick();
            break;
        case TrayMouse::RightRelease:
            HandleClick(Qt::RightButton);
            break;
        }
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
}

void TRxTray::ShowError(const QString& text) const {
    if (OnError)
        OnError(text);
    else
        QMessageBox::critical(nullptr, QGuiApplication::applicationDisplayName(), text);
}

void TRxTray::HandleClick(Qt::MouseButton button) {
    const QPoint pos = service_->CursorPos();
    if (button == Qt::RightButton && ShowPopupAtCursor(pos.x(), pos.y()))
        return;
    if (OnClick)
        OnClick(this, button, Qt::NoModifier, pos.x(), pos.y());
}

void TRxTray::HandleDoubleClick() {
    if (ClickDefaultItem())
        return;
    if (OnDblClick)
        OnDblClick(this);
}

bool TRxTray::ShowPopupAtCursor(int x, int y) {
    QMenu* menu = popupMenu_;
    if (!active_ || !menu)
        return false;
    if (const QVariant autoPopup = menu->property(kAutoPopupProperty);
        autoPopup.isValid() && !autoPopup.toBool())
        return false;
    CancelFormModes();
    service_->Popup(*menu, QPoint(x, y));
    return true;
}

void TRxTray::CancelFormModes() const {
    // A window that holds the mouse would keep it while the menu is open.
    if (destroying_)
        return;
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
}

bool TRxTray::ClickDefaultItem() {
    QMenu* menu = popupMenu_;
    if (!active_ || !menu)
        return false;
    const QList<QAction*> items = menu->actions();
    QAction* const preferred = menu->defaultAction();
    const auto it = std::find(items.begin(), items.end(), preferred);
    if (!preferred || it == items.end())
        return false;
    (*it)->trigger();
    return true;
}

void TRxTray::ShowMessage(const QString& title, const QString& text) {
    service_->ShowMessage(title, text);
}
