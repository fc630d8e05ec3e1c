#pragma once

#include "shell/RxTrayIcons.h"
#include "shell/TrayService.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TTimerThread;

// Our one entry in the desktop's notification area: its picture (or an animation over Icons), its
// tooltip, and the mouse actions on it as events and a popup menu. The entry is shown while Active
// is true and there is a picture. Owned by a window and used on the UI thread only; the animation
// thread only paces frames, which run here.
class TRxTray : public QObject {
    Q_OBJECT
public:
    using MouseEvent = std::function<void(TRxTray* sender, Qt::MouseButton button,
                                          Qt::KeyboardModifiers shift, int x, int y)>;
    using NotifyEvent = std::function<void(TRxTray* sender)>;

    // A menu whose dynamic property of this name is false does not open on a right click.
    static constexpr const char* kAutoPopupProperty = "autoPopup";
    static constexpr int kMaxTipLength = 63;

    // Without a service the desktop's real notification area is used.
    explicit TRxTray(QObject* parent = nullptr, std::unique_ptr<TrayService> service = nullptr);
    // Removes the entry and waits for the animation thread to end.
    ~TRxTray() override;

    bool Active() const { return active_; }
    void SetActive(bool active);
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& hint);
    const QIcon& Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);
    // Changes made through Icons() refresh the entry like SetIcons does.
    TIconList& Icons() { return icons_; }
    const TIconList& Icons() const { return icons_; }
    void SetIcons(const TIconList& icons) { icons_.Assign(icons); }
    // True only while animation is on and its thread exists; turning it on needs at least one
    // frame.
    bool Animated() const;
    void SetAnimated(bool animated);
    uint16_t Interval() const { return interval_; }
    void SetInterval(uint16_t ms);
    // Forgotten by itself when the menu is destroyed.
    QMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }

    MouseEvent OnClick;
    NotifyEvent OnDblClick;
    // Shows the text of an error that a handler let out; by default in a message box.
    std::function<void(const QString& text)> OnError;

    // Puts the entry into the notification area when there is a picture.
    void AddToTray();
    void RemoveFromTray();
    // Brings the entry up to date with the picture and the hint.
    void RefreshTray();
    bool Added() const { return added_; }
    int IconIndex() const { return iconIndex_; }
    // The tooltip that `hint` gives: the text before the first "|", at most kMaxTipLength long.
    static QString ShortHint(const QString& hint);

    // Opens the popup menu at (x, y) and returns when it has closed; false, showing nothing, when
    // inactive, without a menu, or when the menu does not pop up automatically.
    bool ShowPopupAtCursor(int x, int y);
    // Triggers the popup menu's default item; false when inactive or there is none.
    bool ClickDefaultItem();
    void ShowMessage(const QString& title, const QString& text);

    TrayService& Service() { return *service_; }

protected:
    virtual void HandleClick(Qt::MouseButton button);
    virtual void HandleDoubleClick();

private:
    const QIcon* CurrentIcon() const;
    TrayEntry FillIconData() const;
    void NextFrame(TTimerThread* from);
    void ThreadEnded(TTimerThread* thread);
    TTimerThread* StartThread();
    void CancelFormModes() const;
    void Dispatch(TrayMouse mouse);
    void ShowError(const QString& text) const;

    std::unique_ptr<TrayService> service_;
    bool active_ = true;
    bool added_ = false;
    bool animatedFlag_ = false;
    int iconIndex_ = -1;
    uint16_t interval_ = 150;
    QIcon icon_;
    TIconList icons_;
    // Names the running animation thread; threads_ owns it and every thread told to stop that
    // has not ended yet.
    TTimerThread* animationThread_ = nullptr;
    std::vector<std::unique_ptr<TTimerThread>> threads_;
    bool destroying_ = false;
    QString hint_;
    QPointer<QMenu> popupMenu_;
};
