#include "shell/RxTray.h"
#include "shell/TrayServiceFake.h"
#include "shell/TrayStateIcons.h"

#include "support/WaitUntil.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QPixmap>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

QIcon solid(Qt::GlobalColor color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

QColor colorOf(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().pixelColor(8, 8);
}

using Kind = RecordingTrayService::Kind;

class RxTrayTest : public ::testing::Test {
protected:
    RxTrayTest() {
        auto fake = std::make_unique<RecordingTrayService>();
        service = fake.get();
        tray = std::make_unique<TRxTray>(nullptr, std::move(fake));
    }

    const RecordingTrayService::Call& last() const { return service->calls.back(); }
    // The pictures shown by modify calls from position `from` on.
    std::vector<QColor> shownFrom(size_t from) const {
        std::vector<QColor> colors;
        for (size_t i = from; i < service->calls.size(); ++i)
            if (service->calls[i].kind != Kind::Delete)
                colors.push_back(colorOf(service->calls[i].entry.icon));
        return colors;
    }
    void addFrames() {
        tray->Icons().Add(solid(Qt::red));
        tray->Icons().Add(solid(Qt::green));
        tray->Icons().Add(solid(Qt::blue));
    }

    RecordingTrayService* service;
    std::unique_ptr<TRxTray> tray;
};

TEST_F(RxTrayTest, EntersTheTrayOnlyWithAPicture) {
    EXPECT_TRUE(service->calls.empty()) << "nothing at creation";
    tray->SetHint("Server");
    EXPECT_FALSE(service->Shown());
    EXPECT_FALSE(tray->Added());

    tray->SetIcon(solid(Qt::red));
    ASSERT_TRUE(service->Shown());
    EXPECT_EQ(last().kind, Kind::Add);
    EXPECT_EQ(last().entry.tip, "Server");
    EXPECT_EQ(colorOf(last().entry.icon), QColor(Qt::red));

    tray->SetIcon(QIcon());
    EXPECT_FALSE(service->Shown()) << "losing the picture removes the entry";
    EXPECT_FALSE(tray->Added());
}

TEST_F(RxTrayTest, ActiveRemovesAndAddsTheEntry) {
    tray->SetIcon(solid(Qt::red));
    tray->SetActive(false);
    EXPECT_EQ(last().kind, Kind::Delete);
    EXPECT_FALSE(tray->Added());
    tray->SetHint("changed while inactive");
    EXPECT_FALSE(service->Shown());

    tray->SetActive(true);
    EXPECT_EQ(last().kind, Kind::Add);
    EXPECT_EQ(last().entry.tip, "changed while inactive");
    const size_t calls = service->calls.size();
    tray->SetActive(true);
    EXPECT_EQ(service->calls.size(), calls) << "an unchanged value does nothing";
}

TEST_F(RxTrayTest, AFailedAddIsTriedAgainOnTheNextRefresh) {
    service->addSucceeds = false;
    tray->SetIcon(solid(Qt::red));
    EXPECT_FALSE(tray->Added());
    service->addSucceeds = true;
    tray->SetHint("Server on port 8080");
    EXPECT_TRUE(tray->Added());
    EXPECT_EQ(last().kind, Kind::Add);
}

TEST_F(RxTrayTest, TheTooltipIsTheHintBeforeTheBarAtMost63Characters) {
    tray->SetIcon(solid(Qt::red));
    tray->SetHint("Server on port 80|long help text");
    EXPECT_EQ(last().kind, Kind::Modify);
    EXPECT_EQ(last().entry.tip, "Server on port 80");
    tray->SetHint(QString(100, u'a'));
    EXPECT_EQ(last().entry.tip, QString(63, u'a'));

    EXPECT_EQ(TRxTray::ShortHint("|after"), "");
    EXPECT_EQ(TRxTray::ShortHint(QString(63, u'b') + "|x"), QString(63, u'b'));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8C\xBF"); // two UTF-16 units
    EXPECT_EQ(TRxTray::ShortHint(QString(62, u'c') + emoji), QString(62, u'c'))
        << "a character is never cut in half";
}

TEST_F(RxTrayTest, RightClickOpensTheMenuAtTheCursorInsteadOfOnClick) {
    QMenu menu;
    menu.addAction("&Start");
    tray->SetPopupMenu(&menu);
    int clicks = 0;
    tray->OnClick = [&](TRxTray*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++clicks; };
    service->cursor = QPoint(40, 700);

    service->Press(TrayMouse::RightRelease);
    ASSERT_EQ(service->popups.size(), 1u);
    EXPECT_EQ(service->popups[0].menu, &menu);
    EXPECT_EQ(service->popups[0].pos, QPoint(40, 700));
    EXPECT_EQ(clicks, 0);

    menu.setProperty(TRxTray::kAutoPopupProperty, false);
    service->Press(TrayMouse::RightRelease);
    EXPECT_EQ(service->popups.size(), 1u);
    EXPECT_EQ(clicks, 1) << "a menu without automatic popup leaves the click to OnClick";
}

TEST_F(RxTrayTest, ClicksWithoutAMenuReachOnClickWithButtonAndCursor) {
    std::vector<std::tuple<Qt::MouseButton, int, int>> clicks;
    tray->OnClick = [&](TRxTray* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                        int y) {
        EXPECT_EQ(sender, tray.get());
        EXPECT_EQ(shift, Qt::NoModifier);
        clicks.emplace_back(button, x, y);
    };
    service->cursor = QPoint(5, 6);
    service->Press(TrayMouse::RightRelease);
    service->Press(TrayMouse::LeftRelease);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0], std::make_tuple(Qt::RightButton, 5, 6));
    EXPECT_EQ(clicks[1], std::make_tuple(Qt::LeftButton, 5, 6));

    {
        QMenu gone;
        tray->SetPopupMenu(&gone);
    }
    EXPECT_EQ(tray->PopupMenu(), nullptr) << "a destroyed menu is forgotten";
    service->Press(TrayMouse::RightRelease);
    EXPECT_EQ(clicks.size(), 3u);
    EXPECT_TRUE(service->popups.empty());
}

TEST_F(RxTrayTest, DoubleClickRunsTheDefaultItemOrElseOnDblClick) {
    QMenu menu;
    int started = 0, exited = 0, doubles = 0;
    QObject::connect(menu.addAction("&Start"), &QAction::triggered, [&] { ++started; });
    QAction* exit = menu.addAction("&Exit");
    QObject::connect(exit, &QAction::triggered, [&] { ++exited; });
    tray->SetPopupMenu(&menu);
    tray->OnDblClick = [&](TRxTray*) { ++doubles; };

    service->Press(TrayMouse::LeftDoubleClick);
    EXPECT_EQ(doubles, 1) << "no default item";
    menu.setDefaultAction(exit);
    service->Press(TrayMouse::LeftDoubleClick);
    EXPECT_EQ(exited, 1);
    EXPECT_EQ(started, 0);
    EXPECT_EQ(doubles, 1);

    tray->SetActive(false);
    EXPECT_FALSE(tray->ClickDefaultItem());
    EXPECT_FALSE(tray->ShowPopupAtCursor(0, 0));
}

TEST_F(RxTrayTest, AnErrorInAHandlerIsShownAndGoesNoFurther) {
    std::vector<QString> shown;
    tray->OnError = [&](const QString& text) { shown.push_back(text); };
    tray->OnClick = [](TRxTray*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        throw std::runtime_error("Error 10048 in function bind");
    };
    EXPECT_NO_THROW(service->Press(TrayMouse::LeftRelease));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Error 10048 in function bind");
}

TEST_F(RxTrayTest, AnimationNeedsFramesAndCyclesThemInOrder) {
    tray->SetIcon(solid(Qt::white));
    tray->SetAnimated(true);
    EXPECT_FALSE(tray->Animated()) << "no frames";

    addFrames();
    tray->SetInterval(15);
    const size_t start = service->calls.size();
    QElapsedTimer clock;
    clock.start();
    tray->SetAnimated(true);
    ASSERT_TRUE(tray->Animated());
    ASSERT_TRUE(testwait::Until([&] { return shownFrom(start).size() >= 7; }));
    const qint64 elapsed = clock.elapsed();

    const std::vector<QColor> frames = shownFrom(start);
    const std::vector<QColor> expected = {Qt::red,   Qt::green, Qt::blue, Qt::red,
                                          Qt::green, Qt::blue,  Qt::red};
    EXPECT_EQ(std::vector<QColor>(frames.begin(), frames.begin() + 7), expected);
    EXPECT_GE(elapsed, 6 * 15) << "one interval at least between frames";
}

TEST_F(RxTrayTest, AnimationWaitsWhileTheEntryIsAbsent) {
    tray->SetActive(false);
    addFrames();
    tray->SetInterval(5);
    tray->SetAnimated(true);
    ASSERT_TRUE(tray->Animated());
    const size_t calls = service->calls.size();
    testwait::For(60);
    EXPECT_EQ(service->calls.size(), calls) << "no frames while not in the tray";

    tray->SetActive(true);
    EXPECT_EQ(colorOf(last().entry.icon), QColor(Qt::red));
    EXPECT_TRUE(testwait::Until([&] { return tray->IconIndex() == 1; }));
}

TEST_F(RxTrayTest, EmptyingIconsWhileAnimatingShowsTheIconAgain) {
    tray->SetIcon(solid(Qt::white));
    addFrames();
    tray->SetInterval(5);
    tray->SetAnimated(true);
    ASSERT_TRUE(testwait::Until([&] { return tray->IconIndex() == 2; }));

    tray->Icons().Clear();
    EXPECT_FALSE(tray->Animated());
    EXPECT_EQ(last().kind, Kind::Modify);
    EXPECT_EQ(colorOf(last().entry.icon), QColor(Qt::white));
    const size_t calls = service->calls.size();
    testwait::For(40);
    EXPECT_EQ(service->calls.size(), calls) << "no frame after the animation ended";
}

TEST_F(RxTrayTest, EmptyingIconsWithoutAnIconRemovesTheEntry) {
    addFrames();
    tray->SetInterval(5);
    tray->SetAnimated(true);
    ASSERT_TRUE(tray->Added());
    tray->Icons().Clear();
    EXPECT_EQ(last().kind, Kind::Delete);
    EXPECT_FALSE(tray->Added());
}

TEST_F(RxTrayTest, DeletingTheCurrentFrameShowsTheFirstOne) {
    addFrames();
    tray->SetInterval(5);
    tray->SetAnimated(true);
    ASSERT_TRUE(testwait::Until([&] { return tray->IconIndex() == 2; }));
    EXPECT_NO_THROW(tray->Icons().Delete(2));
    EXPECT_EQ(colorOf(last().entry.icon), QColor(Qt::red));
    EXPECT_TRUE(testwait::Until([&] { return tray->IconIndex() == 1; })) << "and animation goes on";
}

TEST_F(RxTrayTest, SwitchingOffAndOnAgainKeepsTheNewAnimation) {
    addFrames();
    tray->SetInterval(5);
    tray->SetAnimated(true);
    tray->SetAnimated(false);
    tray->SetAnimated(true);
    ASSERT_TRUE(tray->Animated());
    testwait::For(30); // the first thread's end notice arrives meanwhile
    EXPECT_TRUE(tray->Animated());
    const size_t calls = service->calls.size();
    EXPECT_TRUE(testwait::Until([&] { return service->calls.size() > calls + 2; }));
}

TEST_F(RxTrayTest, DestroyingTheTrayWhileAnimatingEndsTheThreadAndTheEntry) {
    // Keeps the record of calls beyond the tray, which owns (and frees) its service.
    struct Keeping : RecordingTrayService {
        std::vector<Call>* out = nullptr;
        ~Keeping() override { *out = calls; }
    };
    std::vector<RecordingTrayService::Call> calls;
    auto fake = std::make_unique<Keeping>();
    fake->out = &calls;
    auto animated = std::make_unique<TRxTray>(nullptr, std::move(fake));
    animated->Icons().Add(solid(Qt::red));
    animated->Icons().Add(solid(Qt::green));
    animated->SetInterval(0);
    animated->SetAnimated(true);
    testwait::For(10);
    animated.reset();  // the thread has ended before this returns
    testwait::For(10); // frames still queued must find nothing to run
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().kind, Kind::Delete);
}

TEST(SystemTrayServiceTest, TheEntryIsAddedExactlyWhenTheDesktopHasATray) {
    TRxTray real;
    real.SetHint("Server");
    real.SetIcon(solid(Qt::red));
    EXPECT_EQ(real.Added(), real.Service().Available());
    real.SetActive(false);
    EXPECT_FALSE(real.Added());
}

// ---- the icon list ----

class IconListTest : public ::testing::Test {
protected:
    IconListTest() {
        list.OnChange = [this](TIconList* sender) {
            EXPECT_EQ(sender, &list);
            ++changes;
        };
    }
    TIconList list;
    int changes = 0;
};

TEST_F(IconListTest, EveryChangeNotifiesOnceAndUpdatesBundleThem) {
    EXPECT_EQ(list.Add(solid(Qt::red)), 0);
    EXPECT_EQ(list.Add(nullptr), 1);
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(list.Items(1)->isNull()) << "added as an empty icon";

    list.BeginUpdate();
    list.Insert(0, solid(Qt::green));
    list.SetItems(3, solid(Qt::blue)); // at Count: appended
    list.Exchange(0, 1);
    list.BeginUpdate();
    list.Move(3, 0);
    list.EndUpdate();
    EXPECT_EQ(changes, 2);
    list.EndUpdate();
    EXPECT_EQ(changes, 3);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(colorOf(*list.Items(0)), QColor(Qt::blue));
    EXPECT_EQ(colorOf(*list.Items(1)), QColor(Qt::red));
    EXPECT_EQ(colorOf(*list.Items(2)), QColor(Qt::green));

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes, 4);
}

TEST_F(IconListTest, BadPositionsThrowAndChangeNothing) {
    list.Add(solid(Qt::red));
    EXPECT_THROW(list.Items(1), std::out_of_range);
    EXPECT_THROW(list.Delete(-1), std::out_of_range);
    EXPECT_THROW(list.Insert(2, solid(Qt::red)), std::out_of_range);
    EXPECT_THROW(list.SetItems(2, solid(Qt::red)), std::out_of_range);
    EXPECT_THROW(list.Move(0, 1), std::out_of_range);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_THROW(list.AddResource(":/no/such/icon.png"), EIconListError);
    EXPECT_EQ(list.AddResource(":/icons/koru-32.png"), 1) << "the application icon is linked in";
    EXPECT_FALSE(list.Items(1)->isNull());
}

TEST_F(IconListTest, IndexOfFindsOnlyTheListsOwnIcons) {
    const QIcon red = solid(Qt::red);
    list.Add(red);
    list.Add(solid(Qt::green));
    EXPECT_EQ(list.IndexOf(list.Items(1)), 1);
    EXPECT_EQ(list.IndexOf(&red), -1) << "the list holds a copy, not the given icon";
    EXPECT_EQ(list.IndexOf(nullptr), -1);
}

TEST_F(IconListTest, AssignCopiesAndAssigningItselfKeepsTheContent) {
    TIconList other;
    other.Add(solid(Qt::red));
    other.Add(nullptr);
    list.Assign(other);
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_NE(list.Items(0), other.Items(0));

    list.Assign(list);
    EXPECT_EQ(list.Count(), 2);
    list.Assign(solid(Qt::blue));
    EXPECT_EQ(list.Count(), 1);
    list.Assign(nullptr);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(IconListTest, StoredFormReadsBackWithAbsentEntries) {
    EXPECT_TRUE(list.WriteData().isEmpty()) << "an empty list is not stored";
    list.Add(solid(Qt::red));
    list.SetItems(1, solid(Qt::green));
    list.Add(QIcon());
    const QByteArray data = list.WriteData();
    ASSERT_GE(data.size(), 8);
    EXPECT_EQ(qFromLittleEndian<int32_t>(data.constData()), 3);
    EXPECT_EQ(qFromLittleEndian<int32_t>(data.constData() + data.size() - 4), 0)
        << "the empty last entry has size 0";

    TIconList copy;
    int copyChanges = 0;
    copy.Add(solid(Qt::blue));
    copy.OnChange = [&](TIconList*) { ++copyChanges; };
    copy.ReadData(data);
    EXPECT_EQ(copyChanges, 1);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(colorOf(*copy.Items(0)), QColor(Qt::red));
    EXPECT_EQ(colorOf(*copy.Items(1)), QColor(Qt::green));
    EXPECT_EQ(copy.Items(2), nullptr);
}

TEST_F(IconListTest, ReadsClassicIconFiles) {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray ico;
    QBuffer buffer(&ico);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&buffer, "ico").write(image));
    QByteArray data;
    data.append("\x01\x00\x00\x00", 4);
    const auto size = qToLittleEndian<int32_t>(ico.size());
    data.append(reinterpret_cast<const char*>(&size), 4);
    data.append(ico);
    list.ReadData(data);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(colorOf(*list.Items(0)), QColor(Qt::blue));
}

TEST_F(IconListTest, DamagedStoredFormIsRefusedAndLeavesTheList) {
    TIconList source;
    source.Add(solid(Qt::red));
    source.Add(solid(Qt::green));
    const QByteArray good = source.WriteData();
    list.Add(solid(Qt::blue));
    changes = 0;

    const std::vector<std::pair<const char*, QByteArray>> damaged = {
        {"cut in the count", good.left(3)},
        {"cut in an entry", good.left(good.size() - 1)},
        {"negative count", QByteArray("\xff\xff\xff\xff", 4)},
        {"count beyond the data", QByteArray("\x00\x00\x00\x40", 4)},
        {"negative size", QByteArray("\x01\x00\x00\x00\xfe\xff\xff\xff", 8)},
        {"not an icon", QByteArray("\x01\x00\x00\x00\x03\x00\x00\x00"
                                   "abc",
                                   11)},
    };
    for (const auto& [what, data] : damaged) {
        EXPECT_THROW(list.ReadData(data), EIconListError) << what;
        ASSERT_EQ(list.Count(), 1) << what;
        EXPECT_EQ(colorOf(*list.Items(0)), QColor(Qt::blue)) << what;
    }
    EXPECT_EQ(changes, 0);
}

} // namespace

// The stopped picture: the same shape in every size, grey and fainter, transparent where the
// original is.
TEST(TrayStateIcons, TheGreyedCopyKeepsShapeAndSizes) {
    QIcon original;
    for (const int side : {16, 32}) {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        for (int y = 0; y < side / 2; ++y)
            for (int x = 0; x < side; ++x)
                image.setPixelColor(x, y, QColor(200, 30, 30));
        original.addPixmap(QPixmap::fromImage(image));
    }
    const QIcon greyed = GreyedIcon(original);
    EXPECT_EQ(greyed.availableSizes(), original.availableSizes());
    for (const int side : {16, 32}) {
        const QImage image = greyed.pixmap(side).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(side, side));
        const QColor top = image.pixelColor(side / 2, 1);
        EXPECT_EQ(top.red(), top.green());
        EXPECT_EQ(top.green(), top.blue());
        EXPECT_GT(top.alpha(), 0);
        EXPECT_LT(top.alpha(), 255) << "fainter than the original";
        EXPECT_EQ(image.pixelColor(side / 2, side - 1).alpha(), 0) << "transparent stays so";
    }
}

// The entry changes only when the picture does: the listener's passing states ask for the
// stopped picture again and again.
TEST(TrayStateIcons, ThePictureChangesOnlyWithTheState) {
    auto fake = std::make_unique<RecordingTrayService>();
    RecordingTrayService& service = *fake;
    TRxTray tray(nullptr, std::move(fake));
    TTrayStateIcons icons(tray, solid(Qt::red));
    icons.ShowStopped();
    ASSERT_TRUE(service.Shown());
    const size_t first = service.calls.size();
    icons.ShowStopped();
    icons.ShowStopped();
    EXPECT_EQ(service.calls.size(), first);
    icons.ShowListening();
    ASSERT_EQ(service.calls.size(), first + 1);
    EXPECT_EQ(service.calls.back().kind, Kind::Modify);
    EXPECT_EQ(colorOf(service.Current()->icon), QColor(Qt::red));
    icons.ShowListening();
    EXPECT_EQ(service.calls.size(), first + 1);
    icons.ShowStopped();
    EXPECT_EQ(service.Current()->icon.cacheKey(), icons.Stopped().cacheKey());
}
