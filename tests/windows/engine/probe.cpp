// The engine test program: starts the engine as the program's start-up does,
// then runs a scripted loop of pump, wait, draw and swap, logging the input
// state of every frame. Integer formatting only: the loop stands for the
// guest's, during which the x87 unit must not change.
//
//   engine_probe.exe [-vsync] [-frames=N] [-quit-after=N] [-refuse-window]
//
// -refuse-window makes the system refuse to create the main window.
//
// The log is "Data/log.txt" beside the executable, as the program's own.
#include <windows.h>
#include <shellapi.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/display.h"
#include "engine/graphics.h"
#include "engine/timer.h"
#include "engine/window.h"
#include "errors.h"
#include "files.h"
#include "glwh/glwh.h"
#include "log.h"
#include "startup.h"
#include "types.h"

namespace {

struct Options {
    bool vsync = false;
    int32_t frames = 0;     // 0: until a quit message
    int32_t quitAfter = 0;  // quitWindow after this frame (0: never)
    bool refuseWindow = false;
};

std::vector<std::string> commandLineArgs() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        args.push_back(app::utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    }
    LocalFree(argv);
    return args;
}

std::string executableDir() {
    wchar_t path[4096];
    DWORD length = GetModuleFileNameW(nullptr, path, 4096);
    std::u16string text(reinterpret_cast<const char16_t*>(path), length);
    return app::directoryOf(app::utf16ToUtf8(text));
}

int32_t numberAfter(const std::string& arg, const std::string& prefix) {
    return static_cast<int32_t>(std::stol(arg.substr(prefix.size())));
}

Options parseOptions(const std::vector<std::string>& args) {
    Options options;
    for (const std::string& arg : args) {
        if (app::isVsyncOption(arg)) options.vsync = true;
        if (arg.rfind("-frames=", 0) == 0) options.frames = numberAfter(arg, "-frames=");
        if (arg.rfind("-quit-after=", 0) == 0) options.quitAfter = numberAfter(arg, "-quit-after=");
        if (arg == "-refuse-window") options.refuseWindow = true;
    }
    return options;
}

// What the game reads right after its message poll, as its input hooks do.
struct FrameInput {
    std::array<uint8_t, 6> keys;
    bool left, right;
    int32_t x, y;
    bool onPicture;
};

FrameInput readInput() {
    FrameInput input{};
    std::span<uint8_t, 256> keys = engine::keyStates();
    input.keys = {keys[1], keys[59], keys[28], keys[2], keys[3], keys[4]};
    engine::getMouseButtons(input.left, input.right);
    input.onPicture = engine::getCursorPosition(input.x, input.y);
    return input;
}

void logFrame(int32_t frame, const FrameInput& input, int64_t time) {
    app::log(app::format(
        "frame %d time %lld keys %d %d %d %d %d %d buttons %d %d cursor %d %d %d fullscreen %d",
        frame, static_cast<long long>(time), input.keys[0], input.keys[1], input.keys[2],
        input.keys[3], input.keys[4], input.keys[5], input.left, input.right, input.x, input.y,
        input.onPicture, engine::isFullscreen()));
}

// A CBT hook that refuses the next window creation of this thread, then goes.
HHOOK refusingHook = nullptr;

LRESULT CALLBACK refuseNextWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_CREATEWND) return CallNextHookEx(refusingHook, code, wParam, lParam);
    UnhookWindowsHookEx(refusingHook);
    return 1;
}

void run(void* instance, const std::vector<std::string>& args) {
    app::initLog(app::joinPath(executableDir(), app::dataFolderName));
    Options options = parseOptions(args);
    engine::initDisplays(options.vsync);
    if (options.refuseWindow) {
        refusingHook = SetWindowsHookExW(WH_CBT, refuseNextWindow, nullptr, GetCurrentThreadId());
    }
    engine::createWindow(instance);
    engine::initGraphics(options.vsync ? 1 : 0);
    engine::initTimer();
    engine::initViewport();
    app::log(app::format("ready gl %d tear %d", glwh::loadedGLVersion(),
                         glwh::isSwapControlTearAvailable()));
    for (int32_t frame = 1; options.frames == 0 || frame <= options.frames; ++frame) {
        if (engine::processMessages()) {
            app::log("quit in poll");
            return;
        }
        FrameInput input = readInput();
        engine::clearScreen();
        engine::drawRectangle(0, 0, 640, 480, 0x204060);
        if (engine::waitForNextFrame()) {
            app::log("quit in wait");
            return;
        }
        engine::swapBuffers();
        logFrame(frame, input, engine::currentTime());
        if (frame == options.quitAfter) engine::quitWindow();
    }
    app::log("frames done");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::optional<std::string> userText =
        app::runCatchingFatalErrors([instance] { run(instance, commandLineArgs()); });
    if (userText) {
        engine::hideWindow();
        app::FatalErrorBox box = app::fatalErrorBox(*userText);
        MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(box.text.c_str()),
                    reinterpret_cast<const wchar_t*>(box.caption.c_str()), box.style);
    }
    return 0;
}
