#pragma once

#include "config/ServerSettings.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QLabel;
class QTabWidget;
class QWidget;

// The Settings tab's two access choices: who may connect ("&Visitors may connect from") and
// where visitors may store files ("&Visitors may upload"), with a warning while uploads go into
// an upload folder that lies outside the base folder (then none is taken), and whether the owner
// is told of stored uploads in the tray ("&Notify me of uploads"). They have a page of
// their own beside "Main", which has no room to spare at the window's least size. Each box
// writes its setting as it changes. UI thread only; the pages and the settings outlive it.
class TAccessBoxes : public QObject {
public:
    TAccessBoxes(QTabWidget& pages, ServerSettings& settings);

    // Shows the settings as they are now; showing them is not taken for an edit.
    void Show();
    // Decides the warning again: the base or the upload folder changed.
    void ShowUploadPlace();

    QWidget& Page() { return *page_; }
    QComboBox& ReachBox() { return *reach_; }
    QComboBox& UploadsBox() { return *uploads_; }
    QCheckBox& UploadNoticesBox() { return *notices_; }

private:
    ServerSettings& settings_;
    QWidget* page_ = nullptr; // owned by the pages
    QComboBox* reach_ = nullptr;
    QComboBox* uploads_ = nullptr;
    QLabel* outsideBase_ = nullptr;
    QCheckBox* notices_ = nullptr;
};
