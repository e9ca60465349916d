/* The generated WGL loader calls wglGetProcAddress through an import of
 * opengl32.dll. The program loads opengl32.dll by name at run time instead,
 * so this import slot is filled here: it resolves the function from the DLL
 * on first use. */
#include <windows.h>

typedef PROC(WINAPI* WglGetProcAddress)(LPCSTR);

static PROC WINAPI wglGetProcAddressAtRunTime(LPCSTR name) {
    static WglGetProcAddress resolved;
    if (!resolved) {
        HMODULE opengl = LoadLibraryW(L"opengl32.dll");
        if (opengl) resolved = (WglGetProcAddress)(void (*)(void))GetProcAddress(opengl, "wglGetProcAddress");
    }
    return resolved ? resolved(name) : NULL;
}

WglGetProcAddress __imp_wglGetProcAddress = wglGetProcAddressAtRunTime;
