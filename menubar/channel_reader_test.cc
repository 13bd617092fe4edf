#include "menubar/channel_reader.h"

#include <gtest/gtest.h>

#include <memory>

#include "menubar/test_segment.h"

namespace hv::menu {
namespace {

using Status = ChannelRead::Status;
using testing::TestChannel;

TEST(ChannelReaderTest, ReadsTheFourWordsInFieldOrder) {
    TestChannel daemon;
    ASSERT_TRUE(daemon.create());
    ChannelReader reader(daemon.names);

    ChannelRead fresh = reader.read();
    ASSERT_EQ(fresh.status, Status::kRead);
    EXPECT_EQ(fresh.record.rmin, 0);
    EXPECT_EQ(fresh.record.nmin, 0);
    EXPECT_EQ(fresh.record.warn, 0);
    EXPECT_EQ(fresh.record.rsec, 0);

    daemon.write(75, -2, 1, 30);
    ChannelRead read = reader.read();
    ASSERT_EQ(read.status, Status::kRead);
    EXPECT_EQ(read.record.rmin, 75);
    EXPECT_EQ(read.record.nmin, -2);
    EXPECT_EQ(read.record.warn, 1);
    EXPECT_EQ(read.record.rsec, 30);
    EXPECT_EQ(daemon.lockValue(), 1) << "the reader must give the lock back";
}

TEST(ChannelReaderTest, AttachesWhenTheSegmentAppearsLater) {
    TestChannel daemon;
    ChannelReader reader(daemon.names);
    EXPECT_FALSE(reader.attached());
    EXPECT_EQ(reader.read().status, Status::kNoSegment);
    EXPECT_EQ(reader.read().status, Status::kNoSegment);

    ASSERT_TRUE(daemon.create());
    daemon.write(12, -1, 0, 5);
    ChannelRead read = reader.read();
    ASSERT_EQ(read.status, Status::kRead);
    EXPECT_TRUE(reader.attached());
    EXPECT_EQ(read.record.rmin, 12);
    EXPECT_EQ(daemon.attachments(), 2);
}

TEST(ChannelReaderTest, RefusesASegmentTooSmallForTheRecord) {
    TestChannel other;
    ASSERT_TRUE(other.create(8));
    ChannelReader reader(other.names);
    EXPECT_EQ(reader.read().status, Status::kNoSegment);
    EXPECT_FALSE(reader.attached());
    EXPECT_EQ(other.attachments(), 1);
}

TEST(ChannelReaderTest, FollowsTheDaemonToANewSegmentAndNoticesRemoval) {
    TestChannel daemon;
    ASSERT_TRUE(daemon.create());
    daemon.write(10, -1, 0, 0);
    ChannelReader reader(daemon.names);
    ASSERT_EQ(reader.read().record.rmin, 10);

    // The daemon goes away and a new one makes a fresh segment under the same key.
    daemon.removeSegment();
    daemon.detach();
    ASSERT_TRUE(daemon.create());
    daemon.write(20, 30, 1, 40);
    ChannelRead read = reader.read();
    ASSERT_EQ(read.status, Status::kRead);
    EXPECT_EQ(read.record.rmin, 20);
    EXPECT_EQ(read.record.rsec, 40);

    daemon.removeSegment();
    EXPECT_EQ(reader.read().status, Status::kNoSegment);
    EXPECT_FALSE(reader.attached());
}

TEST(ChannelReaderTest, WaitsForAHeldLockThenReadsWithoutIt) {
    TestChannel daemon;
    ASSERT_TRUE(daemon.create());
    daemon.write(30, -1, 0, 0);
    ChannelReader reader(daemon.names);
    ASSERT_EQ(reader.read().record.rmin, 30);

    ASSERT_TRUE(daemon.takeLock());
    daemon.write(31, -1, 0, 0);
    for (int poll = 1; poll < ChannelReader::kBusyPollsBeforeUnlockedRead; ++poll) {
        EXPECT_EQ(reader.read().status, Status::kBusy) << "poll " << poll;
    }
    ChannelRead stale = reader.read();
    ASSERT_EQ(stale.status, Status::kRead);
    EXPECT_EQ(stale.record.rmin, 31);
    EXPECT_EQ(daemon.lockValue(), 0) << "a lock the reader did not take must stay as it is";

    daemon.releaseLock();
    EXPECT_EQ(reader.read().status, Status::kRead);
    ASSERT_TRUE(daemon.takeLock());
    EXPECT_EQ(reader.read().status, Status::kBusy) << "a lock taken again starts a new count";
    daemon.releaseLock();
}

TEST(ChannelReaderTest, LastSideToDetachRemovesTheSegment) {
    TestChannel daemon;
    ASSERT_TRUE(daemon.create());
    auto reader = std::make_unique<ChannelReader>(daemon.names);
    ASSERT_EQ(daemon.attachments(), 2);

    reader.reset();
    EXPECT_TRUE(daemon.segmentExists()) << "the daemon is still attached";
    EXPECT_EQ(daemon.attachments(), 1);

    reader = std::make_unique<ChannelReader>(daemon.names);
    daemon.detach();
    reader.reset();
    EXPECT_FALSE(daemon.segmentExists());
}

}  // namespace
}  // namespace hv::menu
