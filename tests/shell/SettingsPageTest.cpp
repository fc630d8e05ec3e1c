#include "shell/SettingsPage.h"
#include "config/ServerSettings.h"
#include "shell/PortCheck.h"
#include "ui_KORUMain.h"

#include <QLabel>
#include <QMainWindow>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace {

// The stored layout alone: no window, no server, no store.
struct Form {
    Form() { ui.setupUi(&window); }
    QMainWindow window;
    Ui::TF_KORUMain ui;
};

class SettingsPageTest : public ::testing::Test {
protected:
    struct Field {
        const char* control;
        QLineEdit* edit;
        std::function<QString(const ServerSettings&)> setting;
    };
    std::vector<Field> fields() {
        return {
            {"Edit1", ui.Edit1, [](const ServerSettings& s) { return s.BaseFolder; }},
            {"Edit2", ui.Edit2, [](const ServerSettings& s) { return s.BaseFileName; }},
            {"Edit3", ui.Edit3, [](const ServerSettings& s) { return s.TempPath; }},
            {"Edit4", ui.Edit4, [](const ServerSettings& s) { return s.ListenPort; }},
            {"Edit6", ui.Edit6, [](const ServerSettings& s) { return s.PluginsPath; }},
            {"Edit10", ui.Edit10, [](const ServerSettings& s) { return s.PageHeader.get(); }},
            {"Edit11", ui.Edit11, [](const ServerSettings& s) { return s.PageFooter.get(); }},
            {"Edit12", ui.Edit12, [](const ServerSettings& s) { return s.LogFile; }},
            {"Edit13", ui.Edit13, [](const ServerSettings& s) { return s.IdleSeconds; }},
            {"Edit14", ui.Edit14, [](const ServerSettings& s) { return s.UploadPath; }},
            {"Edit15", ui.Edit15, [](const ServerSettings& s) { return s.MasterCommand; }},
        };
    }
    struct Flag {
        const char* control;
        QCheckBox* box;
        bool ServerSettings::*setting;
    };
    std::vector<Flag> flags() {
        return {{"CheckBox1", ui.CheckBox1, &ServerSettings::ShowPeers},
                {"CheckBox2", ui.CheckBox2, &ServerSettings::AutoClose},
                {"CheckBox5", ui.CheckBox5, &ServerSettings::LogEnabled},
                {"CheckBox4", ui.CheckBox4, &ServerSettings::HideOnStartup},
                {"FolderPagesBox", ui.FolderPagesBox, &ServerSettings::FolderPages}};
    }

    Form form;
    Ui::TF_KORUMain& ui = form.ui;
    ServerSettings settings;
    TSettingsPage page{ui, settings, form.window};
};

} // namespace

TEST_F(SettingsPageTest, EachControlFeedsItsOwnSettingAndNoOther) {
    page.Show();
    for (const Field& field : fields())
        field.edit->setText(QStringLiteral("typed into ") + field.control);
    for (const Field& field : fields())
        EXPECT_EQ(field.setting(settings), QStringLiteral("typed into ") + field.control)
            << field.control;
    for (const Flag& flag : flags()) {
        const bool before = settings.*flag.setting;
        flag.box->setChecked(!before);
        EXPECT_EQ(settings.*flag.setting, !before) << flag.control;
        for (const Flag& other : flags()) {
            if (other.box != flag.box) {
                EXPECT_EQ(settings.*other.setting, other.box->isChecked()) << other.control;
            }
        }
    }
}

TEST_F(SettingsPageTest, ShowPutsEachSettingInItsOwnControl) {
    for (const Field& field : fields())
        field.edit->setText(QStringLiteral("shown by ") + field.control);
    const ServerSettings shown = settings;
    for (const Field& field : fields())
        field.edit->setText(QStringLiteral("overwritten"));
    for (const Flag& flag : flags())
        flag.box->setChecked(!(shown.*flag.setting));
    settings = shown;
    page.Show();
    for (const Field& field : fields())
        EXPECT_EQ(field.edit->text(), field.setting(shown)) << field.control;
    for (const Flag& flag : flags())
        EXPECT_EQ(flag.box->isChecked(), shown.*flag.setting) << flag.control;
}

TEST_F(SettingsPageTest, FolderContentsBoxStandsWithTheFlagsAndIsOffUntilShown) {
    EXPECT_EQ(ui.FolderPagesBox->text(), "Show &folder contents");
    EXPECT_EQ(ui.FolderPagesBox->parentWidget(), ui.GroupBox1);
    EXPECT_FALSE(ui.FolderPagesBox->isChecked()) << "the layout alone shows nothing more";
    settings.FolderPages = true;
    page.Show();
    EXPECT_TRUE(ui.FolderPagesBox->isChecked());
    ui.FolderPagesBox->click();
    EXPECT_FALSE(settings.FolderPages) << "a click is an edit";
}

// The port field is marked while its text is not a plain port number, with the line under it
// saying what the listener makes of the text; a text that is shown, not typed, is judged too.
TEST_F(SettingsPageTest, ThePortFieldIsMarkedUnlessItHoldsAPlainPortNumber) {
    QLabel& note = *ui.GroupBox2->findChild<QLabel*>("Edit4Note");
    const std::vector<std::pair<QString, bool>> texts{
        {"8080", false}, {"18141x", true}, {"http", true},   {"99999", true},
        {"", true},      {" 80", true},    {"65535", false}, {"0", true}};
    for (const auto& [text, marked] : texts) {
        ui.Edit4->setText(text);
        EXPECT_EQ(!note.isHidden(), marked) << text.toStdString();
        EXPECT_EQ(ui.Edit4->styleSheet().isEmpty(), !marked) << text.toStdString();
        EXPECT_EQ(note.text(), CheckPortText(text).note) << text.toStdString();
        EXPECT_EQ(ui.Edit4->toolTip(), note.text());
    }
    EXPECT_EQ(settings.ListenPort, "0") << "marking changes nothing of the setting";

    settings.ListenPort = "18141x";
    page.Show();
    EXPECT_FALSE(note.isHidden());
    EXPECT_EQ(note.text(), "Not a plain number: the server will listen on port 18141, and \"x\" "
                           "after it is ignored.");
    settings.ListenPort = "8080";
    page.Show();
    EXPECT_TRUE(note.isHidden());
}
