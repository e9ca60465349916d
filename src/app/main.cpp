#include "app/main.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>

#include "peloader/loader.h"
#include "engine/display.h"
#include "engine/graphics.h"
#include "engine/text.h"
#include "engine/timer.h"
#include "engine/window.h"
#include "errors.h"
#include "files.h"
#include "log.h"
#include "startup.h"

namespace app {

std::vector<std::string> getArgs() {
    int count = 0;
    std::unique_ptr<LPWSTR, HLOCAL (*)(HLOCAL)> argv(CommandLineToArgvW(GetCommandLineW(), &count),
                                                     LocalFree);
    std::vector<std::string> args;
    if (!argv) return args;
    for (int i = 0; i < count; ++i)
        args.push_back(utf16ToUtf8(reinterpret_cast<const char16_t*>(argv.get()[i])));
    return args;
}

std::string getExecutableDir() {
    // Room for MAX_PATH characters; doubled for as long as the path is cut.
    DWORD room = 260;
    std::u16string buffer(room + 1, u'\0');
    while (GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer.data()), room + 1) == room + 1) {
        room *= 2;
        buffer.assign(room + 1, u'\0');
    }
    buffer.resize(std::min(buffer.find(u'\0'), buffer.size()));
    return directoryOf(utf16ToUtf8(buffer));
}

void run(void* hInstance, const std::vector<std::string>& args) {
    // 1. The data folder beside the executable.
    const std::string dataDir = joinPath(getExecutableDir(), dataFolderName);

    // 2. From here on, log lines reach log.txt in the data folder.
    initLog(dataDir);

    // 3. The one command-line option, anywhere (the program path included).
    const bool vsync = hasVsyncOption(args);

    // 4. Engine set-up: displays, window, graphics, font, timer.
    engine::initDisplays(vsync);
    engine::createWindow(hInstance);
    engine::initGraphics(vsync ? 1 : 0);
    engine::loadFont(dataDir);
    engine::initTimer();

    // 5. The game executable, refused unless its code is the expected one.
    std::unique_ptr<peloader::Program> program =
        peloader::loadProgram(joinPath(dataDir, gameExecutableName));
    if (!program || program->codeHash != expectedCodeHash)
        abortProgram(ErrorType::fileSystem, "Unable to load Quorlen.exe");

    // 6. to 11. The native handlers, the guest and its run.
    runGuestProgram(*program);
}

}  // namespace app

namespace {
const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

void showFatalErrorBox(const app::FatalErrorBox& box) {
    MessageBoxW(nullptr, wide(box.text), wide(box.caption), box.style);
}
}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    std::optional<std::string> userText =
        app::runCatchingFatalErrors([hInstance] { app::run(hInstance, app::getArgs()); });
    if (userText) {
        engine::hideWindow();
        app::showFatalError(*userText, showFatalErrorBox);
    }
    return 0;
}
