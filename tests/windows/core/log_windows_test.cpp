// The log on Windows: text mode (CR LF) and folders with non-ASCII names.
#include <gtest/gtest.h>

#include "files.h"
#include "log.h"
#include "windowsTestSupport.h"

namespace {

class LogWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { app::resetLogForTests(); }
    void TearDown() override { app::resetLogForTests(); }
    // Closes the log so that its buffered lines reach the file.
    std::string logText(const std::string& folder) {
        app::resetLogForTests();
        return wintest::readFile(folder + "\\log.txt");
    }
};

TEST_F(LogWindowsTest, LinesEndInCrLfAndLineFeedsInsideBecomeCrLf) {
    wintest::TempFolder folder("log_crlf");
    app::initLog(folder.path());
    app::log("Unable to load Quorlen.exe");
    app::log("first\nsecond");
    app::warning("careful");
    EXPECT_EQ(logText(folder.path()),
              "Unable to load Quorlen.exe\r\nfirst\r\nsecond\r\nWarning: careful\r\n");
}

TEST_F(LogWindowsTest, FolderWithNonAsciiNameKeepsItsLog) {
    // "Données ß 日本 😀": Latin-1, CJK and a character outside the BMP.
    wintest::TempFolder folder("log_\x44\x6F\x6E\x6E\xC3\xA9\x65\x73 \xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
    app::initLog(folder.path());
    app::log("kept");
    EXPECT_EQ(logText(folder.path()), "kept\r\n");
}

TEST_F(LogWindowsTest, FilesOpenByUtf8PathWithNonAsciiName) {
    wintest::TempFolder folder("open_\xC3\xA9\xE6\x97\xA5");
    const std::string path = folder.path() + "\\\xC3\xA9t\xC3\xA9.bin";
    std::FILE* file = app::openFile(path, "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("a\nb", file);
    std::fclose(file);
    EXPECT_EQ(wintest::readFile(path), "a\nb");  // binary mode keeps line feeds
}

}  // namespace
