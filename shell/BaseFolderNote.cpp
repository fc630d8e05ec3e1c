#include "shell/BaseFolderNote.h"

#include "platform/ErrnoText.h"
#include "platform/FilePath.h"
#include "platform/FolderCalls.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <initializer_list>

QString MissingFolderNotice(const QString& basePath) {
    // Without a base folder a request's path is taken as it comes, from the file system's root.
    if (basePath.isEmpty())
        return QStringLiteral(
            "No base folder is set: every readable file of this machine is served");
    const QString folder = platform::ToFsPath(basePath);
    if (QFileInfo(folder).isDir())
        return {};
    return QStringLiteral("The base folder %1 does not exist: every file request will get 404")
        .arg(folder);
}

TBaseFolderNote::TBaseFolderNote(QWidget* parent) : QWidget(parent) {
    const QString red = QStringLiteral("color: #a00000");
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("BaseFolderNotice"));
    notice_->setWordWrap(true);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setStyleSheet(red);
    create_ = new QPushButton(QStringLiteral("Create it"), this);
    create_->setObjectName(QStringLiteral("CreateBaseFolder"));
    create_->setToolTip(QStringLiteral("Create the base folder and the folders above it"));
    failure_ = new QLabel(this);
    failure_->setObjectName(QStringLiteral("CreateFolderProblem"));
    failure_->setWordWrap(true);
    failure_->setTextFormat(Qt::PlainText);
    failure_->setStyleSheet(red);
    connect(create_, &QPushButton::clicked, this, &TBaseFolderNote::CreateItClick);

    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(notice_, 1);
    line->addWidget(create_, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(line);
    layout->addWidget(failure_);
    Clear();
}

void TBaseFolderNote::Check(const QString& basePath) {
    basePath_ = basePath;
    checking_ = true;
    const QString text = MissingFolderNotice(basePath);
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
    // An unset folder is a choice to make on the Settings page, not a folder to create.
    create_->setVisible(!text.isEmpty() && !basePath.isEmpty());
    if (text.isEmpty())
        failure_->hide();
    setVisible(!text.isEmpty());
}

void TBaseFolderNote::Recheck() {
    if (checking_)
        Check(basePath_);
}

void TBaseFolderNote::Clear() {
    checking_ = false;
    notice_->clear();
    for (QWidget* part : std::initializer_list<QWidget*>{notice_, create_, failure_, this})
        part->hide();
}

void TBaseFolderNote::CreateItClick() {
    const QString folder = platform::ToFsPath(basePath_);
    const int cause = platform::MakeFolders(QFile::encodeName(folder).toStdString());
    if (cause != 0) {
        failure_->setText(
            QStringLiteral("Could not create %1: %2.").arg(folder, platform::ErrnoText(cause)));
        failure_->show();
        return;
    }
    failure_->hide();
    Check(basePath_);
}

QString TBaseFolderNote::Text() const {
    return notice_->isHidden() ? QString() : notice_->text();
}
