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
    static inline bool waitFails = false;
    static inline bool armFails = false;

    static int64_t clock() { return now; }
    static bool arm(int64_t due) {
        armed.push_back(due);
        sleepTo = now - due;  // due is negative: relative
        return !armFails;
    }
    static engine::FrameWake wait() {
        if (messagesBeforeTimer > 0) {
            --messagesBeforeTimer;
            return engine::FrameWake::message;
        }
        if (waitFails) return engine::FrameWake::failed;
        now = sleepTo;
        return engine::FrameWake::timer;
    }
    static bool pump() {
        ++pumps;
        return quitOnPump;
    }
    static uint32_t lastError() { return 6; }  // ERROR_INVALID_HANDLE
};
const engine::FrameWaiter waiter{FakeWait::clock, FakeWait::arm, FakeWait::wait, FakeWait::pump,
                                 FakeWait::lastError};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakes::startEngine({fakes::device("A", fakes::primary, 0, 0, 1920, 1080, 60)});
        FakeWait::now = 1000000;
        FakeWait::armed.clear();
        FakeWait::messagesBeforeTimer = 0;
        FakeWait::pumps = 0;
        FakeWait::quitOnPump = false;
        FakeWait::waitFails = false;
        FakeWait::armFails = false;
    }
    void TearDown() override { app::resetErrorsForTests(); }
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

TEST_F(FrameTest, FailedWaitEndsTheProgramInsteadOfSpinning) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::messagesBeforeTimer = 1;
    FakeWait::waitFails = true;
    EXPECT_EQ(fakes::logOfAbort("engine_frame_wait_test", app::ErrorType::program,
                                [] { engine::waitForFrame(waiter); }),
              "MsgWaitForMultipleObjects failed: error 6\n");
    EXPECT_EQ(FakeWait::pumps, 1);  // the message before the failure
}

TEST_F(FrameTest, TimerThatCannotBeArmedEndsTheProgramBeforeAnyWait) {
    engine::startFrameSchedule(FakeWait::now);
    FakeWait::armFails = true;
    FakeWait::messagesBeforeTimer = 1;
    EXPECT_EQ(fakes::logOfAbort("engine_frame_arm_test", app::ErrorType::program,
                                [] { engine::waitForFrame(waiter); }),
              "SetWaitableTimer failed: error 6\n");
    EXPECT_EQ(FakeWait::pumps, 0);
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

// The frame timer: which kind is made, and what follows when none can be.
struct FakeTimers {
    static inline bool highResolutionRefused = false;
    static inline bool plainRefused = false;
    static inline uint32_t error = 0;
    static inline std::vector<std::string> calls;
    static inline int highResolutionTimer = 0, plainTimer = 0;  // their addresses are the handles

    static void* highResolution() {
        calls.push_back("high resolution");
        if (!highResolutionRefused) return &highResolutionTimer;
        error = 87;  // ERROR_INVALID_PARAMETER: the flag is unknown
        return nullptr;
    }
    static void* plain() {
        calls.push_back("plain");
        if (!plainRefused) return &plainTimer;
        error = 1450;  // ERROR_NO_SYSTEM_RESOURCES
        return nullptr;
    }
    static uint32_t lastError() { return error; }
};
const engine::TimerFactory timerFactory{FakeTimers::highResolution, FakeTimers::plain,
                                        FakeTimers::lastError};

TEST(FrameTimer, HighResolutionWhereTheSystemHasItElseThePlainTimer) {
    struct Case {
        bool highResolutionRefused;
        void* handle;
        bool highResolution;
        std::vector<std::string> calls;
    } cases[] = {
        {false, &FakeTimers::highResolutionTimer, true, {"high resolution"}},
        {true, &FakeTimers::plainTimer, false, {"high resolution", "plain"}},
    };
    for (const Case& c : cases) {
        FakeTimers::highResolutionRefused = c.highResolutionRefused;
        FakeTimers::plainRefused = false;
        FakeTimers::calls.clear();
        engine::FrameTimer timer = engine::createFrameTimer(timerFactory);
        EXPECT_EQ(timer.handle, c.handle) << c.highResolutionRefused;
        EXPECT_EQ(timer.highResolution, c.highResolution) << c.highResolutionRefused;
        EXPECT_EQ(FakeTimers::calls, c.calls) << c.highResolutionRefused;
    }
}

TEST(FrameTimer, NoTimerAtAllEndsTheProgramWithTheCallAndItsError) {
    FakeTimers::highResolutionRefused = true;
    FakeTimers::plainRefused = true;
    EXPECT_EQ(fakes::logOfAbort("engine_frame_timer_test", app::ErrorType::program,
                                [] { engine::createFrameTimer(timerFactory); }),
              "CreateWaitableTimerW failed: error 1450\n");
    app::resetErrorsForTests();
}

}  // namespace
