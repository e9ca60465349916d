// getArgs and getExecutableDir, seen by a probe program started from a
// non-ASCII path. (Long program paths: executable_dir_test.sh.)
#include <gtest/gtest.h>

#include <vector>

#include "app/main.h"
#include "windowsTestSupport.h"

namespace {

std::string testProgramDir() { return app::getExecutableDir(); }

struct ProbeResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // or what failed
};

// Copies core_probe.exe to exePath and runs it with the given command line.
ProbeResult runProbe(const std::string& exePath, const std::string& commandLine,
                     const std::string& outPath) {
    ProbeResult result;
    std::wstring source = wintest::wide(testProgramDir() + "\\core_probe.exe");
    if (!CopyFileW(source.c_str(), wintest::wide(exePath).c_str(), FALSE)) {
        result.output = "CopyFileW failed: " + std::to_string(GetLastError());
        return result;
    }
    SetEnvironmentVariableW(L"QZ_PROBE_OUT", wintest::wide(outPath).c_str());
    std::wstring application = wintest::wide(exePath);
    std::wstring command = wintest::wide(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        result.output = "CreateProcessW failed: " + std::to_string(GetLastError());
        return result;
    }
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.output = wintest::readFile(outPath);
    return result;
}

TEST(GetArgsTest, SplitsLikeCommandLineToArgvAndGivesUtf8) {
    // "Ünï" and "日本" reach the program as UTF-8; quotes group and escape.
    wintest::TempFolder temp("args_\xC3\xA9");
    const std::string exePath = temp.path() + "\\\xE6\x97\xA5 probe.exe";
    ProbeResult result = runProbe(
        exePath,
        "\"" + exePath + "\" -vsync \"a b\" \xC3\x9Cn\xC3\xAF \"say \\\"hi\\\"\" \xE6\x97\xA5\xE6\x9C\xAC \"\"",
        temp.path() + "\\out.txt");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_EQ(result.output, exePath + "\n-vsync\na b\n\xC3\x9Cn\xC3\xAF\nsay \"hi\"\n\xE6\x97\xA5\xE6\x9C\xAC\n\ndir=" +
                                 temp.path() + "\n");
}

}  // namespace
