// The Settings tab's access boxes show what the store holds (a value out of range as an earlier
// version's store reads it), write the live settings, are saved and restored, and warn while the
// upload folder lies outside the base folder.
#include "MainWindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

class AccessBoxesTest : public MainWindowFixture {
protected:
    QComboBox& reach() { return *window->findChild<QComboBox*>("ReachBox"); }
    QComboBox& uploads() { return *window->findChild<QComboBox*>("UploadsBox"); }
    QCheckBox& notices() { return *window->findChild<QCheckBox*>("UploadNoticesBox"); }
};

} // namespace

TEST_F(AccessBoxesTest, ShowStoredValuesAndSaveWhatIsChosen) {
    EXPECT_EQ(reach().currentText(), "My home network") << "a first run";
    EXPECT_EQ(uploads().currentText(), "Into the upload folder");
    EXPECT_TRUE(notices().isChecked());
    const QString file = store.systemDir() + "/Quillbrook/Projects.conf";
    ASSERT_TRUE(testfiles::write(file, "[KORU]\nSettings\\Reach=0\nSettings\\Uploads=7\n"));
    open();
    EXPECT_EQ(reach().currentText(), "This computer only");
    EXPECT_EQ(uploads().currentText(), "Anywhere under the base folder");
    EXPECT_FALSE(notices().isChecked()) << "an earlier version never told of uploads";

    notices().click();
    EXPECT_TRUE(window->Settings().UploadNotices);
    reach().setCurrentIndex(1);
    uploads().setCurrentIndex(0);
    EXPECT_EQ(window->Settings().Reach, ReachChoice::HomeNetwork) << "the live setting";
    EXPECT_EQ(window->Settings().Uploads, UploadsChoice::Off);
    ui->Button4->click();
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.contains("\nSettings\\Reach=1\n") && text.contains("\nSettings\\Uploads=0\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("\nSettings\\UploadNotices=1\n")) << text.constData();
    reach().setCurrentIndex(2);
    notices().click();
    ui->Button11->click();
    EXPECT_EQ(reach().currentText(), "My home network") << "Restore shows what was saved";
    EXPECT_EQ(uploads().currentText(), "No");
    EXPECT_TRUE(notices().isChecked());
}

TEST_F(AccessBoxesTest, SaysWhenUploadsGoToAFolderOutsideTheBase) {
    const QTemporaryDir base, elsewhere;
    QWidget& warning = *window->findChild<QWidget*>("UploadsOutsideBase");
    ui->Edit1->setText(base.path());
    ui->Edit14->setText(base.path() + "/Uploads/");
    EXPECT_TRUE(warning.isHidden()) << "a folder made on the first upload lies inside";
    ui->Edit14->setText(elsewhere.path() + "/");
    EXPECT_FALSE(warning.isHidden());
    uploads().setCurrentIndex(2);
    EXPECT_TRUE(warning.isHidden()) << "anywhere under the base does not use the folder";
    uploads().setCurrentIndex(1);
    ui->Edit1->setText(QFileInfo(elsewhere.path()).path());
    EXPECT_TRUE(warning.isHidden()) << "a base folder that holds it";
}
