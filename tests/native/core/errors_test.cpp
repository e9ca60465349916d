// Fatal errors: raising, deferring, and what WinMain makes of an exception
// that ends the run (its log line and the box it shows).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "errors.h"
#include "log.h"
#include "startup.h"
#include "types.h"

namespace {

namespace fs = std::filesystem;

class ErrorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        app::resetLogForTests();
        app::resetErrorsForTests();
        char pattern[] = "/tmp/qz_errors_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        app::initLog(folder);
    }
    void TearDown() override {
        app::resetLogForTests();
        app::resetErrorsForTests();
        fs::remove_all(folder);
    }
    std::string logText() {
        app::resetLogForTests();
        std::ifstream in(folder + "/log.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string folder;
};

TEST_F(ErrorsTest, AbortProgramLogsTheTextAndRaisesTheKind) {
    try {
        app::abortProgram(app::ErrorType::graphicsHardwareUnsupported, "No capable displays found");
        FAIL() << "abortProgram returned";
    } catch (const app::AbortProgramException& e) {
        EXPECT_EQ(e.type, app::ErrorType::graphicsHardwareUnsupported);
        EXPECT_EQ(e.describe(), "AbortProgramException@errors(28): graphicsHardwareUnsupported");
    }
    EXPECT_EQ(logText(), "No capable displays found\n");
    // The kind stays pending for the pump's next check.
    try {
        app::checkAbort();
        FAIL() << "checkAbort did not raise";
    } catch (const app::AbortProgramException& e) {
        EXPECT_EQ(e.type, app::ErrorType::graphicsHardwareUnsupported);
    }
}

TEST_F(ErrorsTest, CheckAbortWithNothingPendingDoesNothing) {
    EXPECT_NO_THROW(app::checkAbort());
    EXPECT_EQ(logText(), "");
}

TEST_F(ErrorsTest, DeferAbortLogsAndRecordsProgramReplacingAnEarlierKind) {
    EXPECT_THROW(app::abortProgram(app::ErrorType::fileSystem, "Unable to load Font.png"),
                 app::AbortProgramException);
    app::deferAbort("Exception occurred in window message handler",
                    app::ProgramException("Unsupported argument").describe());
    for (int check = 0; check < 2; ++check) {  // never cleared: every check raises
        try {
            app::checkAbort();
            FAIL() << "checkAbort did not raise";
        } catch (const app::AbortProgramException& e) {
            EXPECT_EQ(e.type, app::ErrorType::program);
            EXPECT_EQ(e.message(), "program");
        }
    }
    EXPECT_EQ(logText(),
              "Unable to load Font.png\n"
              "Exception occurred in window message handler\n"
              "ProgramException@types(10): Unsupported argument\n");
}

struct FatalCase {
    const char* name;
    std::function<void()> body;
    const char* userText;
    const char* logLines;
};

TEST_F(ErrorsTest, WinMainHandlerMapsEachExceptionToUserTextAndLogLines) {
    const FatalCase cases[] = {
        {"abort fileSystem",
         [] { app::abortProgram(app::ErrorType::fileSystem, "Unable to load Quorlen.exe"); },
         "Check the game is installed properly.", "Unable to load Quorlen.exe\n"},
        {"abort graphics", [] { throw app::AbortProgramException(app::ErrorType::graphicsHardwareUnsupported); },
         "This game does not have support for your graphics hardware.", ""},
        {"abort program", [] { throw app::AbortProgramException(app::ErrorType::program); }, ":(", ""},
        {"program exception outside the guest run",
         [] { throw app::ProgramException("Unsupported argument"); }, ":(",
         "Unhandled exception: ProgramException@types(10): Unsupported argument\n"},
        {"range error", [] { throw app::RangeError("index 9 out of range", "memory", 12); }, ":(",
         "Unhandled exception: RangeError@memory(12): index 9 out of range\n"},
        {"standard exception", [] { throw std::out_of_range("vector index"); }, ":(",
         "Unhandled exception: std::out_of_range: vector index\n"},
        {"anything else", [] { throw 42; }, ":(", "Unhandled exception: unknown exception\n"},
    };
    for (const FatalCase& c : cases) {
        SCOPED_TRACE(c.name);
        app::resetLogForTests();
        fs::remove(folder + "/log.txt");
        app::initLog(folder);
        std::optional<std::string> userText = app::runCatchingFatalErrors(c.body);
        ASSERT_TRUE(userText.has_value());
        EXPECT_EQ(*userText, c.userText);
        app::resetLogForTests();
        std::ifstream in(folder + "/log.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), c.logLines);
    }
}

TEST_F(ErrorsTest, RunThatEndsNormallyShowsNoBox) {
    bool ran = false;
    EXPECT_EQ(app::runCatchingFatalErrors([&] { ran = true; }), std::nullopt);
    EXPECT_TRUE(ran);
    EXPECT_EQ(logText(), "");
}

// What the box callback found: the log file as it was on disk, and the box.
struct SeenByTheBox {
    static inline std::string logFile;
    static inline std::string onDisk;
    static inline std::u16string text;
    static void show(const app::FatalErrorBox& box) {
        std::ifstream in(logFile, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        onDisk = content.str();
        text = box.text;
    }
};

TEST_F(ErrorsTest, LogIsOnDiskWhileTheBoxIsUp) {
    std::optional<std::string> userText = app::runCatchingFatalErrors(
        [] { app::abortProgram(app::ErrorType::fileSystem, "Unable to load Quorlen.exe"); });
    ASSERT_TRUE(userText.has_value());
    SeenByTheBox::logFile = folder + "/log.txt";
    app::showFatalError(*userText, SeenByTheBox::show);  // the log is still open
    EXPECT_EQ(SeenByTheBox::onDisk, "Unable to load Quorlen.exe\n");
    EXPECT_EQ(SeenByTheBox::text,
              u"An error occurred and the program will now exit. Check the game is installed properly.");
}

TEST(FatalErrorBox, TextCaptionAndStyle) {
    app::FatalErrorBox box = app::fatalErrorBox("Check the game is installed properly.");
    EXPECT_EQ(box.text, u"An error occurred and the program will now exit. Check the game is installed properly.");
    EXPECT_EQ(box.caption, u"Quorlen Ziradeva");
    EXPECT_EQ(box.style, 0x10010u);  // MB_ICONERROR | MB_SETFOREGROUND
    EXPECT_EQ(app::fatalErrorBox(":(").text, u"An error occurred and the program will now exit. :(");
}

}  // namespace
