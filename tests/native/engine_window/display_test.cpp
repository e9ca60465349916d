#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/display.h"
#include "errors.h"
#include "fakes.h"
#include "log.h"

namespace {

using fakes::attached;
using fakes::device;
using fakes::primary;

TEST(DisplayAcceptance, SizeAndRefreshThresholds) {
    struct Case {
        uint32_t width, height, refreshRate;
        bool acceptedWithoutVsync, acceptedWithVsync;
    };
    const Case cases[] = {
        {640, 480, 10, true, false},
        {640, 480, 19, true, false},
        {640, 480, 20, true, true},
        {640, 479, 60, false, false},
        {639, 480, 60, false, false},
        {640, 480, 0, false, false},  // hardware default
        {640, 480, 1, false, false},
        {1920, 1080, 144, true, true},
        {0, 0, 0, false, false},  // mode could not be read
    };
    for (const Case& c : cases) {
        engine::DisplayMode mode{0, 0, c.width, c.height, c.refreshRate};
        EXPECT_EQ(engine::isModeAccepted(mode, false), c.acceptedWithoutVsync)
            << c.width << "x" << c.height << "@" << c.refreshRate;
        EXPECT_EQ(engine::isModeAccepted(mode, true), c.acceptedWithVsync)
            << c.width << "x" << c.height << "@" << c.refreshRate << " -vsync";
    }
}

TEST(DisplayEnumeration, PrimaryFirstOthersInOrder) {
    fakes::startEngine({device("A", attached, -1920, 0, 1920, 1080, 60),
                        device("B", attached, 1920, 0, 1280, 1024, 75),
                        device("C", primary, 0, 0, 2560, 1440, 144)});
    const auto& list = engine::displayList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->x, 0);
    EXPECT_EQ(list[0]->refreshRate, 144);
    EXPECT_EQ(list[1]->x, -1920);
    EXPECT_EQ(list[2]->x, 1920);
    EXPECT_EQ(engine::primaryDisplay(), list[0]);
    EXPECT_TRUE(engine::hasMultipleDisplays());
}

TEST(DisplayEnumeration, FieldsFromModeAndWorkArea) {
    fakes::startEngine({device("A", primary, 100, 200, 1920, 1080, 60)});
    engine::DisplayRef d = engine::primaryDisplay();
    EXPECT_EQ(d->x, 100);
    EXPECT_EQ(d->y, 200);
    EXPECT_EQ(d->width, 1920);
    EXPECT_EQ(d->height, 1080);
    EXPECT_EQ(d->workX, 100);
    EXPECT_EQ(d->workY, 200);
    EXPECT_EQ(d->workWidth, 1920);
    EXPECT_EQ(d->workHeight, 1040);
    EXPECT_EQ(d->refreshRate, 60);
}

TEST(DisplayEnumeration, RejectedOrDetachedDevicesAreSkipped) {
    // The primary device is too small; a detached device would qualify.
    fakes::startEngine({device("P", primary, 0, 0, 600, 400, 60),
                        device("D", 0, 3000, 0, 1920, 1080, 60),
                        device("S", attached, 1920, 0, 1024, 768, 60)});
    ASSERT_EQ(engine::displayList().size(), 1u);
    EXPECT_EQ(engine::primaryDisplay()->x, 1920);
    EXPECT_FALSE(engine::hasMultipleDisplays());
}

TEST(DisplayEnumeration, MissingMonitorLeavesZeroWorkArea) {
    fakes::FakeDevice d = device("A", primary, 0, 0, 800, 600, 60);
    d.mode.x = 5;  // no monitor at the mode's position
    fakes::startEngine({d});
    EXPECT_EQ(engine::primaryDisplay()->workWidth, 0);
    EXPECT_EQ(engine::primaryDisplay()->workHeight, 0);
}

TEST(DisplayEnumeration, NoCapableDisplayIsFatal) {
    app::resetErrorsForTests();
    fakes::devices = {device("A", primary, 0, 0, 640, 480, 10)};
    EXPECT_EQ(fakes::logOfGraphicsAbort("engine_display_test",
                                        [] { engine::initDisplays(true, fakes::displaySource); }),
              "No capable displays found\n");
    EXPECT_THROW(engine::primaryDisplay(), app::RangeError);
}

TEST(DisplayEnumeration, ReenumerationKeepsTheThresholdAndOldObjects) {
    fakes::startEngine({device("A", primary, 0, 0, 1024, 768, 15)}, false);
    engine::DisplayRef before = engine::primaryDisplay();
    fakes::devices.push_back(device("B", attached, 1024, 0, 1024, 768, 12));
    engine::enumerateDisplays();
    EXPECT_EQ(engine::displayList().size(), 2u);  // 12 Hz still passes without -vsync
    EXPECT_NE(engine::primaryDisplay(), before);
    EXPECT_EQ(before->refreshRate, 15);
}

TEST(DisplayForWindow, MatchesTopLeftCornerOnly) {
    fakes::startEngine({device("A", primary, 0, 0, 1920, 1080, 60),
                        device("B", attached, 1920, 0, 1920, 1080, 50),
                        device("R", attached, 3840, 0, 1920, 1080, 0)});  // rejected
    fakes::windowMonitor = engine::Rect{1920, 0, 1921, 1};  // size not compared
    ASSERT_NE(engine::displayForWindow(nullptr), nullptr);
    EXPECT_EQ(engine::displayForWindow(nullptr)->refreshRate, 50);
    fakes::windowMonitor = engine::Rect{3840, 0, 5760, 1080};
    EXPECT_EQ(engine::displayForWindow(nullptr), nullptr);
    fakes::windowMonitor = engine::Rect{0, 1, 1920, 1080};
    EXPECT_EQ(engine::displayForWindow(nullptr), nullptr);
}

}  // namespace
