// The Wine harness that every Windows test runs under: its display must look
// like a real monitor to the program's display choice.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(WineHarness, DisplayReportsSixtyHertzAndAFullHdMode) {
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_EQ(mode.dmDisplayFrequency, 60u);  // plain Xvfb would report 0
    EXPECT_EQ(mode.dmPelsWidth, 1920u);
    EXPECT_EQ(mode.dmPelsHeight, 1080u);
}

}  // namespace
