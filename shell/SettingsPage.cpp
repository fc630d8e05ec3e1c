#include "shell/SettingsPage.h"

#include "config/HomeTool.h"
#include "platform/FilePath.h"
#include "shell/Dialogs.h"
#include "shell/PortField.h"
#include "ui_KORUMain.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

namespace {

void setTextQuietly(QLineEdit& edit, const QString& text) {
    const QSignalBlocker blocker(edit);
    edit.setText(text);
}

} // namespace

TSettingsPage::TSettingsPage(Ui::TF_KORUMain& ui, ServerSettings& settings, QWidget& window)
    : ui_(ui), settings_(settings), window_(window), access_(*ui.PageControl2, settings) {
    connectFields();
    connectButtons();
    portMark_ = new TPortFieldMark(*ui_.Edit4);
}

void TSettingsPage::connectFields() {
    connect(ui_.Edit1, &QLineEdit::textChanged, this, &TSettingsPage::Edit1Change);
    connect(ui_.Edit2, &QLineEdit::textChanged, this, &TSettingsPage::Edit2Change);
    connect(ui_.Edit3, &QLineEdit::textChanged, this, &TSettingsPage::Edit3Change);
    connect(ui_.Edit4, &QLineEdit::textChanged, this, &TSettingsPage::Edit4Change);
    connect(ui_.Edit6, &QLineEdit::textChanged, this, &TSettingsPage::Edit6Change);
    connect(ui_.Edit10, &QLineEdit::textChanged, this, &TSettingsPage::Edit10Change);
    connect(ui_.Edit11, &QLineEdit::textChanged, this, &TSettingsPage::Edit11Change);
    connect(ui_.Edit12, &QLineEdit::textChanged, this, &TSettingsPage::Edit12Change);
    connect(ui_.Edit13, &QLineEdit::textChanged, this, &TSettingsPage::Edit13Change);
    connect(ui_.Edit14, &QLineEdit::textChanged, this, &TSettingsPage::Edit14Change);
    connect(ui_.Edit15, &QLineEdit::textChanged, this, &TSettingsPage::Edit15Change);
    connect(ui_.CheckBox1, &QCheckBox::toggled, this, &TSettingsPage::CheckBox1Click);
    connect(ui_.CheckBox2, &QCheckBox::toggled, this, &TSettingsPage::CheckBox2Click);
    connect(ui_.CheckBox4, &QCheckBox::toggled, this, &TSettingsPage::CheckBox4Click);
    connect(ui_.CheckBox5, &QCheckBox::toggled, this, &TSettingsPage::CheckBox5Click);
    connect(ui_.FolderPagesBox, &QCheckBox::toggled, this, &TSettingsPage::FolderPagesBoxClick);
}

void TSettingsPage::connectButtons() {
    connect(ui_.BaseFolderBtn, &QPushButton::clicked, this, &TSettingsPage::BaseFolderBtnClick);
    connect(ui_.TempPathBtn, &QPushButton::clicked, this, &TSettingsPage::TempPathBtnClick);
    connect(ui_.PluginsPathBtn, &QPushButton::clicked, this, &TSettingsPage::PluginsPathBtnClick);
    connect(ui_.UploadPathBtn, &QPushButton::clicked, this, &TSettingsPage::UploadPathBtnClick);
    connect(ui_.LogFileBtn, &QPushButton::clicked, this, &TSettingsPage::LogFileBtnClick);
    connect(ui_.BaseFileBtn, &QPushButton::clicked, this, &TSettingsPage::BaseFileBtnClick);
}

void TSettingsPage::Show() {
    const ServerSettings& s = settings_;
    setTextQuietly(*ui_.Edit1, s.BaseFolder);
    setTextQuietly(*ui_.Edit2, s.BaseFileName);
    setTextQuietly(*ui_.Edit3, s.TempPath);
    setTextQuietly(*ui_.Edit4, s.ListenPort);
    setTextQuietly(*ui_.Edit6, s.PluginsPath);
    setTextQuietly(*ui_.Edit10, s.PageHeader.get());
    setTextQuietly(*ui_.Edit11, s.PageFooter.get());
    setTextQuietly(*ui_.Edit12, s.LogFile);
    setTextQuietly(*ui_.Edit13, s.IdleSeconds);
    setTextQuietly(*ui_.Edit14, s.UploadPath);
    setTextQuietly(*ui_.Edit15, s.MasterCommand);
    const std::array<std::pair<QCheckBox*, bool>, 5> boxes{{{ui_.CheckBox1, s.ShowPeers},
                                                            {ui_.CheckBox2, s.AutoClose},
                                                            {ui_.CheckBox5, s.LogEnabled},
                                                            {ui_.CheckBox4, s.HideOnStartup},
                                                            {ui_.FolderPagesBox, s.FolderPages}}};
    for (const auto& [box, on] : boxes) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
    }
    showPluginsPlace();
    portMark_->Update();
    access_.Show();
}

void TSettingsPage::Edit1Change(const QString& text) {
    settings_.BaseFolder = text;
    showPluginsPlace();
    access_.ShowUploadPlace();
}

void TSettingsPage::Edit14Change(const QString& text) {
    settings_.UploadPath = text;
    access_.ShowUploadPlace();
}

void TSettingsPage::Edit6Change(const QString& text) {
    settings_.PluginsPath = text;
    showPluginsPlace();
}

void TSettingsPage::BaseFolderBtnClick() {
    pickFolder(*ui_.Edit1, QStringLiteral("Select base folder"));
}

void TSettingsPage::TempPathBtnClick() {
    pickFolder(*ui_.Edit3, QStringLiteral("Select temporary folder"));
}

void TSettingsPage::PluginsPathBtnClick() {
    pickFolder(*ui_.Edit6, QStringLiteral("Select folder for plugins"));
}

void TSettingsPage::UploadPathBtnClick() {
    pickFolder(*ui_.Edit14, QStringLiteral("Select folder for uploads"));
}

void TSettingsPage::LogFileBtnClick() {
    if (pickFolder(*ui_.Edit12, QStringLiteral("Select .log file folder")))
        ui_.Edit12->setText(ui_.Edit12->text() + QStringLiteral("KORU.LOG"));
}

void TSettingsPage::BaseFileBtnClick() {
    const QString base = platform::ToFsPath(AddBackslash(settings_.BaseFolder));
    const QString chosen = dialogs::OpenFile(
        &window_, base, QStringLiteral("HTML files (*.htm *.html);;All files (*)"));
    if (chosen.isEmpty())
        return;
    if (!chosen.startsWith(base, Qt::CaseSensitive)) {
        dialogs::ShowMessage(&window_, QStringLiteral("Invalid path"));
        return;
    }
    ui_.Edit2->setText(chosen.mid(base.size()).left(256));
}

bool TSettingsPage::pickFolder(QLineEdit& field, const QString& title) {
    const QString folder = dialogs::BrowseForFolder(&window_, QString(), title);
    if (folder.isEmpty())
        return false;
    field.setText(AddBackslash(folder));
    return true;
}

// A warning under the folders while the plug-ins folder lies inside the base folder.
void TSettingsPage::showPluginsPlace() {
    if (pluginsInsideBase_ == nullptr) {
        pluginsInsideBase_ = new QLabel(
            QStringLiteral("The plug-ins folder lies inside the base folder: visitors can "
                           "download the module files, and uploads into it are refused."),
            ui_.GroupBox2);
        pluginsInsideBase_->setObjectName(QStringLiteral("PluginsInsideBase"));
        pluginsInsideBase_->setWordWrap(true);
        if (auto* grid = qobject_cast<QGridLayout*>(ui_.GroupBox2->layout()))
            grid->addWidget(pluginsInsideBase_, grid->rowCount(), 1, 1, 2);
    }
    pluginsInsideBase_->setVisible(PluginsInsideBase(settings_));
}

void TSettingsPage::ShowSaved(const QString& file) {
    if (file.isEmpty()) {
        if (saveReport_ != nullptr)
            saveReport_->hide();
        return;
    }
    if (saveReport_ == nullptr) {
        QWidget& side = *ui_.Button4->parentWidget();
        saveReport_ = new QLabel(&side);
        saveReport_->setObjectName(QStringLiteral("SaveReport"));
        saveReport_->setWordWrap(true);
        saveReport_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        saveReport_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // Under the buttons, in their column; a window laid out otherwise gets it below them.
        if (auto* column = qobject_cast<QVBoxLayout*>(side.layout()))
            column->insertWidget(column->indexOf(ui_.Button4) + 1, saveReport_);
        else
            saveReport_->setGeometry(ui_.Button4->x(), ui_.Button4->geometry().bottom() + 9,
                                     ui_.Button4->width(), 120);
    }
    const QString text = QStringLiteral("Settings saved to %1").arg(file);
    saveReport_->setText(text);
    saveReport_->setToolTip(text);
    saveReport_->show();
}
