#pragma once

#include "config/ServerSettings.h"
#include "shell/AccessBoxes.h"

#include <QObject>
#include <QString>

namespace Ui {
class TF_KORUMain;
}
class QLabel;
class QLineEdit;
class QWidget;
class TPortFieldMark;

// The Settings tab's Main page: every field and box of the stored layout writes its setting as it
// changes, the folder and file pickers fill the fields, and a warning stands under the folders
// while the plug-ins folder lies inside the base folder. UI thread only; the window's controls
// and settings outlive it.
class TSettingsPage : public QObject {
public:
    TSettingsPage(Ui::TF_KORUMain& ui, ServerSettings& settings, QWidget& window);

    // Shows the settings as they are now; showing them is not taken for an edit.
    void Show();
    // Says under "Save to registry" which file the last save wrote: a user whose save went to the
    // per-user file instead of the machine-wide one must be able to find it. An empty name takes
    // the report away, so that a failed save never stands under an earlier one's report.
    void ShowSaved(const QString& file);

    // Handlers of the controls, named after control and event: each field and box writes its
    // setting as it changes; the folders also decide the warning.
    void Edit1Change(const QString& text);
    void Edit2Change(const QString& text) { settings_.BaseFileName = text; }
    void Edit3Change(const QString& text) { settings_.TempPath = text; }
    void Edit4Change(const QString& text) { settings_.ListenPort = text; }
    void Edit6Change(const QString& text);
    void Edit10Change(const QString& text) { settings_.PageHeader = text; }
    void Edit11Change(const QString& text) { settings_.PageFooter = text; }
    void Edit12Change(const QString& text) { settings_.LogFile = text; }
    void Edit13Change(const QString& text) { settings_.IdleSeconds = text; }
    void Edit14Change(const QString& text);
    void Edit15Change(const QString& text) { settings_.MasterCommand = text; }
    void CheckBox1Click(bool on) { settings_.ShowPeers = on; }
    void CheckBox2Click(bool on) { settings_.AutoClose = on; }
    void CheckBox4Click(bool on) { settings_.HideOnStartup = on; }
    void CheckBox5Click(bool on) { settings_.LogEnabled = on; }
    void FolderPagesBoxClick(bool on) { settings_.FolderPages = on; }
    void BaseFolderBtnClick();
    void TempPathBtnClick();
    void PluginsPathBtnClick();
    void UploadPathBtnClick();
    // The choices of who may connect and where visitors may upload.
    TAccessBoxes& Access() { return access_; }
    void LogFileBtnClick();
    // The chosen file must lie under the base folder; what is kept is the part after it.
    void BaseFileBtnClick();

private:
    void connectFields();
    void connectButtons();
    // False when the user cancelled; the field then keeps its text.
    bool pickFolder(QLineEdit& field, const QString& title);
    void showPluginsPlace();

    Ui::TF_KORUMain& ui_;
    ServerSettings& settings_;
    QWidget& window_;
    QLabel* pluginsInsideBase_ = nullptr; // owned by its group box
    QLabel* saveReport_ = nullptr;        // owned by the Settings tab
    TPortFieldMark* portMark_ = nullptr;  // owned by the port field
    TAccessBoxes access_;
};
