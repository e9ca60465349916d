// The portable helpers of the program's start-up (module main, src/app/):
// the option and names it looks for, and what WinMain does with an exception
// that ends the run: the log line and the text and style of the one
// fatal-error box. Part of core, so that every package may use them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace app {

inline constexpr const char* dataFolderName = "Data";
inline constexpr const char* gameExecutableName = "Quorlen.exe";
// The code digest that the game executable must have, compared exactly.
inline constexpr const char* expectedCodeHash = "7a9e0b61e16682a96ae96dde68a6cfd5";
inline constexpr const char* vsyncOption = "-vsync";

// The arg is exactly "-vsync" (case-sensitive, whole string).
bool isVsyncOption(const std::string& arg);
// Some argument, the program path included, is "-vsync".
bool hasVsyncOption(const std::vector<std::string>& args);

// The folder part of a Windows or POSIX path, without a trailing separator
// except at a drive's root ("C:\\") or the root itself.
std::string directoryOf(const std::string& path);

// Runs body inside WinMain's error handler. Returns the user text of the
// fatal error that ended it (nothing when it returned normally): the kind's
// text for an AbortProgramException; ":(" for any other exception, which is
// first logged as "Unhandled exception: " and its description.
std::optional<std::string> runCatchingFatalErrors(const std::function<void()>& body);

// The arguments of the MessageBoxW call that reports a fatal error (no owner
// window).
struct FatalErrorBox {
    std::u16string text;
    std::u16string caption;
    uint32_t style;
};
FatalErrorBox fatalErrorBox(const std::string& userText);
// Shows the box of a fatal error through showBox. The log reaches the file
// first: the box sends the player to it, and a player who ends the process
// while the box is up would lose it otherwise.
void showFatalError(const std::string& userText, void (*showBox)(const FatalErrorBox& box));

}  // namespace app
