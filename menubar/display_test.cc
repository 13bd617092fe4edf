#include "menubar/display.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QTimer>

#include <memory>
#include <vector>

#include "menubar/status_images.h"
#include "menubar/test_application.h"
#include "menubar/test_segment.h"

namespace hv::menu {
namespace {

using testing::TestChannel;

QImage pictureAt22(const QIcon& icon) {
    return icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
}

QStringList actionTexts(const QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) texts << action->text();
    return texts;
}

QAction* actionNamed(const QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) return action;
    }
    return nullptr;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::application();
        ASSERT_TRUE(daemon.create());
    }

    // A display on the test channel, started as the program starts it.
    std::unique_ptr<Display> start(TestChannel& channel) {
        DisplayOptions options;
        options.channel = channel.names;
        options.startProgram = [this](const QString& program) {
            started.push_back(program);
            return programInstalled;
        };
        options.tell = [this](const QString& text) { told.push_back(text); };
        auto display = std::make_unique<Display>(options);
        display->awakeFromNib();
        return display;
    }

    std::unique_ptr<Display> pollWith(int rmin, int nmin, int warn, int rsec, int netback = -1) {
        daemon.write(rmin, nmin, warn, rsec, netback);
        auto display = start(daemon);
        display->showRemain();
        return display;
    }

    TestChannel daemon;
    std::vector<QString> started;
    bool programInstalled = true;
    std::vector<QString> told;
};

TEST_F(DisplayTest, ShowsSyncUntilTheFirstPoll) {
    daemon.write(75, 90, 1, 30);
    auto display = start(daemon);
    EXPECT_TRUE(display->itemShown());
    ASSERT_NE(display->statusItem(), nullptr);
    EXPECT_EQ(display->shownImage(), kUserSync);
    EXPECT_EQ(pictureAt22(display->statusItem()->icon()), pictureAt22(loadStatusImage(kUserSync)));
    EXPECT_EQ(display->userLine(), "U: sync");
    EXPECT_EQ(display->networkLine(), "N: sync");
    EXPECT_TRUE(display->pollTimer().isActive());
    EXPECT_EQ(display->pollTimer().interval(), 5000);
}

TEST_F(DisplayTest, UserLine) {
    struct Case {
        int rmin;
        int rsec;
        int warn;
        const char* line;
    };
    const Case cases[] = {
        {0, 0, 0, "U: no limit"},     {0, 30, 0, "U: 00:00:30"},    {0, 59, 0, "U: 00:00:59"},
        {0, 1, 0, "U: 00:00:01"},     {0, -1, 0, "U: no limit"},    {0, 60, 0, "U: no limit"},
        {75, 30, 0, "U: 01:15:30"},   {6000, 0, 0, "U: 100:00:00"}, {1, 5, 0, "U: 00:01:05"},
        {59, 59, 0, "U: 00:59:59"},   {60, 0, 0, "U: 01:00:00"},
        // No time left: the warn word's 2 beside 0 minutes and 0 seconds.
        {0, 0, 2, "U: 00:00:00"},     {0, 0, 3, "U: 00:00:00"},     {0, 0, 1, "U: no limit"},
        // Never below 0, nor seconds outside a minute.
        {-5, 0, 0, "U: 00:00:00"},    {-300, 30, 1, "U: 00:00:00"}, {5, 75, 0, "U: 00:05:59"},
        {5, -1, 0, "U: 00:05:00"},
    };
    for (const Case& c : cases) {
        auto display = pollWith(c.rmin, -1, c.warn, c.rsec);
        EXPECT_EQ(display->userLine().toStdString(), c.line)
            << "rmin " << c.rmin << " rsec " << c.rsec << " warn " << c.warn;
    }
}

TEST_F(DisplayTest, NetworkLine) {
    struct Case {
        int nmin;
        int netback;
        const char* line;
    };
    const Case cases[] = {
        {90, 960, "N: 01:30:00"},  {0, -1, "N: 00:00:00"},          {-1, 960, "N: no limit"},
        {-2, -1, "N: off"},        {-2, 960, "N: off until 16:00"}, {-2, 545, "N: off until 09:05"},
        {-2, 1440, "N: off"},      {59, -1, "N: 00:59:00"},         {6000, -1, "N: 100:00:00"},
        {-7, -1, "N: 00:00:00"},
    };
    for (const Case& c : cases) {
        auto display = pollWith(30, c.nmin, 0, 0, c.netback);
        EXPECT_EQ(display->networkLine().toStdString(), c.line) << "nmin " << c.nmin << " back " << c.netback;
    }
}

TEST_F(DisplayTest, SegmentNeverWrittenShowsNoLimit) {
    auto display = start(daemon);
    display->showRemain();
    EXPECT_TRUE(display->itemShown());
    EXPECT_EQ(display->shownImage(), kUserGG);
    EXPECT_EQ(display->userLine(), "U: no limit");
    EXPECT_EQ(display->networkLine(), "N: 00:00:00");
}

TEST_F(DisplayTest, PicturePerState) {
    struct Case {
        int warn;
        int rmin;
        int nmin;
        const QString& image;
    };
    const Case cases[] = {
        {0, 10, 30, kUserGG},  {0, 10, -1, kUserGG}, {0, 10, -2, kUserGR}, {0, 0, -2, kUserGR},
        {0, -5, -2, kUserGG},  {1, 10, -1, kUserOG}, {1, 10, 30, kUserOG}, {1, 0, 0, kUserOG},
        {1, 10, -2, kUserOR},  {1, -5, -2, kUserOR}, {1, 10, -3, kUserGG}, {7, 10, -2, kUserOR},
        {0, 10, -3, kUserGG},  {2, 0, -1, kUserOG},  {3, 0, -2, kUserOR},
    };
    for (const Case& c : cases) {
        auto display = pollWith(c.rmin, c.nmin, c.warn, 0);
        SCOPED_TRACE(::testing::Message() << "warn " << c.warn << " rmin " << c.rmin << " nmin " << c.nmin);
        EXPECT_EQ(display->shownImage(), c.image);
        ASSERT_NE(display->statusItem(), nullptr);
        EXPECT_EQ(pictureAt22(display->statusItem()->icon()), pictureAt22(loadStatusImage(c.image)));
    }
}

TEST_F(DisplayTest, PicturesAreDistinctAndDrawn) {
    std::vector<QImage> pictures;
    for (const QString& name : {kUserGG, kUserGR, kUserOG, kUserOR, kUserSync}) {
        QIcon icon = loadStatusImage(name);
        ASSERT_FALSE(icon.isNull()) << name.toStdString();
        QImage image = pictureAt22(icon);
        ASSERT_EQ(image.size(), QSize(22, 22)) << name.toStdString();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 200;
        }
        EXPECT_GT(opaque, 22 * 22 / 4) << name.toStdString() << " is mostly empty at 22 px";
        for (const QImage& earlier : pictures) EXPECT_NE(image, earlier) << name.toStdString();
        pictures.push_back(image);
    }
    EXPECT_TRUE(loadStatusImage(QStringLiteral("nosuchpicture")).isNull());
}

TEST_F(DisplayTest, HidesAtMinusOneAndComesBackWithANewItem) {
    auto display = pollWith(75, -1, 0, 30);
    QPointer<QSystemTrayIcon> first = display->statusItem();
    ASSERT_FALSE(first.isNull());

    daemon.write(-1, -2, 1, 10);
    display->showRemain();
    EXPECT_FALSE(display->itemShown());
    EXPECT_EQ(display->statusItem(), nullptr);
    EXPECT_TRUE(first.isNull()) << "the hidden item must be freed";
    EXPECT_EQ(display->userLine(), "U: 01:15:30") << "texts stay as they were";
    EXPECT_EQ(display->shownImage(), kUserGG);

    display->showRemain();
    EXPECT_FALSE(display->itemShown());

    daemon.write(20, -2, 1, 5);
    display->showRemain();
    EXPECT_TRUE(display->itemShown());
    ASSERT_NE(display->statusItem(), nullptr);
    EXPECT_EQ(display->shownImage(), kUserOR);
    EXPECT_EQ(pictureAt22(display->statusItem()->icon()), pictureAt22(loadStatusImage(kUserOR)));
    EXPECT_EQ(display->userLine(), "U: 00:20:05");
    EXPECT_EQ(display->networkLine(), "N: off");
}

// The tray host's coming and going decides whether there is an item; the daemon's -1 still hides
// it while a host is there.
TEST_F(DisplayTest, FollowsTheTrayHost) {
    daemon.write(75, -1, 1, 30);
    DisplayOptions options;
    options.channel = daemon.names;
    Display display(options);
    EXPECT_FALSE(display.itemShown()) << "nothing before a host";
    display.trayHostAppeared();
    ASSERT_TRUE(display.itemShown());
    EXPECT_EQ(display.shownImage(), kUserSync);
    EXPECT_TRUE(display.pollTimer().isActive());
    display.showRemain();
    QPointer<QSystemTrayIcon> first = display.statusItem();

    display.trayHostGone();
    EXPECT_FALSE(display.itemShown());
    EXPECT_TRUE(first.isNull()) << "the item went with its host";
    daemon.write(20, -2, 0, 5);
    display.showRemain();
    EXPECT_FALSE(display.itemShown()) << "polls make no item without a host";

    display.trayHostAppeared();
    ASSERT_TRUE(display.itemShown());
    EXPECT_EQ(display.shownImage(), kUserOG) << "the last picture, until the next poll";
    EXPECT_EQ(pictureAt22(display.statusItem()->icon()), pictureAt22(loadStatusImage(kUserOG)));
    display.showRemain();
    EXPECT_EQ(display.shownImage(), kUserGR);
    EXPECT_EQ(display.userLine(), "U: 00:20:05");

    daemon.write(-1, -1, 0, 0);
    display.showRemain();
    display.trayHostGone();
    display.trayHostAppeared();
    EXPECT_FALSE(display.itemShown()) << "hidden by the daemon, hidden for the new host too";
}

TEST_F(DisplayTest, WaitsForTheDaemonsSegment) {
    TestChannel absent;
    auto display = start(absent);
    display->showRemain();
    display->showRemain();
    EXPECT_TRUE(display->itemShown());
    EXPECT_EQ(display->shownImage(), kUserSync);
    EXPECT_EQ(display->userLine(), "U: sync");

    ASSERT_TRUE(absent.create());
    absent.write(90, 45, 0, 0);
    display->showRemain();
    EXPECT_EQ(display->shownImage(), kUserGG);
    EXPECT_EQ(display->userLine(), "U: 01:30:00");
    EXPECT_EQ(display->networkLine(), "N: 00:45:00");
}

TEST_F(DisplayTest, SegmentGoneShowsSyncAgain) {
    auto display = pollWith(90, -2, 1, 0);
    ASSERT_EQ(display->shownImage(), kUserOR);
    daemon.removeSegment();
    display->showRemain();
    EXPECT_TRUE(display->itemShown());
    EXPECT_EQ(display->shownImage(), kUserSync);
    EXPECT_EQ(display->userLine(), "U: sync");
    EXPECT_EQ(display->networkLine(), "N: sync");
}

TEST_F(DisplayTest, PollWhileTheDaemonWritesKeepsTheLastValues) {
    auto display = pollWith(90, -1, 0, 0);
    ASSERT_TRUE(daemon.takeLock());
    daemon.write(-1, -2, 1, 0);
    display->showRemain();
    EXPECT_TRUE(display->itemShown());
    EXPECT_EQ(display->userLine(), "U: 01:30:00");
    daemon.releaseLock();
    display->showRemain();
    EXPECT_FALSE(display->itemShown());
}

TEST_F(DisplayTest, EachClickBuildsANewMenuFromTheLastPoll) {
    auto display = pollWith(75, 90, 0, 30);
    display->menuClicked();
    QPointer<QMenu> first = display->popupMenu();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(actionTexts(*first), (QStringList{"U: 01:15:30", "N: 01:30:00", "Preferences", "Quit"}));
    const std::vector<bool> enabled = {false, false, true, true};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(first->actions()[i]->isEnabled(), enabled[i]) << i;

    daemon.write(0, -2, 0, 0);
    display->showRemain();
    display->menuClicked();
    EXPECT_TRUE(first.isNull()) << "the menu of the earlier click must be freed";
    ASSERT_NE(display->popupMenu(), nullptr);
    EXPECT_EQ(actionTexts(*display->popupMenu()), (QStringList{"U: no limit", "N: off", "Preferences", "Quit"}));

    for (int i = 0; i < 20; ++i) display->menuClicked();
    EXPECT_EQ(actionTexts(*display->popupMenu()).size(), 4);
}

TEST_F(DisplayTest, TrayActivationOpensTheMenu) {
    auto display = pollWith(75, 90, 0, 30);
    ASSERT_EQ(display->popupMenu(), nullptr);
    emit display->statusItem()->activated(QSystemTrayIcon::Trigger);
    ASSERT_NE(display->popupMenu(), nullptr);
    EXPECT_EQ(display->popupMenu()->actions().first()->text(), "U: 01:15:30");
}

TEST_F(DisplayTest, PreferencesStartsTheSettingsApplicationOrSaysItIsMissing) {
    auto display = pollWith(75, 90, 0, 30);
    display->menuClicked();
    QAction* preferences = actionNamed(*display->popupMenu(), "Preferences");
    ASSERT_NE(preferences, nullptr);
    preferences->trigger();
    EXPECT_EQ(started, (std::vector<QString>{"horavel-settings"}));
    EXPECT_TRUE(told.empty());

    programInstalled = false;
    preferences->trigger();
    EXPECT_EQ(started.size(), 2u);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], kSettingsMissing);
}

TEST_F(DisplayTest, QuitEndsTheApplication) {
    QApplication& app = testing::application();
    auto display = pollWith(75, 90, 0, 30);
    display->menuClicked();
    QAction* quit = actionNamed(*display->popupMenu(), "Quit");
    ASSERT_NE(quit, nullptr);

    int aboutToQuit = 0;
    QMetaObject::Connection counting =
        QObject::connect(&app, &QCoreApplication::aboutToQuit, [&aboutToQuit] { ++aboutToQuit; });
    QTimer::singleShot(0, quit, &QAction::trigger);
    // Bounds the test if Quit does nothing; a correct run never reaches it.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    EXPECT_EQ(QApplication::exec(), 0);
    QObject::disconnect(counting);
    EXPECT_EQ(aboutToQuit, 1);
}

}  // namespace
}  // namespace hv::menu
