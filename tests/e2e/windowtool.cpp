// The end-to-end tests' hands on the program's main window (class
// "MainWindow") and on the clipboard:
//
//   windowtool.exe client [timeout ms]   prints "x y width height" of the
//                                        client area in screen coordinates
//   windowtool.exe close [timeout ms]    posts WM_CLOSE, as the close box does
//   windowtool.exe dpi                   prints the system DPI
//   windowtool.exe emptyclipboard        empties the clipboard
//   windowtool.exe clipboard FILE [timeout ms]
//                                        waits for a bitmap (CF_DIB) on the
//                                        clipboard and writes it as a BMP file
//
// Exit status 0 when the window or the bitmap was found.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

bool openClipboard() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (OpenClipboard(nullptr)) return true;
        Sleep(20);  // another process holds it
    }
    return false;
}

// The DIB behind a file header: the pixels start after the header, the
// colour masks of BI_BITFIELDS and the colour table.
bool writeBmp(const wchar_t* path, const BYTE* dib, SIZE_T size) {
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(dib);
    if (size < sizeof(BITMAPINFOHEADER) || info->biSize > size) return false;
    DWORD tables = info->biClrUsed * 4;
    if (info->biSize == sizeof(BITMAPINFOHEADER) && info->biCompression == BI_BITFIELDS) tables += 12;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = static_cast<DWORD>(sizeof header + info->biSize + tables);
    header.bfSize = static_cast<DWORD>(sizeof header + size);
    FILE* file = _wfopen(path, L"wb");
    if (!file) return false;
    const bool written = std::fwrite(&header, sizeof header, 1, file) == 1 &&
                         std::fwrite(dib, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

int saveClipboardBitmap(const wchar_t* path, DWORD timeout) {
    const DWORD start = GetTickCount();
    while (!IsClipboardFormatAvailable(CF_DIB)) {
        if (GetTickCount() - start > timeout) {
            std::printf("no bitmap\n");
            return 1;
        }
        Sleep(50);
    }
    if (!openClipboard()) return 1;
    bool saved = false;
    if (HANDLE data = GetClipboardData(CF_DIB)) {
        if (const void* dib = GlobalLock(data)) {
            saved = writeBmp(path, static_cast<const BYTE*>(dib), GlobalSize(data));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return saved ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    // Rectangles in physical pixels, as the program sees them, at any DPI.
    SetProcessDPIAware();
    if (std::wcscmp(argv[1], L"dpi") == 0) {
        HDC screen = GetDC(nullptr);
        std::printf("%d\n", GetDeviceCaps(screen, LOGPIXELSX));
        ReleaseDC(nullptr, screen);
        return 0;
    }
    if (std::wcscmp(argv[1], L"emptyclipboard") == 0) {
        if (!openClipboard()) return 1;
        EmptyClipboard();
        CloseClipboard();
        return 0;
    }
    if (std::wcscmp(argv[1], L"clipboard") == 0) {
        if (argc < 3) return 2;
        return saveClipboardBitmap(argv[2], argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 10000);
    }
    const DWORD timeout = argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 10000;
    const DWORD start = GetTickCount();
    HWND window = nullptr;
    while (!(window = FindWindowW(L"MainWindow", nullptr)) || !IsWindowVisible(window)) {
        if (GetTickCount() - start > timeout) {
            std::printf("no window\n");
            return 1;
        }
        Sleep(50);
    }
    if (std::wcscmp(argv[1], L"close") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (std::wcscmp(argv[1], L"client") != 0) return 2;
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
    return 0;
}
