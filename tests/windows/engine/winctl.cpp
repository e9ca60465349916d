// A helper of the engine's Wine tests, run in the same Wine session as the
// program under test:
//
//   engine_winctl.exe box <caption> <seconds>   prints the text of the message
//       box with that caption (UTF-8) and presses OK; exit 1 if none appears
//   engine_winctl.exe close <title>              posts WM_CLOSE to the top-level
//       window of class "MainWindow" with that title; exit 1 if there is none
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

int readBox(const wchar_t* caption, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        HWND box = FindWindowW(L"#32770", caption);
        if (box != nullptr) {
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            char utf8[4096] = {};
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("%s\n", utf8);
            std::fflush(stdout);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}

int closeWindow(const wchar_t* title) {
    HWND window = FindWindowW(L"MainWindow", title);
    if (window == nullptr) return 1;
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wcscmp(argv[1], L"box") == 0) return readBox(argv[2], _wtoi(argv[3]));
    if (argc >= 3 && std::wcscmp(argv[1], L"close") == 0) return closeWindow(argv[2]);
    return 2;
}
