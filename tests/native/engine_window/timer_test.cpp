#include <gtest/gtest.h>

#include "engine/graphics.h"
#include "engine/timer.h"
#include "fakes.h"

namespace {

TEST(Clock, ConversionPaths) {
    struct Case {
        int64_t frequency, counter, ticks, multiplier, divider;
    };
    const Case cases[] = {
        {10000000, 123456789, 123456789, 1, 0},       // raw counter
        {1000000, 123456789, 1234567890, 10, 0},      // multiply
        {100000000, 123456789, 12345678, 0, 10},      // divide, truncating
        {3579545, 3579545, 10000000, 0, 0},           // one second by the factor
        {3579545, 1, 2, 0, 0},                        // 2.79 truncates to 2
        {3579545, 3579545LL * 3600, 36000000000, 0, 0},
    };
    for (const Case& c : cases) {
        engine::resetTimerForTests();
        engine::initTimerFrequency(c.frequency);
        EXPECT_EQ(engine::timerMultiplierForTests(), c.multiplier) << c.frequency;
        EXPECT_EQ(engine::timerDividerForTests(), c.divider) << c.frequency;
        EXPECT_EQ(engine::ticksFromCounter(c.counter), c.ticks) << c.frequency;
    }
}

// A clock that advances only when told, and a record of the waits.
struct FakeWait {
    static inline int64_t now = 0;
    static inline std::vector<int64_t> armed;     // due times
    static inline int messagesBeforeTimer = 0;    // wake-ups by messages
    static inline int pumps = 0;
    static inline bool quitOnPump = false;
    static inline int64_t sleepTo = 0;            // the clock when the timer fires

    static int64_t clock() { return now; }
    static void arm(int64_t due) {
        armed.push_back(due);
        sleepTo = now - due;  // due is negative: relative
    }
    static bool wait() {
        if (messagesBeforeTimer > 0) {
            --messagesBeforeTimer;
            return false;
        }
        now = sleepTo;
        return true;
    }
    static bool pump() {
        ++pumps;
        return quitOnPump;
    }
};
const engine::FrameWaiter waiter{FakeWait::clock, FakeWait::arm, FakeWait::wait, FakeWait::pump};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakes::startEngine({fakes::device("A", fakes::primary, 0, 0, 1920, 1080, 60)});
        FakeWait::now = 1000000;
        FakeWait::armed.clear();
        FakeWait::messagesBeforeTimer = 0;
        FakeWait::pumps = 0;
        FakeWait::quitOnPump = false;
    }
};

TEST_F(FrameTest, NoWaitBeforeTheFirstPoll) {
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_TRUE(FakeWait::armed.empty());
    EXPECT_FALSE(engine::frameScheduleStarted());
}

TEST_F(FrameTest, OnScheduleWaitsEndTwoTenthsOfAMillisecondEarly) {
    engine::startFrameSchedule(FakeWait::now);
    for (int frame = 1; frame <= 50; ++frame) {
        EXPECT_FALSE(engine::waitForFrame(waiter));
        // The wait ends 2,000 ticks early; the frame then takes exactly that.
        EXPECT_EQ(FakeWait::now, 1000000 + frame * 200000 - 2000);
        FakeWait::now += 2000;
    }
    EXPECT_EQ(FakeWait::armed.front(), -198000);  // target 20 ms ahead
    EXPECT_EQ(engine::frameCountForTests(), 50);
    // The 51st frame starts the next second.
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_EQ(engine::frameStartForTests(), 1000000 + 10000000);
    EXPECT_EQ(engine::frameCountForTests(), 1);
    EXPECT_EQ(FakeWait::now, 1000000 + 10000000 + 200000 - 2000);
}

TEST_F(FrameTest, LatenessUpToOneSlotKeepsTheSchedule) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::now += 200000 + 200000;  // frame 1's target is 20 ms ago
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_TRUE(FakeWait::armed.empty());
    EXPECT_EQ(engine::frameStartForTests(), 1000000);
    EXPECT_EQ(engine::frameCountForTests(), 1);
    // Frame 2 is due now: caught up without a wait.
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_TRUE(FakeWait::armed.empty());
    EXPECT_EQ(engine::frameCountForTests(), 2);
}

TEST_F(FrameTest, MoreThanOneSlotLateResynchronises) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::now += 200000 + 200001;  // 20.0001 ms late
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_TRUE(FakeWait::armed.empty());
    EXPECT_EQ(engine::frameStartForTests(), FakeWait::now);
    EXPECT_EQ(engine::frameCountForTests(), 0);
}

TEST_F(FrameTest, WaitsOnlyForMoreThanTwoThousandTicks) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::now += 200000 - 2000;  // 0.2 ms to go
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_TRUE(FakeWait::armed.empty());
    FakeWait::now += 200000 - 1;  // 0.2001 ms to go
    EXPECT_FALSE(engine::waitForFrame(waiter));
    ASSERT_EQ(FakeWait::armed.size(), 1u);
    EXPECT_EQ(FakeWait::armed[0], -1);
}

TEST_F(FrameTest, MessagesArePumpedUntilTheTimerFires) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::messagesBeforeTimer = 3;
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_EQ(FakeWait::pumps, 3);
    EXPECT_EQ(FakeWait::armed.size(), 1u);  // armed once, waited on again
}

TEST_F(FrameTest, QuitDuringTheWaitEndsIt) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::messagesBeforeTimer = 1;
    FakeWait::quitOnPump = true;
    EXPECT_TRUE(engine::waitForFrame(waiter));
    EXPECT_EQ(FakeWait::pumps, 1);
}

TEST_F(FrameTest, NoPacingWhileTheSwapIntervalPaces) {
    static bool swapped;
    engine::initSwapControl(1, engine::SwapControl{[](int32_t) { return swapped = true; }, nullptr, true});
    engine::setVSync(true);
    engine::startFrameSchedule(FakeWait::now);
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_EQ(engine::frameCountForTests(), 0);
    EXPECT_TRUE(FakeWait::armed.empty());
    engine::setVSync(false);
    EXPECT_FALSE(engine::waitForFrame(waiter));
    EXPECT_EQ(engine::frameCountForTests(), 1);
}

}  // namespace
