#include "shell/MainLayout.h"

#include "config/MimeTable.h"
#include "shell/DockLayout.h"
#include "ui_KORUMain.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

// Widths and gaps of the original design, in pixels.
constexpr int kBarGap = 28;
constexpr int kSettingsPagesWidth = 361;
constexpr int kSettingsButtonsGap = 7;
// Room beside the pages for the line that names the file a save wrote.
constexpr int kSaveReportWidth = 150;
constexpr int kPluginButtonGap = 5;
constexpr int kClientPanelWidth = 133;

// Keeps a control's designed size unless its caption needs more with the font and style in
// use. (A minimum set by hand overrides the size hint in a layout, so the two are merged here.)
void keepDesignedSize(QWidget& w, const QSize& designed) {
    w.setMinimumSize(designed.expandedTo(w.sizeHint()));
}

// The width a one-line field needs to show `sample` whole: its size hint holds room for 17
// "x" besides the frame and margins.
int fieldWidthFor(const QLineEdit& edit, const QString& sample) {
    const QFontMetrics metrics = edit.fontMetrics();
    return edit.sizeHint().width() - 17 * metrics.horizontalAdvance(QLatin1Char('x')) +
           metrics.horizontalAdvance(sample);
}

// A browse button beside a field is square, or as wide as its caption needs: the least width
// some styles give every captioned button would take the field's room.
void makeBrowseButton(QPushButton& button) {
    const QStyle& style = *button.style();
    const int captionWidth = button.fontMetrics().horizontalAdvance(button.text()) +
                             style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
                             2 * style.pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
    const int height = button.sizeHint().height();
    button.setFixedSize(std::max(height, captionWidth), height);
}

// The content type of the built-in table that takes the most room in `edit`.
QString widestBuiltInType(const QLineEdit& edit) {
    MimeTable table;
    table.LoadMIME(DefaultMimeText());
    const QStringList& types = table.ContentTypes();
    const QFontMetrics metrics = edit.fontMetrics();
    return *std::max_element(types.begin(), types.end(), [&](const QString& a, const QString& b) {
        return metrics.horizontalAdvance(a) < metrics.horizontalAdvance(b);
    });
}

void layOutButtonBar(Ui::TF_KORUMain& ui) {
    auto* bar = new QHBoxLayout(ui.Panel1);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(0);
    for (QPushButton* button : {ui.StopBtn, ui.ListenBtn})
        bar->addWidget(button);
    bar->addSpacing(kBarGap);
    bar->addWidget(ui.Button6);
    bar->addStretch();
    for (QPushButton* button : {ui.StopBtn, ui.ListenBtn, ui.Button6})
        keepDesignedSize(*button, {60, 21});
    ui.Panel1->setFixedHeight(bar->minimumSize().height());
}

// The labels of both groups share one column width, so that their fields line up.
void alignLabelColumns(QGridLayout& fields, QGridLayout& page,
                       std::initializer_list<QWidget*> labels) {
    int width = 0;
    for (const QWidget* label : labels)
        width = std::max(width, label->sizeHint().width());
    fields.setColumnMinimumWidth(0, width);
    page.setColumnMinimumWidth(0, width);
}

QGridLayout* layOutFieldsGroup(Ui::TF_KORUMain& ui) {
    auto* grid = new QGridLayout(ui.GroupBox2);
    grid->setVerticalSpacing(3);
    auto* portRow = new QHBoxLayout;
    portRow->setSpacing(6);
    portRow->addWidget(ui.Edit4);
    portRow->addWidget(ui.Label13);
    portRow->addWidget(ui.Edit13);
    portRow->addWidget(ui.Label14);
    portRow->addStretch();
    ui.Edit4->setFixedWidth(std::max(50, fieldWidthFor(*ui.Edit4, QStringLiteral("655350"))));
    ui.Edit13->setFixedWidth(std::max(36, fieldWidthFor(*ui.Edit13, QStringLiteral("9999"))));
    grid->addWidget(ui.Label1, 0, 0);
    grid->addLayout(portRow, 0, 1, 1, 2);
    struct FieldRow {
        QWidget* label;
        QLineEdit* field;
        QPushButton* browse;
    };
    const std::initializer_list<FieldRow> rows{
        {ui.Label2, ui.Edit1, ui.BaseFolderBtn},  {ui.Label3, ui.Edit2, ui.BaseFileBtn},
        {ui.CheckBox5, ui.Edit12, ui.LogFileBtn}, {ui.Label4, ui.Edit3, ui.TempPathBtn},
        {ui.Label6, ui.Edit6, ui.PluginsPathBtn}, {ui.Label15, ui.Edit14, ui.UploadPathBtn},
        {ui.Label16, ui.Edit15, nullptr}};
    int row = 1;
    for (const auto& [label, field, browse] : rows) {
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        if (browse) {
            makeBrowseButton(*browse);
            grid->addWidget(browse, row, 2);
        }
        ++row;
    }
    return grid;
}

QGridLayout* layOutPageGroup(Ui::TF_KORUMain& ui) {
    auto* grid = new QGridLayout(ui.GroupBox3);
    grid->setVerticalSpacing(3);
    grid->addWidget(ui.Label10, 0, 0);
    grid->addWidget(ui.Edit10, 0, 1);
    grid->addWidget(ui.Label11, 1, 0);
    grid->addWidget(ui.Edit11, 1, 1);
    return grid;
}

void layOutMainPage(Ui::TF_KORUMain& ui) {
    auto* flags = new QHBoxLayout(ui.GroupBox1);
    for (QCheckBox* box : {ui.CheckBox1, ui.CheckBox4, ui.CheckBox2, ui.FolderPagesBox})
        flags->addWidget(box);
    flags->addStretch();
    QGridLayout* fields = layOutFieldsGroup(ui);
    QGridLayout* page = layOutPageGroup(ui);
    alignLabelColumns(*fields, *page,
                      {ui.Label1, ui.Label2, ui.Label3, ui.CheckBox5, ui.Label4, ui.Label6,
                       ui.Label15, ui.Label16, ui.Label10, ui.Label11});
    auto* column = new QVBoxLayout(ui.TabSheet5);
    column->setContentsMargins(4, 2, 4, 2);
    column->setSpacing(2);
    for (QGroupBox* group : {ui.GroupBox1, ui.GroupBox2, ui.GroupBox3})
        column->addWidget(group);
    column->addStretch();
}

void layOutMimePage(Ui::TF_KORUMain& ui) {
    auto* side = new QVBoxLayout;
    side->setSpacing(3);
    side->addWidget(ui.Edit5);
    side->addSpacing(4);
    for (QPushButton* button : {ui.AddBtn, ui.DropBtn, ui.ChangeBtn}) {
        keepDesignedSize(*button, {75, 25});
        side->addWidget(button, 0, Qt::AlignLeft);
    }
    // Apart from the editing buttons: it adds many lines at once.
    side->addSpacing(8);
    keepDesignedSize(*ui.TypesBtn, {75, 25});
    side->addWidget(ui.TypesBtn, 0, Qt::AlignLeft);
    side->addStretch();
    ui.Edit5->setFixedWidth(std::max(100, fieldWidthFor(*ui.Edit5, widestBuiltInType(*ui.Edit5))));
    // The list keeps room for about 30 characters of its lines beside the wider field.
    const QListWidget& list = *ui.LB;
    ui.LB->setMinimumWidth(30 * list.fontMetrics().averageCharWidth() +
                           list.verticalScrollBar()->sizeHint().width() + 2 * list.frameWidth());
    auto* page = new QHBoxLayout(ui.TabSheet6);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(6);
    page->addWidget(ui.LB, 1);
    page->addLayout(side);
}

// The pages take the tab but for the column of the store's buttons at its right, so that fields
// and the MIME list grow with the window; at the designed size they keep the designed width.
void layOutSettingsPage(Ui::TF_KORUMain& ui) {
    QTabWidget& pages = *ui.PageControl2;
    pages.setMinimumWidth(std::max(kSettingsPagesWidth, pages.minimumSizeHint().width()));
    const QSize buttonSize =
        QSize(116, 25).expandedTo(ui.Button11->sizeHint()).expandedTo(ui.Button4->sizeHint());
    auto* side = new QWidget(ui.TabSheet2);
    side->setObjectName(QStringLiteral("SettingsSide"));
    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(kSettingsButtonsGap, 24, 4, 0);
    column->setSpacing(3);
    for (QPushButton* button : {ui.Button11, ui.Button4}) {
        button->setFixedSize(buttonSize);
        column->addWidget(button);
    }
    // Where a save says which file it wrote.
    column->addStretch(1);
    side->setFixedWidth(kSettingsButtonsGap + std::max(buttonSize.width(), kSaveReportWidth) + 4);
    auto* dock = new TDockLayout(ui.TabSheet2);
    dock->addWidget(side, TAlign::Right);
    dock->addWidget(&pages, TAlign::Client);
}

void layOutPluginsPage(Ui::TF_KORUMain& ui) {
    ui.Button8->setGeometry(QRect(QPoint(ui.pgLB->width() + kPluginButtonGap, 2),
                                  QSize(61, 25).expandedTo(ui.Button8->sizeHint())));
    auto* dock = new TDockLayout(ui.TabSheet3);
    dock->addWidget(ui.pgLB, TAlign::Left);
    dock->addWidget(ui.Button8, TAlign::None);
}

// The client fields stand in one column with their labels above them, the buttons below.
void layOutClientPanel(Ui::TF_KORUMain& ui) {
    auto* column = new QVBoxLayout(ui.Panel2);
    column->setContentsMargins(3, 7, 7, 7);
    column->setSpacing(0);
    for (const auto& [label, field] :
         {std::pair{ui.Label8, ui.Edit7}, std::pair{ui.Label9, ui.Edit8},
          std::pair{ui.Label12, ui.Edit9}}) {
        column->addWidget(label);
        keepDesignedSize(*field, {121, 21});
        column->addWidget(field);
    }
    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(4, 15, 0, 0);
    buttons->setSpacing(0);
    for (QPushButton* button : {ui.Button7, ui.Button10, ui.Button9}) {
        keepDesignedSize(*button, {117, 25});
        buttons->addWidget(button);
    }
    column->addLayout(buttons);
    column->addStretch();
    ui.Panel2->resize(std::max(kClientPanelWidth, ui.Panel2->minimumSizeHint().width()),
                      ui.Panel2->height());
}

} // namespace

void LayOutMainWindow(Ui::TF_KORUMain& ui) {
    layOutButtonBar(ui);
    layOutMainPage(ui);
    layOutMimePage(ui);
    layOutSettingsPage(ui);
    layOutPluginsPage(ui);
    layOutClientPanel(ui);
}
