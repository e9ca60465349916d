// The test game: accepted by its code digest (and refused without its digest
// bytes), then run by the program's own start-up from the native handlers on
// (registrars, guest image, guest process, GDI, viewport, the guest run and
// its end) against the recording fake engine. The whole log is compared with golden.log and the
// engine calls of the first frame with golden_frame.txt; with
// QZ_UPDATE_GOLDEN=1 in the environment the test writes both golden copies
// instead.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "peloader/loader.h"
#include "peloader/program.h"
#include "errors.h"
#include "fakeEngine.h"
#include "log.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "platform/gdi.h"
#include "platform/handle.h"
#include "platform/kelmGraphics.h"
#include "platform/kelmInput.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "app/main.h"
#include "startup.h"

namespace {

namespace fs = std::filesystem;

const fs::path gameDir{QZ_TESTGAME_DIR};
const fs::path goldenDir{QZ_GOLDEN_DIR};

fs::path gameExecutable(const std::string& variant = "") {
    if (variant.empty()) return gameDir / "Data" / "Quorlen.exe";
    return gameDir / "variants" / variant / "Data" / "Quorlen.exe";
}

std::unique_ptr<peloader::Program> loadGame(const std::string& variant = "") {
    return peloader::loadProgram(gameExecutable(variant).string());
}

std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void writeLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << '\n';
}

// Tells this process's log folders from those of another run of the suite.
const std::string& runId() {
    static const std::string id = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return id;
}

bool updatingGolden() {
    const char* value = std::getenv("QZ_UPDATE_GOLDEN");
    return value && std::string(value) == "1";
}

// Compares lines with the golden copy, or writes the copy when asked to.
void expectGolden(const std::vector<std::string>& lines, const std::string& goldenName) {
    const fs::path golden = goldenDir / goldenName;
    if (updatingGolden()) {
        writeLines(golden, lines);
        return;
    }
    const std::vector<std::string> want = readLines(golden);
    const size_t common = std::min(lines.size(), want.size());
    for (size_t i = 0; i < common; ++i)
        ASSERT_EQ(lines[i], want[i]) << goldenName << " line " << i + 1;
    EXPECT_EQ(lines.size(), want.size()) << goldenName << ": the run logged "
                                         << (lines.size() > want.size() ? lines[common] : "fewer lines");
}

// The CD picture's pixels, as the asset generator draws them: red x, green
// y, blue 3x + 7y (low bytes), stored 0xFFRRGGBB little-endian, top row first.
std::vector<uint8_t> cdPicturePixels() {
    std::vector<uint8_t> pixels;
    pixels.reserve(640 * 480 * 4);
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 640; ++x)
            for (uint32_t byte : {(3 * x + 7 * y) & 0xFF, y & 0xFF, x & 0xFF, 0xFFu})
                pixels.push_back(static_cast<uint8_t>(byte));
    return pixels;
}

class TestGameRun : public ::testing::Test {
protected:
    void SetUp() override {
        logDir = fs::temp_directory_path() /
                 ("testgame_" + runId() + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(logDir);
        fs::create_directories(logDir);
        machine::resetMachineForTests();
        machine::resetX87ForTests();
        platform::resetHandlesForTests();
        platform::resetPlatformForTests();
        platform::resetGdiForTests();
        platform::resetWindowForTests();
        platform::resetKelmGraphicsForTests();
        platform::resetKelmInputForTests();
        app::resetErrorsForTests();
        app::resetLogForTests();
        fakeEngine::reset();
        app::initLog(logDir.string());

        // What the game finds: its pictures, Enter held, the left button
        // held at the picture's centre, so that its input phase ends at its
        // first frame.
        fakeEngine::addImage("Data\\pictures\\road.bmp", 256, 64);
        fakeEngine::addImage("Data\\pictures\\sprite.bmp", 30, 30);
        fakeEngine::addImage("Data\\pictures\\odd.bmp", 37, 23);
        fakeEngine::addImage("Data\\pictures\\CD07.bmp", 640, 480, cdPicturePixels());
        fakeEngine::keys()[0x1C] = 1;
        fakeEngine::setMouseButtons(true, false);
        fakeEngine::setCursorPosition(320, 240, true);
    }
    void TearDown() override {
        app::resetLogForTests();
        fs::remove_all(logDir);
        machine::resetMachineForTests();
    }

    // The program's start-up from the accepted executable on
    // (app::runGuestProgram). The host's quit comes at the PeekMessageA poll
    // after inputFrames frames of the input phase (the game polls once in its
    // window tests and once a frame: 3 frames, then the input phase). Returns
    // the log; the kind of a fatal error that ended the run is left in
    // fatalError.
    std::vector<std::string> runGame(const std::string& variant = "", int inputFrames = 1) {
        for (int poll = 0; poll < 1 + 3 + inputFrames; ++poll) fakeEngine::scriptProcessMessages({false});
        fakeEngine::scriptProcessMessages({true});
        program = loadGame(variant);
        if (!program || program->codeHash != app::expectedCodeHash) {
            ADD_FAILURE() << "the start-up would refuse " << gameExecutable(variant);
            return {};
        }
        fatalError.reset();
        try {
            app::runGuestProgram(*program);
        } catch (const app::AbortProgramException& error) {
            fatalError = error.type;
        }
        app::resetLogForTests();  // closes the file
        return readLines(logDir / "log.txt");
    }

    fs::path logDir;
    std::unique_ptr<peloader::Program> program;
    std::optional<app::ErrorType> fatalError;
};

// The lines from the first one that starts with prefix.
std::vector<std::string> fromLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].compare(0, prefix.size(), prefix) == 0)
            return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(i), lines.end());
    return {};
}

std::string lastLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->compare(0, prefix.size(), prefix) == 0) return *line;
    return "";
}

std::string logText(const std::vector<std::string>& lines) {
    std::string text = "log:\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

const std::string checkPrefix = "Warning: GetProcAddress() export name not found: ";

}  // namespace

TEST(TestGameImage, IsAcceptedByItsDigestAndReadAsWritten) {
    std::unique_ptr<peloader::Program> game = loadGame();
    ASSERT_TRUE(game) << gameExecutable();
    EXPECT_EQ(game->codeHash, app::expectedCodeHash);
    EXPECT_EQ(game->entryPoint, 0x401000u);
    EXPECT_EQ(game->stackReserve, 0x100000u);  // the stack ends below the image
    ASSERT_EQ(game->sections.size(), 3u);
    EXPECT_EQ(game->sections[0].address, 0x401000u);
    EXPECT_TRUE(game->sections[0].isCode);
    EXPECT_EQ(game->sections[1].address, 0x410000u);
    EXPECT_EQ(game->sections[2].address, 0x413000u);
    const peloader::Imports& imports = game->imports();
    for (const char* dll : {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "WINMM.DLL"})
        EXPECT_TRUE(imports.count(dll)) << dll;
    EXPECT_EQ(imports.at("KERNEL32.DLL").size(), 18u);  // 17 emulated, one unbound
    EXPECT_TRUE(imports.at("KERNEL32.DLL").count("Sleep"));
    EXPECT_EQ(imports.at("USER32.DLL").size(), 13u);
    EXPECT_EQ(game->exportsByName().size(), 1u);
    EXPECT_TRUE(game->exportsByName().count("QuorlenExport"));
    EXPECT_TRUE(game->tls.present);
    EXPECT_EQ(game->tls.size, 16u);
    EXPECT_EQ(game->tls.zeroFillSize, 16u);
}

TEST(TestGameImage, EveryVariantCarriesTheDigestAndTheUnforgedBuildDoesNot) {
    for (const char* variant : {"raise", "unbound", "badop", "return", "missingpic"}) {
        std::unique_ptr<peloader::Program> game = loadGame(variant);
        ASSERT_TRUE(game) << variant;
        EXPECT_EQ(game->codeHash, app::expectedCodeHash) << variant;
    }
    std::unique_ptr<peloader::Program> unforged = loadGame("unforged");
    ASSERT_TRUE(unforged);  // a good PE file, refused by the start-up for its digest
    EXPECT_NE(unforged->codeHash, app::expectedCodeHash);
}

TEST_F(TestGameRun, ScriptedRunMatchesTheGoldenLog) {
    std::vector<std::string> lines = runGame();
    EXPECT_FALSE(machine::state.executionFailed) << logText(lines);
    EXPECT_FALSE(fatalError);
    EXPECT_TRUE(machine::state.exitRequested);  // ended by ExitProcess
    // The viewport is set once, before the guest's first engine call.
    EXPECT_EQ(fakeEngine::callsOf("initViewport").size(), 1u);
    ASSERT_FALSE(fakeEngine::calls().empty());
    EXPECT_EQ(fakeEngine::calls().front(), "initViewport()");
    const std::string summary = lastLineStarting(lines, checkPrefix + "SUMMARY");
    ASSERT_FALSE(summary.empty());
    EXPECT_TRUE(summary.ends_with(" checks, 0 failed")) << summary;
    for (const std::string& line : lines)
        EXPECT_EQ(line.find(" FAIL"), std::string::npos) << line;
    expectGolden(lines, "golden.log");
}

// With no input the input phase waits its whole 150 frames; this is the log
// that a run under Wine without a key tap or click gives from its first
// CHECK line on.
TEST_F(TestGameRun, RunWithoutInputMatchesItsGoldenLog) {
    fakeEngine::keys()[0x1C] = 0;
    fakeEngine::setMouseButtons(false, false);
    std::vector<std::string> lines = runGame("", 150);
    EXPECT_FALSE(machine::state.executionFailed) << logText(lines);
    EXPECT_EQ(fakeEngine::callsOf("swapBuffers").size(), 1u + 3 + 150);
    expectGolden(lines, "golden_noinput.log");
}

TEST_F(TestGameRun, FirstFrameMatchesTheGoldenEngineTrace) {
    runGame();
    std::vector<std::string> frame;
    bool inFrame = false;
    for (const std::string& call : fakeEngine::calls()) {
        if (call == "clearScreen()") inFrame = true;
        if (!inFrame) continue;
        frame.push_back(call);
        if (call == "swapBuffers()") break;
    }
    expectGolden(frame, "golden_frame.txt");
}

TEST_F(TestGameRun, QuitDuringTheFrameWaitEndsTheRunWithoutASwap) {
    fakeEngine::scriptWaitForNextFrame({false, true});  // the window closes during the second frame
    std::vector<std::string> lines = runGame();
    EXPECT_FALSE(machine::state.executionFailed) << logText(lines);
    EXPECT_TRUE(machine::state.exitRequested);
    EXPECT_EQ(fakeEngine::callsOf("swapBuffers").size(), 1u);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), checkPrefix + "CHECK TextOutA ok");  // the first frame's last check
}

TEST_F(TestGameRun, VariantsEndAsTheirLogSays) {
    struct Case {
        const char* variant;
        const char* lastGameLine;  // the line after the summary, or "" for none
        bool failed;
    };
    const Case cases[] = {
        {"raise", "Program execution aborted: The program raised an exception", true},
        {"badop", "Program execution aborted: Unknown instruction byte 0xc9 at address 0x4044a0", true},
        {"return", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant);
        TearDown();
        SetUp();
        std::vector<std::string> tail = fromLineStarting(runGame(c.variant), checkPrefix + "SUMMARY");
        ASSERT_FALSE(tail.empty());
        EXPECT_EQ(machine::state.executionFailed, c.failed);
        if (c.failed) {
            // The dump in between, then the fatal error of kind program.
            EXPECT_EQ(fatalError, app::ErrorType::program);
            EXPECT_EQ(tail.back(), "VM execution error");
        } else {
            EXPECT_FALSE(fatalError);
        }
        if (c.lastGameLine[0]) {
            ASSERT_GE(tail.size(), 2u);
            EXPECT_EQ(tail[1], c.lastGameLine);
        } else {
            EXPECT_EQ(tail.size(), 1u);
            EXPECT_FALSE(machine::state.exitRequested);  // it returned from its entry point
        }
    }
}

TEST_F(TestGameRun, CallThroughTheUnboundImportStopsAtItsSlot) {
    std::vector<std::string> tail = fromLineStarting(runGame("unbound"), checkPrefix + "SUMMARY");
    ASSERT_GE(tail.size(), 2u);
    const uint32_t slot = program->imports().at("KERNEL32.DLL").at("Sleep");
    EXPECT_EQ(tail[1], app::format("Program execution aborted: Unable to read instruction outside of "
                                   "code memory block. eip = 0x%x",
                                   slot));
}

// The engine's abort passes the guest run's handler: no dump, no "VM
// execution error".
TEST_F(TestGameRun, MissingPictureEndsTheProgramWithoutADump) {
    std::vector<std::string> lines = runGame("missingpic");
    EXPECT_EQ(fatalError, app::ErrorType::fileSystem);
    EXPECT_FALSE(machine::state.executionFailed);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Unable to load image file '", 0), 0u) << lines.back();
}
