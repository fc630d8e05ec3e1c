// The Settings page's access boxes: they show what the store holds (a value out of range as an
// earlier version's store reads it), write the live settings as they change, are saved and
// restored, and say when the upload folder lies outside the base folder.
#include "MainWindowFixture.h"

#include "shell/AccessBoxes.h"
#include "shell/SettingsPage.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class AccessBoxesTest : public MainWindowFixture {
protected:
    QComboBox& reach() { return *window->findChild<QComboBox*>("ReachBox"); }
    QComboBox& uploads() { return *window->findChild<QComboBox*>("UploadsBox"); }
    QWidget& outsideBase() { return *window->findChild<QWidget*>("UploadsOutsideBase"); }
    QByteArray storeText() const {
        QFile file(store.systemDir() + "/Quillbrook/Projects.conf");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(AccessBoxesTest, AFirstRunShowsTheHomeNetworkAndTheUploadFolder) {
    EXPECT_EQ(reach().currentText(), "My home network");
    EXPECT_EQ(uploads().currentText(), "Into the upload folder");
    EXPECT_EQ(reach().count(), 3);
    EXPECT_EQ(uploads().count(), 3);
}

TEST_F(AccessBoxesTest, ShowStoredValuesAndSaveWhatIsChosen) {
    struct Case {
        QByteArray stored;
        const char* reach;
        const char* uploads;
    };
    const Case cases[] = {
        {"Settings\\Reach=0\nSettings\\Uploads=0\n", "This computer only", "No"},
        {"Settings\\Reach=1\nSettings\\Uploads=2\n", "My home network",
         "Anywhere under the base folder"},
        {"Settings\\Edit4=80\n", "Anywhere", "Anywhere under the base folder"},
        {"Settings\\Reach=7\nSettings\\Uploads=-1\n", "Anywhere", "Anywhere under the base folder"},
        {"Settings\\Reach=x\nSettings\\Uploads=\n", "Anywhere", "Anywhere under the base folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.constData());
        ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook/Projects.conf",
                                     "[KORU]\n" + c.stored));
        open();
        EXPECT_EQ(reach().currentText(), c.reach);
        EXPECT_EQ(uploads().currentText(), c.uploads);
    }

    reach().setCurrentIndex(0);
    uploads().setCurrentIndex(1);
    EXPECT_EQ(window->Settings().Reach, ReachChoice::ThisComputer) << "the live setting";
    EXPECT_EQ(window->Settings().Uploads, UploadsChoice::UploadFolder);
    ui->Button4->click();
    EXPECT_TRUE(dialogs::TakeMessages().empty());
    EXPECT_TRUE(storeText().contains("\nSettings\\Reach=0\n")) << storeText().constData();
    EXPECT_TRUE(storeText().contains("\nSettings\\Uploads=1\n")) << storeText().constData();
    reach().setCurrentIndex(2);
    uploads().setCurrentIndex(0);
    ui->Button11->click();
    EXPECT_EQ(reach().currentText(), "This computer only") << "Restore shows what was saved";
    EXPECT_EQ(uploads().currentText(), "Into the upload folder");
}

TEST_F(AccessBoxesTest, SaysWhenUploadsGoToAFolderOutsideTheBase) {
    QTemporaryDir base;
    QTemporaryDir elsewhere;
    window->show();
    ui->Edit1->setText(base.path());
    ui->Edit14->setText(base.path() + "/Uploads/");
    uploads().setCurrentIndex(1);
    EXPECT_TRUE(outsideBase().isHidden()) << "a folder made on the first upload is inside";
    ui->Edit14->setText(elsewhere.path() + "/");
    EXPECT_FALSE(outsideBase().isHidden());
    uploads().setCurrentIndex(2);
    EXPECT_TRUE(outsideBase().isHidden()) << "anywhere under the base does not use the folder";
    uploads().setCurrentIndex(1);
    ui->Edit1->setText(QFileInfo(elsewhere.path()).path());
    EXPECT_TRUE(outsideBase().isHidden()) << "a base folder that holds it";
}
