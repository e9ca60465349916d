// Finds the message box with the given caption, prints its text and whether
// it shows an icon, and dismisses it with IDOK. Without a window manager no
// window has the keyboard focus, so the box is answered by a posted command,
// not by key presses.
//
//   boxreader.exe <caption> [timeout ms]   exit 0: found and dismissed
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "files.h"

namespace {

struct BoxContents {
    std::wstring text;
    bool icon = false;
};

BOOL CALLBACK readChild(HWND child, LPARAM context) {
    auto* contents = reinterpret_cast<BoxContents*>(context);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    if (_wcsicmp(className, L"Static") != 0) return TRUE;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        contents->icon = contents->icon || IsWindowVisible(child);
        return TRUE;
    }
    wchar_t text[1024] = {};
    GetDlgItemTextW(GetParent(child), GetDlgCtrlID(child), text, 1024);
    if (std::wcslen(text) > contents->text.size()) contents->text = text;
    return TRUE;
}

std::string utf8(const std::wstring& text) {
    return app::utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const DWORD timeout = argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 30000;
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    while (!(box = FindWindowW(L"#32770", argv[1]))) {
        if (GetTickCount() - start > timeout) {
            std::printf("no box\n");
            return 1;
        }
        Sleep(50);
    }
    Sleep(200);  // let the box finish laying out its controls
    BoxContents contents;
    EnumChildWindows(box, readChild, reinterpret_cast<LPARAM>(&contents));
    std::printf("text=%s\nicon=%d\n", utf8(contents.text).c_str(), contents.icon ? 1 : 0);
    std::fflush(stdout);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}
