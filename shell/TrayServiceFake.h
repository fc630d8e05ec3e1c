#pragma once

#include "shell/TrayService.h"

#include <QMenu>

#include <vector>

// A notification area for tests: remembers every call in order, shows nothing, and lets the test
// play the desktop's part (mouse notifications, the cursor, the user's menu choice).
class RecordingTrayService : public TrayService {
public:
    enum class Kind { Add, Modify, Delete };
    struct Call {
        Kind kind;
        TrayEntry entry; // empty for Delete
    };
    struct PopupCall {
        QMenu* menu;
        QPoint pos;
    };

    bool Add(const TrayEntry& entry) override {
        calls.push_back({Kind::Add, entry});
        shown = addSucceeds;
        return addSucceeds;
    }
    void Modify(const TrayEntry& entry) override { calls.push_back({Kind::Modify, entry}); }
    void Delete() override {
        calls.push_back({Kind::Delete, {}});
        shown = false;
    }
    bool Available() const override { return available; }
    void ShowMessage(const QString& title, const QString& text) override {
        messages.push_back(title + "\n" + text);
    }
    QPoint CursorPos() const override { return cursor; }
    void Popup(QMenu& menu, QPoint pos) override {
        popups.push_back({&menu, pos});
        if (choose)
            choose(menu);
    }

    // Plays a mouse action on the entry, as the desktop would report it.
    void Press(TrayMouse mouse) const { Notify(mouse); }

    // The entry as the desktop shows it now: the last add or modify since the last delete.
    bool Shown() const { return shown; }
    const TrayEntry* Current() const {
        if (!shown)
            return nullptr;
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->kind != Kind::Delete)
                return &it->entry;
        return nullptr;
    }

    std::vector<Call> calls;
    std::vector<PopupCall> popups;
    std::vector<QString> messages;
    bool addSucceeds = true;
    bool available = true;
    QPoint cursor{0, 0};
    // Runs while a popup is open: the user's choice (for example triggering an action).
    std::function<void(QMenu&)> choose;

private:
    bool shown = false;
};
