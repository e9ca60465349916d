// The log file: when it exists, what a line looks like, and every named
// message with its values.
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

TEST_F(LogTest, JoinPathAddsOneSeparator) {
    EXPECT_EQ(app::joinPath("/a/Data", "log.txt"), "/a/Data/log.txt");
    EXPECT_EQ(app::joinPath("/a/Data/", "log.txt"), "/a/Data/log.txt");
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
        {"eip", [] { app::logEip(0x401000); }, "eip: 4198400 0x401000"},
        {"eax", [] { app::logEax(0xFFFFFFFF); }, "eax: 4294967295 0xffffffff"},
        {"ecx", [] { app::logEcx(0); }, "ecx: 0 0x0"},
        {"edx", [] { app::logEdx(0x80000000); }, "edx: 2147483648 0x80000000"},
        {"ebx", [] { app::logEbx(10); }, "ebx: 10 0xa"},
        {"esp", [] { app::logEsp(0x1FFFFC); }, "esp: 2097148 0x1ffffc"},
        {"ebp", [] { app::logEbp(1); }, "ebp: 1 0x1"},
        {"esi", [] { app::logEsi(0xABCDEF); }, "esi: 11259375 0xabcdef"},
        {"edi", [] { app::logEdi(0xF0000000); }, "edi: 4026531840 0xf0000000"},
        {"cf", [] { app::logCf(true); }, "cf: 1"},
        {"df", [] { app::logDf(false); }, "df: 0"},
        {"of", [] { app::logOf(true); }, "of: 1"},
        {"sf", [] { app::logSf(false); }, "sf: 0"},
        {"zf", [] { app::logZf(true); }, "zf: 1"},
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

TEST(Utf, ConversionsBothWays) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"Data", u"Data"},
        {"Donn\xC3\xA9" "es", u"Donn\u00E9es"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(app::utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
    }
}

TEST(Utf, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(app::utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(app::utf8ToUtf16("\xE6\x97"), u"\uFFFD\uFFFD");  // cut short
    EXPECT_EQ(app::utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(app::utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

}  // namespace
