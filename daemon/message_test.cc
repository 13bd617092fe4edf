#include "daemon/monitor_fixture.h"

namespace hv::test {
namespace {

class MessageTest : public MonitorTest {
protected:
    MessageTest() { monitor = std::make_unique<Monitor>(sys, config); }
};

TEST_F(MessageTest, ExpandsFirstOccurrenceOfEachPlaceholderInOrder) {
    struct Case {
        std::optional<std::string> templ;
        std::optional<std::string> user, appname;
        uint32_t warntime, rmin, armin;
        int32_t starttime, endtime;
        std::string expected;
    };
    const Case cases[] = {
        {"%m left, then %m", "kid", {}, 5, 7, 0, 0, 0, "7 left, then %m"},
        {"from %sr to %er", "kid", {}, 5, 0, 0, 510, 1080, "from 08:30 to 18:00"},
        {"%sr-%er", "kid", {}, 5, 0, 0, 0, 0, "00:00-00:00"},
        {"warned %w min ahead", "kid", {}, 5, 0, 0, 0, 0, "warned 5 min ahead"},
        {"%d stays, %u goes", "kid", {}, 5, 0, 0, 0, 0, "%d stays, kid goes"},
        {"%a has %l min", "kid", "Game.app", 5, 0, 12, 0, 0, "Game.app has 12 min"},
        // A value's own text is searched by the placeholders after it.
        {"%u", "%m", {}, 5, 3, 0, 0, 0, "3"},
        // Absent values read as empty text; an absent template as an empty message.
        {"[%u][%a]", {}, {}, 5, 0, 0, 0, 0, "[][]"},
        {{}, "kid", {}, 5, 0, 0, 0, 0, ""},
        {"no placeholders", "kid", {}, 5, 0, 0, 0, 0, "no placeholders"},
        // Counters print as signed 32-bit numbers.
        {"%m", "kid", {}, 5, 0xFFFFFFFFu, 0, 0, 0, "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templ.value_or("<absent>"));
        monitor->user = c.user;
        monitor->appname = c.appname;
        monitor->warntime = c.warntime;
        monitor->rmin = c.rmin;
        monitor->armin = c.armin;
        monitor->starttime = c.starttime;
        monitor->endtime = c.endtime;
        monitor->makeMessage(c.templ);
        EXPECT_EQ(monitor->message, c.expected);
    }
}

TEST_F(MessageTest, CautionNoticesFollowTheTimeoutSettingStopNoticesDoNot) {
    monitor->message = "text";
    monitor->timeout = 0.0f;
    monitor->showCautionNotice();
    monitor->showStopNotice();
    monitor->timeout = 1.0f;
    monitor->showCautionNotice();
    ASSERT_EQ(sys.notices.size(), 3u);
    EXPECT_EQ(sys.notices[0].timeout, 0.0);
    EXPECT_EQ(sys.notices[0].level, NoticeLevel::Caution);
    EXPECT_EQ(sys.notices[1].timeout, 1.0);
    EXPECT_EQ(sys.notices[1].level, NoticeLevel::Stop);
    EXPECT_EQ(sys.notices[2].timeout, 1.0);
    for (const Notice& n : sys.notices) {
        EXPECT_EQ(n.header, "Wardelin Session Information");
        EXPECT_EQ(n.message, "text");
    }
}

}  // namespace
}  // namespace hv::test
