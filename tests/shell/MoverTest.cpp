#include "shell/Mover.h"
#include "shell/DockLayout.h"

#include "KeyPress.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

void mouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, target->mapToGlobal(at), button,
                      type == QEvent::MouseMove ? Qt::MouseButtons(Qt::LeftButton) : held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}
void press(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    mouse(w, QEvent::MouseButtonPress, b, at);
}
void move(QWidget* w, QPoint at) {
    mouse(w, QEvent::MouseMove, Qt::NoButton, at);
}
void release(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    mouse(w, QEvent::MouseButtonRelease, b, at);
}
// A widget (a frame unless told otherwise) of `size` on `parent`, for a dock layout to place.
template <typename W = QFrame> W* sized(QWidget* parent, QSize size) {
    auto* widget = new W(parent);
    widget->resize(size);
    return widget;
}

// The client page of the main window: a panel with a field, a memo, the splitter and a memo that
// takes the rest.
class MoverTest : public ::testing::Test {
protected:
    MoverTest() {
        page.resize(600, 200);
        auto* dock = new TDockLayout(&page);
        panel = sized(&page, {133, 10});
        field = new QLineEdit(panel);
        memo1 = sized<QPlainTextEdit>(&page, {201, 10});
        mover = new TMover(&page);
        mover->OnMoved = [this](TMover* sender) {
            EXPECT_EQ(sender, mover);
            ++moved;
        };
        memo2 = new QPlainTextEdit(&page);
        dock->addWidget(panel, TAlign::Left);
        dock->addWidget(memo1, TAlign::Left);
        dock->addWidget(mover, TAlign::Left);
        dock->addWidget(memo2, TAlign::Client);
        page.show();
        field->setFocus();
        dock->Realign();
    }

    QWidget page;
    QFrame* panel;
    QLineEdit* field;
    QPlainTextEdit* memo1;
    TMover* mover;
    QPlainTextEdit* memo2;
    int moved = 0;
};

TEST_F(MoverTest, DockedInOrderBesideTheMemo) {
    EXPECT_EQ(memo1->geometry(), QRect(133, 0, 201, 200));
    EXPECT_EQ(mover->geometry(), QRect(334, 0, 3, 200));
    EXPECT_EQ(memo2->geometry(), QRect(337, 0, 263, 200));
    EXPECT_EQ(mover->FindSizedControl(), memo1);
    EXPECT_EQ(mover->cursor().shape(), Qt::SplitHCursor);
}

TEST_F(MoverTest, ADragOf50WidensTheMemoOnRelease) {
    press(mover, {1, 50});
    ASSERT_TRUE(mover->Dragging());
    EXPECT_TRUE(mover->LineVisible());
    move(mover, {51, 60});
    EXPECT_EQ(memo1->width(), 201) << "not before the release";
    EXPECT_EQ(mover->LineRect(), QRect(384, 0, 3, 200));
    EXPECT_EQ(moved, 0);

    release(mover, {51, 60});
    EXPECT_FALSE(mover->Dragging());
    EXPECT_FALSE(mover->LineVisible());
    EXPECT_EQ(memo1->width(), 251);
    EXPECT_EQ(mover->x(), 384);
    EXPECT_EQ(memo2->geometry(), QRect(387, 0, 213, 200));
    EXPECT_EQ(moved, 1);
}

TEST_F(MoverTest, TheLineStopsAtMinSizeAndAtMaxSize) {
    press(mover, {1, 50});
    // The room left beside the docked bars: 600 - 30 - (133 + 201 + 3) + 201.
    EXPECT_EQ(mover->MaxSize(), 434);
    move(mover, {-500, 50});
    EXPECT_EQ(mover->NewSize(), 30);
    EXPECT_EQ(mover->LineRect().x(), 133 + 30);
    move(mover, {500, 50});
    EXPECT_EQ(mover->NewSize(), 434);
    EXPECT_EQ(mover->LineRect().x(), 133 + 434);
    release(mover, {500, 50});
    EXPECT_EQ(memo1->width(), 434);
    EXPECT_EQ(memo2->width(), 30) << "the client memo keeps MinSize";

    mover->SetMinSize(500); // above MaxSize: the lower bound wins
    press(mover, {1, 50});
    EXPECT_EQ(mover->NewSize(), 500);
    release(mover, {1, 50});
}

TEST_F(MoverTest, EscInTheFocusedFieldCancelsOtherKeysStillType) {
    int escapesSeen = 0;
    struct Counter : QObject {
        int* seen;
        explicit Counter(int* s) : seen(s) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress &&
                static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape)
                ++*seen;
            return false;
        }
    } counter(&escapesSeen);
    field->installEventFilter(&counter);
    ASSERT_EQ(page.focusWidget(), field);

    press(mover, {1, 50});
    move(mover, {51, 50});
    pressKey(field, Qt::Key_X, "x");
    EXPECT_EQ(field->text(), "x") << "other keys go to the field as usual";
    pressKey(field, Qt::Key_Escape);
    EXPECT_FALSE(mover->Dragging());
    EXPECT_FALSE(mover->LineVisible());
    EXPECT_EQ(moved, 1) << "a cancelled drag still reports";
    EXPECT_EQ(escapesSeen, 0) << "the Esc belonged to the drag";

    release(mover, {51, 50});
    EXPECT_EQ(memo1->width(), 201);
    EXPECT_EQ(moved, 1) << "a release after Esc finds no drag";
    pressKey(field, Qt::Key_Escape);
    EXPECT_EQ(escapesSeen, 1) << "the field has its keys back";
}

TEST_F(MoverTest, TheRightButtonStartsNoDrag) {
    press(mover, {1, 50}, Qt::RightButton);
    EXPECT_FALSE(mover->Dragging());
    release(mover, {51, 50}, Qt::RightButton);
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(memo1->width(), 201);
}

TEST_F(MoverTest, ASplitterWithNothingBesideItStartsNoDrag) {
    QWidget bare;
    bare.resize(100, 100);
    auto* dock = new TDockLayout(&bare);
    auto* alone = new TMover(&bare);
    dock->addWidget(alone, TAlign::Left);
    dock->Realign();
    int fired = 0;
    alone->OnMoved = [&](TMover*) { ++fired; };
    EXPECT_EQ(alone->FindSizedControl(), nullptr);
    press(alone, {1, 50});
    EXPECT_FALSE(alone->Dragging());
    release(alone, {20, 50});
    EXPECT_EQ(fired, 0);
}

TEST_F(MoverTest, TheSizedControlGoingAwayEndsTheDragQuietly) {
    press(mover, {1, 50});
    delete memo1;
    memo1 = nullptr;
    move(mover, {20, 50});
    release(mover, {20, 50});
    EXPECT_FALSE(mover->Dragging());
    EXPECT_FALSE(mover->LineVisible());
    EXPECT_EQ(moved, 1);
}

TEST_F(MoverTest, PaintsAFlatBarOrABevel) {
    mover->SetColor(Qt::red);
    mover->setProperty("Beveled", false); // as a Designer file sets it
    const QImage flat = mover->grab().toImage();
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(flat.pixelColor(x, 100), QColor(Qt::red)) << x;

    mover->SetBeveled(true);
    const QImage bevel = mover->grab().toImage();
    EXPECT_EQ(bevel.pixel(0, 100), mover->palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(bevel.pixel(1, 100), QColor(Qt::red).rgb());
    EXPECT_EQ(bevel.pixel(2, 100), mover->palette().color(QPalette::Light).rgb());

    mover->SetParentColor(true);
    EXPECT_EQ(mover->Color(), page.palette().color(QPalette::Window));
}

// Each docked side: a 100-pixel bar, the splitter beside it and a client filler. A drag of 25
// pixels away from the bar makes it 125.
struct Side {
    const char* name;
    TAlign align;
    QPoint drag; // in the splitter's coordinates
    QRect sized; // of the bar after the drag
};

class MoverSideTest : public ::testing::TestWithParam<Side> {};

TEST_P(MoverSideTest, ResizesTheBarOnItsSide) {
    const Side side = GetParam();
    QWidget parent;
    parent.resize(400, 300);
    auto* dock = new TDockLayout(&parent);
    auto* bar = sized(&parent, {100, 100});
    auto* splitter = new TMover(&parent);
    splitter->SetAlign(side.align);
    splitter->resize(3, 3);
    auto* rest = new QFrame(&parent);
    dock->addWidget(bar, side.align);
    dock->addWidget(splitter, side.align);
    dock->addWidget(rest, TAlign::Client);
    dock->Realign();
    const bool across = side.align == TAlign::Top || side.align == TAlign::Bottom;
    EXPECT_EQ(splitter->cursor().shape(), across ? Qt::SplitVCursor : Qt::SplitHCursor);

    press(splitter, {1, 1});
    move(splitter, QPoint(1, 1) + side.drag);
    release(splitter, QPoint(1, 1) + side.drag);
    EXPECT_EQ(bar->geometry(), side.sized);
}

INSTANTIATE_TEST_SUITE_P(
    Sides, MoverSideTest,
    ::testing::Values(Side{"Left", TAlign::Left, {25, 0}, QRect(0, 0, 125, 300)},
                      Side{"Right", TAlign::Right, {-25, 0}, QRect(275, 0, 125, 300)},
                      Side{"Top", TAlign::Top, {0, 25}, QRect(0, 0, 400, 125)},
                      Side{"Bottom", TAlign::Bottom, {0, -25}, QRect(0, 175, 400, 125)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DockLayoutTest, TopAndBottomSpanTheWidthWhateverTheOrderAndHiddenOnesTakeNoRoom) {
    QWidget parent;
    parent.resize(300, 200);
    auto* dock = new TDockLayout(&parent);
    auto* left = sized(&parent, {50, 1});
    auto* top = sized(&parent, {1, 20});
    auto* hidden = sized(&parent, {70, 1});
    hidden->hide();
    auto* bottom = sized(&parent, {1, 30});
    auto* placed = new QFrame(&parent);
    placed->setGeometry(5, 6, 7, 8);
    auto* client = new QFrame(&parent);
    dock->addWidget(left, TAlign::Left);
    dock->addWidget(top, TAlign::Top);
    dock->addWidget(hidden, TAlign::Left);
    dock->addWidget(bottom, TAlign::Bottom);
    dock->addWidget(placed, TAlign::None);
    dock->addWidget(client, TAlign::Client);
    dock->Realign();
    EXPECT_EQ(top->geometry(), QRect(0, 0, 300, 20));
    EXPECT_EQ(bottom->geometry(), QRect(0, 170, 300, 30));
    EXPECT_EQ(left->geometry(), QRect(0, 20, 50, 150));
    EXPECT_EQ(client->geometry(), QRect(50, 20, 250, 150));
    EXPECT_EQ(placed->geometry(), QRect(5, 6, 7, 8));

    parent.resize(400, 200);
    dock->Realign();
    EXPECT_EQ(client->geometry(), QRect(50, 20, 350, 150));
}

} // namespace
