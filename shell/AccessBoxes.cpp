#include "shell/AccessBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <utility>

namespace {

QComboBox* choiceBox(const QString& name, const QStringList& captions, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(captions);
    return box;
}

QLabel* caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TAccessBoxes::TAccessBoxes(QTabWidget& pages, ServerSettings& settings) : settings_(settings) {
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("TabSheetAccess"));
    reach_ = choiceBox(QStringLiteral("ReachBox"), ReachCaptions(), page_);
    uploads_ = choiceBox(QStringLiteral("UploadsBox"), UploadsCaptions(), page_);
    outsideBase_ = new QLabel(QStringLiteral("The upload folder lies outside the base folder: no "
                                             "upload is taken until it lies inside."),
                              page_);
    outsideBase_->setObjectName(QStringLiteral("UploadsOutsideBase"));
    outsideBase_->setWordWrap(true);
    outsideBase_->hide();
    notices_ = new QCheckBox(QStringLiteral("&Notify me of uploads"), page_);
    notices_->setObjectName(QStringLiteral("UploadNoticesBox"));

    // Captions above their boxes: the page is no wider than "Main".
    auto* column = new QVBoxLayout(page_);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(2);
    column->addWidget(caption(QStringLiteral("&Visitors may connect from"), reach_, page_));
    column->addWidget(reach_, 0, Qt::AlignLeft);
    column->addSpacing(10);
    column->addWidget(caption(QStringLiteral("&Visitors may upload"), uploads_, page_));
    column->addWidget(uploads_, 0, Qt::AlignLeft);
    column->addSpacing(6);
    column->addWidget(outsideBase_);
    column->addSpacing(4);
    column->addWidget(notices_);
    column->addStretch(1);
    // Right after "Main": who may see the site matters before the types it is sent with.
    pages.insertTab(1, page_, QStringLiteral("Visitors"));

    connect(reach_, &QComboBox::currentIndexChanged, this,
            [this](int index) { settings_.Reach = static_cast<ReachChoice>(index); });
    connect(uploads_, &QComboBox::currentIndexChanged, this, [this](int index) {
        settings_.Uploads = static_cast<UploadsChoice>(index);
        ShowUploadPlace();
    });
    connect(notices_, &QCheckBox::toggled, this, [this](bool on) { settings_.UploadNotices = on; });
}

void TAccessBoxes::Show() {
    for (const auto& [box, index] : {std::pair{reach_, static_cast<int>(settings_.Reach)},
                                     std::pair{uploads_, static_cast<int>(settings_.Uploads)}}) {
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(index);
    }
    const QSignalBlocker blocker(notices_);
    notices_->setChecked(settings_.UploadNotices);
    ShowUploadPlace();
}

void TAccessBoxes::ShowUploadPlace() {
    outsideBase_->setVisible(settings_.Uploads == UploadsChoice::UploadFolder &&
                             !UploadsInsideBase(settings_));
}
