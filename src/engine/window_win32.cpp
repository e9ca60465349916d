// engine.window on Windows: the window class, the window and its procedure.
#include <windows.h>

#include <string>

#include "engine/graphics.h"
#include "engine/window.h"
#include "errors.h"
#include "files.h"
#include "types.h"

namespace engine {

namespace {

HWND mainWindow = nullptr;
HDC windowDC = nullptr;

HWND hwnd(void* window) { return static_cast<HWND>(window); }

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Windows 10 1607 and later only: resolved at run time, with AdjustWindowRect
// (the system's DPI) where they are missing.
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

template <typename Function>
Function user32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

const auto adjustWindowRectExForDpi =
    user32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
const auto getDpiForWindow = user32Function<GetDpiForWindowFunction>("GetDpiForWindow");

Rect windowsAdjustWindowRect(Rect client, uint32_t style, uint32_t dpi) {
    RECT rect;
    SetRect(&rect, client.left, client.top, client.right, client.bottom);
    if (dpi != 0 && adjustWindowRectExForDpi != nullptr) {
        adjustWindowRectExForDpi(&rect, style, FALSE, WS_EX_APPWINDOW, dpi);
    } else {
        AdjustWindowRect(&rect, style, FALSE);
    }
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

uint32_t windowsWindowDpi(void* window) {
    return getDpiForWindow != nullptr ? getDpiForWindow(hwnd(window)) : 0;
}

bool windowsClientSize(void* window, int32_t& width, int32_t& height) {
    RECT rect;
    if (!GetClientRect(hwnd(window), &rect)) return false;
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    return true;
}

void windowsSetStyle(void* window, uint32_t style) {
    SetWindowLongPtrW(hwnd(window), GWL_STYLE, static_cast<LONG_PTR>(style));
}

void windowsMoveWindow(void* window, int32_t x, int32_t y, int32_t width, int32_t height,
                       bool repaint) {
    MoveWindow(hwnd(window), x, y, width, height, repaint ? TRUE : FALSE);
}

void windowsInvalidate(void* window) { InvalidateRect(hwnd(window), nullptr, FALSE); }

void windowsNotice(void* window, const std::string& message) {
    MessageBoxW(hwnd(window), wide(app::utf8ToUtf16(message)), L"Quorlen",
                MB_ICONEXCLAMATION | MB_TOPMOST);
}

Point windowsClientToScreen(void* window, Point point) {
    POINT p{point.x, point.y};
    ClientToScreen(hwnd(window), &p);
    return Point{p.x, p.y};
}

Point windowsScreenToClient(void* window, Point point) {
    POINT p{point.x, point.y};
    ScreenToClient(hwnd(window), &p);
    return Point{p.x, p.y};
}

Point windowsCursorPosition() {
    POINT p{0, 0};
    GetCursorPos(&p);
    return Point{p.x, p.y};
}

void windowsClipCursor(const Rect* rect) {
    if (rect == nullptr) {
        ClipCursor(nullptr);
        return;
    }
    RECT r{rect->left, rect->top, rect->right, rect->bottom};
    ClipCursor(&r);
}

void windowsShowCursor(bool show) { ShowCursor(show ? TRUE : FALSE); }

Rect windowsVirtualScreen() {
    int32_t x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int32_t y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return Rect{x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

void windowsCaptureMouse(void* window, bool capture) {
    if (capture) {
        SetCapture(hwnd(window));
    } else {
        ReleaseCapture();
    }
}

const WindowPlatform windowsPlatform{
    windowsAdjustWindowRect, windowsWindowDpi,      windowsClientSize,
    windowsSetStyle,         windowsMoveWindow,     windowsInvalidate,
    windowsNotice,           windowsClientToScreen, windowsScreenToClient,
    windowsCursorPosition,   windowsClipCursor,     windowsShowCursor,
    copyScreenshotToClipboard, windowsCaptureMouse, windowsVirtualScreen};

void onSize(WPARAM kind) {
    noteMinimised(kind == SIZE_MINIMIZED);
    if (mainWindow == nullptr || !isGraphicsInitialised()) return;
    int32_t width, height;
    getClientSize(width, height);
    setViewport(width, height);
}

// The message's own result, or DefWindowProcW's when not handled.
LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto handledOrDefault = [&](bool handled) {
        return handled ? 0 : DefWindowProcW(window, message, wParam, lParam);
    };
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            onSize(wParam);
            return 0;
        case WM_ACTIVATE:
            return handledOrDefault(onActivate(static_cast<uint32_t>(wParam & 0xFFFF),
                                               (hiWord(wParam) & 0xFFFF) != 0));
        case WM_KILLFOCUS:
            onFocusLost();
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_CAPTURECHANGED:
            onCaptureChanged();
            return 0;
        case WM_SETCURSOR:
            onSetCursor();
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_MOUSEMOVE:
            onMouseMove();
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_ACTIVATEANDEAT;  // the activating click is not a game click
        case WM_GETMINMAXINFO: {
            Point size;
            if (!onGetMinMaxInfo(size)) return DefWindowProcW(window, message, wParam, lParam);
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{size.x, size.y};
            return 0;
        }
        case WM_DPICHANGED: {
            const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
            onDpiChanged(static_cast<uint32_t>(wParam & 0xFFFF),
                         Rect{suggested.left, suggested.top, suggested.right, suggested.bottom});
            return 0;
        }
        case WM_DISPLAYCHANGE:
            onDisplayChange();
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_SYSCOMMAND:
            return handledOrDefault(onSystemCommand(wParam));
        case WM_KEYDOWN:
            return handledOrDefault(onKeyDown(static_cast<uint32_t>(wParam)));
        case WM_KEYUP:
            return handledOrDefault(onKeyUp(static_cast<uint32_t>(wParam)));
        case WM_LBUTTONDOWN:
            onMouseButton(true, true);
            return 0;
        case WM_LBUTTONUP:
            onMouseButton(true, false);
            return 0;
        case WM_RBUTTONDOWN:
            onMouseButton(false, true);
            return 0;
        case WM_RBUTTONUP:
            onMouseButton(false, false);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// Nothing may escape into the system's dispatch: an error is held and raised
// by the pump once DispatchMessageW has returned.
void deferHandlerError(const std::string& description) {
    try {
        app::deferAbort("Exception occurred in window message handler", description);
    } catch (...) {
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return handleMessage(window, message, wParam, lParam);
    } catch (const app::Exception& e) {
        deferHandlerError(e.describe());
    } catch (const std::exception& e) {
        deferHandlerError(std::string("std::exception: ") + e.what());
    } catch (...) {
        deferHandlerError("unknown exception");
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static_assert(sizeof(WNDCLASSEXW) == 80);

}  // namespace

void createWindow(void* hInstance) {
    initWindowState(windowsPlatform);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);  // 80
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = static_cast<HINSTANCE>(hInstance);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = L"MainWindow";
    RegisterClassExW(&windowClass);

    WindowPlacement placement = computeWindowPlacement(*primaryDisplay(), isFullscreen());
    mainWindow = CreateWindowExW(WS_EX_APPWINDOW, L"MainWindow", L"Quorlen",
                                 placement.style | styleVisible, placement.x, placement.y,
                                 placement.width, placement.height, nullptr, nullptr, nullptr,
                                 nullptr);
    // Without a window there is no DC of its own to set a pixel format on:
    // GetDC(NULL) would hand out the screen's.
    if (mainWindow == nullptr) {
        app::abortProgram(app::ErrorType::program,
                          app::format("CreateWindowExW failed: error %lu", GetLastError()));
    }
    setMainWindow(mainWindow);
    windowDC = GetDC(mainWindow);
}

void* getDeviceContext() { return windowDC; }

void hideWindow() {
    if (mainWindow == nullptr) return;
    ShowWindow(mainWindow, SW_HIDE);
    setCursorVisible(true);
}

}  // namespace engine
