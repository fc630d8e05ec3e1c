#include "shell/TrayService.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

SystemTrayService::SystemTrayService() : icon_(std::make_unique<QSystemTrayIcon>()) {
    // No context menu is handed to Qt: the tray icon decides itself whether a right click opens
    // its menu or reaches its click handler.
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         switch (reason) {
                         case QSystemTrayIcon::Trigger:
                             Notify(TrayMouse::LeftRelease);
                             break;
                         case QSystemTrayIcon::DoubleClick:
                             Notify(TrayMouse::LeftDoubleClick);
                             break;
                         case QSystemTrayIcon::Context:
                             Notify(TrayMouse::RightRelease);
                             break;
                         default:
                             break;
                         }
                     });
}

SystemTrayService::~SystemTrayService() = default;

bool SystemTrayService::Add(const TrayEntry& entry) {
    Modify(entry);
    icon_->show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayService::Modify(const TrayEntry& entry) {
    icon_->setIcon(entry.icon);
    icon_->setToolTip(entry.tip);
}

void SystemTrayService::Delete() {
    icon_->hide();
}

bool SystemTrayService::Available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayService::ShowMessage(const QString& title, const QString& text) {
    icon_->showMessage(title, text);
}

QPoint SystemTrayService::CursorPos() const {
    return QCursor::pos();
}

void SystemTrayService::Popup(QMenu& menu, QPoint pos) {
    menu.activateWindow();
    menu.exec(pos);
}
