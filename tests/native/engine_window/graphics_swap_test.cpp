#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/graphics.h"
#include "engine/window.h"
#include "errors.h"
#include "fakes.h"
#include "log.h"

namespace {

TEST(SwapInterval, ByRefreshRate) {
    struct Case {
        int32_t refreshRate, defaultInterval, vsyncInterval;
    };
    const Case cases[] = {{49, 0, -1},  {50, -1, -1},  {51, -1, -1},  {60, -1, -1},
                          {99, -1, -1}, {100, -1, -2}, {144, -1, -2}, {149, -1, -2},
                          {150, -1, -3}};
    for (const Case& c : cases) {
        fakes::startEngine({fakes::device("A", fakes::primary, 0, 0, 1920, 1080,
                                          static_cast<uint32_t>(c.refreshRate))});
        EXPECT_EQ(engine::swapIntervalDefault(), c.defaultInterval) << c.refreshRate;
        EXPECT_EQ(engine::swapIntervalVsync(), c.vsyncInterval) << c.refreshRate;
        EXPECT_EQ(engine::chooseSwapInterval(true, 0, c.refreshRate, true), c.defaultInterval);
        EXPECT_EQ(engine::chooseSwapInterval(true, 1, c.refreshRate, true), c.vsyncInterval);
        // Without adaptive swaps, the same number of refreshes.
        EXPECT_EQ(engine::chooseSwapInterval(true, 0, c.refreshRate, false), -c.defaultInterval);
        EXPECT_EQ(engine::chooseSwapInterval(true, 1, c.refreshRate, false), -c.vsyncInterval);
        EXPECT_EQ(engine::chooseSwapInterval(false, 1, c.refreshRate, true), 0);
    }
}

struct FakeSwap {
    static inline std::vector<int32_t> intervals;
    static inline bool refuse = false;
    static bool swapInterval(int32_t interval) {
        intervals.push_back(interval);
        return !refuse;
    }
    static uint32_t lastError() { return 2000; }
};

class SwapTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakes::startEngine({fakes::device("A", fakes::primary, 0, 0, 1920, 1080, 100)});
        FakeSwap::intervals.clear();
        FakeSwap::refuse = false;
    }
    void install(engine::SwapMode mode, bool tear) {
        engine::initSwapControl(mode, engine::SwapControl{FakeSwap::swapInterval, FakeSwap::lastError, tear});
    }
};

TEST_F(SwapTest, ModesAndIntervals) {
    struct Case {
        engine::SwapMode mode;
        bool tear, on;
        int32_t interval, activeMode;
    };
    const Case cases[] = {
        {0, true, true, -1, 0},  {1, true, true, -2, 1},  {0, false, true, 1, 0},
        {1, false, true, 2, 1},  {1, true, false, 0, 0},  {0, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        FakeSwap::intervals.clear();
        install(c.mode, c.tear);
        engine::setVSync(c.on);
        EXPECT_EQ(FakeSwap::intervals, std::vector<int32_t>{c.interval});
        EXPECT_EQ(engine::activeSwapMode(), c.activeMode);
    }
}

TEST_F(SwapTest, WithoutTheExtensionNothingIsCalled) {
    engine::initSwapControl(1, engine::SwapControl{nullptr, nullptr, false});
    engine::setVSync(true);
    EXPECT_EQ(engine::activeSwapMode(), 1);
    engine::setVSync(false);
    EXPECT_EQ(engine::activeSwapMode(), 0);
}

TEST_F(SwapTest, RefreshRateOfTheWindowsDisplayOrThePrimary) {
    fakes::startEngine({fakes::device("A", fakes::primary, 0, 0, 1920, 1080, 60),
                        fakes::device("B", fakes::attached, 1920, 0, 1920, 1080, 150)});
    fakes::windowMonitor = engine::Rect{1920, 0, 3840, 1080};
    EXPECT_EQ(engine::currentRefreshRate(), 150);
    fakes::windowMonitor = engine::Rect{7000, 0, 8000, 1000};
    EXPECT_EQ(engine::currentRefreshRate(), 60);
}

TEST_F(SwapTest, RefusedIntervalIsFatal) {
    install(1, true);
    FakeSwap::refuse = true;
    EXPECT_EQ(fakes::logOfGraphicsAbort("engine_swap_test", [] { engine::setVSync(true); }),
              "OpenGL error: 2000\nThere was an error when setting the swap interval\n");
}

}  // namespace
