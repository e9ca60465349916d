// A guest as the start-up leaves it just before the guest runs: the bare
// guest of guestCall.h, the three registrars, platformInit and initGdi (so
// handles 1 to 5 exist), the fake engine with no calls recorded, and the log
// in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "peloader/program.h"
#include "errors.h"
#include "fakeEngine.h"
#include "guestCall.h"
#include "log.h"
#include "platform/gdi.h"
#include "platform/handle.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace platformTest {

constexpr uint32_t exportAddress = 0x401500;
// Where platformInit's two heap blocks land: the first heap block starts
// where the data block ends, the next on the following page.
constexpr uint32_t commandLineAddr = guestCall::heapStart;
constexpr uint32_t environmentAddr = guestCall::heapStart + 0x1000;
// A marker for "eax untouched".
constexpr uint32_t eaxBefore = 0xEAEAEAEA;

inline const peloader::Program& testProgram() {
    static const peloader::Program program(guestCall::codeStart, guestCall::stackSize, 4, 0, {}, "", {{"QuorlenExport", exportAddress}},
                                           {}, {}, peloader::TlsInfo{});
    return program;
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        logDir = std::filesystem::temp_directory_path() /
                 (std::string("platform_tests_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::create_directories(logDir);
        startGuest();
    }
    void TearDown() override {
        app::resetLogForTests();
        std::filesystem::remove_all(logDir);
        machine::resetMachineForTests();
    }

    // A fresh start-up (for tables whose rows must not see each other).
    void startGuest() {
        guestCall::layOutGuest();
        platform::resetHandlesForTests();
        platform::resetPlatformForTests();
        platform::resetGdiForTests();
        platform::resetWindowForTests();
        fakeEngine::reset();
        app::resetErrorsForTests();
        app::resetLogForTests();
        std::filesystem::remove(logDir / "log.txt");
        loggedLines.clear();
        app::initLog(logDir.string());
        platform::registerPlatformFunctions();
        platform::registerGdiFunctions();
        platform::registerWindowFunctions();
        platform::platformInit(testProgram());
        platform::initGdi();
        machine::state.eax = app::Val32{eaxBefore};
    }

    // Every line logged since startGuest.
    const std::vector<std::string>& logLines() {
        app::resetLogForTests();  // closes the file
        std::ifstream in(logDir / "log.txt");
        for (std::string line; std::getline(in, line);) loggedLines.push_back(line);
        std::filesystem::remove(logDir / "log.txt");
        app::initLog(logDir.string());
        return loggedLines;
    }

    std::filesystem::path logDir;
    std::vector<std::string> loggedLines;
};

}  // namespace platformTest
