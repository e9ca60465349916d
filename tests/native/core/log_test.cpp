// The log file: when it exists, what a line looks like, and every named
// message with its values (the machine state dump's lines: the dump's test).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "log.h"

namespace {

namespace fs = std::filesystem;

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        app::resetLogForTests();
        char pattern[] = "/tmp/qz_log_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        app::resetLogForTests();
        fs::remove_all(folder);
    }
    std::string logPath() const { return folder + "/log.txt"; }
    // Closes the log, so that its buffered lines reach the file.
    std::string logText() {
        app::resetLogForTests();
        std::ifstream in(logPath(), std::ios::binary);
        if (!in) return "<missing>";
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string folder;
};

TEST_F(LogTest, LineBeforeInitLogIsLost) {
    app::log("too early");
    app::initLog(folder);
    app::log("kept");
    EXPECT_EQ(logText(), "kept\n");
}

TEST_F(LogTest, RunThatLogsNothingLeavesNoFileAndAnOlderOneUntouched) {
    app::initLog(folder);
    EXPECT_EQ(logText(), "<missing>");

    std::ofstream(logPath()) << "previous run\n";
    app::initLog(folder);
    EXPECT_EQ(logText(), "previous run\n");
}

TEST_F(LogTest, FirstLineOfARunTruncatesTheOldLog) {
    std::ofstream(logPath()) << "previous run\n";
    app::initLog(folder);
    app::log("new");
    EXPECT_EQ(logText(), "new\n");
}

TEST_F(LogTest, LinesAreTheTextUnchangedAndWarningsArePrefixed) {
    app::initLog(folder);
    app::log("first\nsecond");
    app::warning("careful");
    app::log("");
    EXPECT_EQ(logText(), "first\nsecond\nWarning: careful\n\n");
}

TEST_F(LogTest, FailedOpenDropsTheLineAndALaterLineOpensAgain) {
    const std::string dataDir = folder + "/Data";  // not there yet
    app::initLog(dataDir);
    app::log("dropped");
    EXPECT_FALSE(app::openLog());
    ASSERT_TRUE(fs::create_directory(dataDir));
    app::log("written");
    EXPECT_TRUE(app::openLog());
    app::resetLogForTests();
    std::ifstream in(dataDir + "/log.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "written");
    EXPECT_FALSE(std::getline(in, line));
}

struct Message {
    const char* name;
    std::function<void()> write;
    const char* line;
};

TEST_F(LogTest, NamedMessagesHaveTheirExactWording) {
    const Message messages[] = {
        {"aborted", [] { app::logProgramExecutionAborted("Unknown instruction at 0x401000"); },
         "Program execution aborted: Unknown instruction at 0x401000"},
        {"dll", [] { app::warnDllNameNotFound("ddraw.dll"); }, "Warning: DLL name not found: ddraw.dll"},
        {"export", [] { app::warnExportNameNotFound("Start"); },
         "Warning: GetProcAddress() export name not found: Start"},
        {"module", [] { app::warnModuleNotSupported(0xFFFFFFFF); },
         "Warning: GetProcAddress() module not supported: 4294967295"},
        {"function", [] { app::warnFunctionNotFoundInModule("Beep", "kernel32.dll"); },
         "Warning: GetProcAddress() function Beep not found in module kernel32.dll"},
        {"fpu", [] { app::logFpuControlWord(0xFFFF); }, "FPU cw: 0xffff"},
        {"address", [] { app::logInvalidAddress(0xE0000000); }, "Address is not valid: 0xe0000000"},
        {"opengl", [] { app::logOpenGLError(0xC0070000); }, "OpenGL error: 3221684224"},
    };
    std::string expected;
    app::initLog(folder);
    for (const Message& m : messages) {
        m.write();
        expected += std::string(m.line) + "\n";
    }
    EXPECT_EQ(logText(), expected);
}

}  // namespace
