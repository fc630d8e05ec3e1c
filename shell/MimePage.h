#pragma once

#include <QObject>
#include <QString>

namespace Ui {
class TF_KORUMain;
}
class MimeTable;
class QWidget;

// The Settings tab's MIME page: the list, the value field and the Add, Drop and Change buttons
// of the stored layout and "Add today's types", shown from the MIME table whenever it changes and
// handing it every edit. UI thread only; the window's controls and table outlive it.
class TMimePage : public QObject {
public:
    TMimePage(Ui::TF_KORUMain& ui, MimeTable& mime, QWidget& window);
    ~TMimePage() override;

    // Shows the table as it is now; showing it is not taken for a choice of the user.
    void Show();

    // Handlers of the controls, named after control and event.
    void LBChange(int row);
    void LBClick();
    void Edit5Change(const QString& text);
    void AddBtnClick();
    void DropBtnClick();
    void ChangeBtnClick();
    void TypesBtnClick();

private:
    Ui::TF_KORUMain& ui_;
    MimeTable& mime_;
    QWidget& window_;
    bool showing_ = false;
};
