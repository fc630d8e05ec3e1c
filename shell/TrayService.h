#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// What the desktop's notification area shows for our one entry.
struct TrayEntry {
    QIcon icon;
    QString tip;
};

// The mouse actions on the entry that the tray icon reacts to.
enum class TrayMouse { LeftRelease, LeftDoubleClick, RightRelease };

// The notification area as the tray icon needs it: one entry that can be added, modified and
// deleted, mouse notifications, the cursor position and a modal popup menu. Kept this small so
// that tests can record every call instead of talking to a desktop. UI thread only.
class TrayService {
public:
    virtual ~TrayService() = default;

    // True when the entry is now shown.
    virtual bool Add(const TrayEntry& entry) = 0;
    virtual void Modify(const TrayEntry& entry) = 0;
    // Deleting an entry that is not shown is harmless.
    virtual void Delete() = 0;

    // Whether the desktop has a notification area at all; without one the program must keep its
    // window reachable some other way.
    virtual bool Available() const = 0;
    // A balloon message next to the entry, for news the user should see while the window is hidden.
    virtual void ShowMessage(const QString& title, const QString& text) = 0;

    virtual QPoint CursorPos() const = 0;
    // Shows `menu` at `pos` and returns when it has closed, with the program in the foreground so
    // that a click elsewhere closes the menu.
    virtual void Popup(QMenu& menu, QPoint pos) = 0;

    // Set by the owner; called for every mouse notification on the entry.
    std::function<void(TrayMouse)> OnMouse;

protected:
    void Notify(TrayMouse mouse) const {
        if (OnMouse)
            OnMouse(mouse);
    }
};

// The real notification area through QSystemTrayIcon.
class SystemTrayService : public TrayService {
public:
    SystemTrayService();
    ~SystemTrayService() override;

    bool Add(const TrayEntry& entry) override;
    void Modify(const TrayEntry& entry) override;
    void Delete() override;
    bool Available() const override;
    void ShowMessage(const QString& title, const QString& text) override;
    QPoint CursorPos() const override;
    void Popup(QMenu& menu, QPoint pos) override;

private:
    std::unique_ptr<QSystemTrayIcon> icon_;
};
