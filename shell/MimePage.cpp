#include "shell/MimePage.h"

#include "config/MimeTable.h"
#include "shell/Dialogs.h"
#include "ui_KORUMain.h"

#include <QSignalBlocker>

#include <optional>

TMimePage::TMimePage(Ui::TF_KORUMain& ui, MimeTable& mime, QWidget& window)
    : ui_(ui), mime_(mime), window_(window) {
    mime_.OnChanged = [this] { Show(); };
    connect(ui_.LB, &QListWidget::currentRowChanged, this, &TMimePage::LBChange);
    connect(ui_.LB, &QListWidget::itemClicked, this, &TMimePage::LBClick);
    connect(ui_.Edit5, &QLineEdit::textEdited, this, &TMimePage::Edit5Change);
    connect(ui_.AddBtn, &QPushButton::clicked, this, &TMimePage::AddBtnClick);
    connect(ui_.DropBtn, &QPushButton::clicked, this, &TMimePage::DropBtnClick);
    connect(ui_.ChangeBtn, &QPushButton::clicked, this, &TMimePage::ChangeBtnClick);
    connect(ui_.TypesBtn, &QPushButton::clicked, this, &TMimePage::TypesBtnClick);
}

TMimePage::~TMimePage() {
    mime_.OnChanged = nullptr;
}

void TMimePage::Show() {
    showing_ = true;
    QListWidget& list = *ui_.LB;
    const QStringList& lines = mime_.Lines();
    if (list.count() != lines.size()) {
        list.clear();
        list.addItems(lines);
    } else {
        for (int i = 0; i < lines.size(); ++i)
            if (list.item(i)->text() != lines[i])
                list.item(i)->setText(lines[i]);
    }
    list.setCurrentRow(mime_.Selected());
    {
        const QSignalBlocker blocker(ui_.Edit5);
        ui_.Edit5->setText(mime_.Edit5());
    }
    ui_.DropBtn->setEnabled(mime_.DropEnabled());
    ui_.ChangeBtn->setEnabled(mime_.ChangeEnabled());
    showing_ = false;
}

void TMimePage::LBChange(int row) {
    if (!showing_ && row >= 0 && row != mime_.Selected())
        mime_.Select(row);
}

void TMimePage::LBClick() {
    mime_.Select(ui_.LB->currentRow());
}

void TMimePage::Edit5Change(const QString& text) {
    mime_.Edit5Change(text);
}

void TMimePage::AddBtnClick() {
    const std::optional<QString> extension =
        dialogs::InputText(&window_, QStringLiteral("Enter value"), QStringLiteral("New extention"),
                           QStringLiteral("ext"));
    if (extension)
        dialogs::Guarded(&window_, [&] { mime_.AddBtnClick(*extension); });
}

void TMimePage::DropBtnClick() {
    dialogs::Guarded(&window_, [this] { mime_.DropBtnClick(); });
}

void TMimePage::ChangeBtnClick() {
    dialogs::Guarded(&window_, [this] { mime_.ChangeBtnClick(); });
}

void TMimePage::TypesBtnClick() {
    mime_.AddTodaysTypes();
}
