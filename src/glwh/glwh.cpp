// glwh.glwh: the pixel format, the legacy and the 3.3 core context, and the
// entry points of opengl32.dll resolved through the generated loader.
#include <glad/gl.h>
#include <glad/wgl.h>
#include <windows.h>

#include <cstring>

#include "glwh/glwh.h"

namespace glwh {

namespace {

using CreateContextFunction = HGLRC(WINAPI*)(HDC);
using MakeCurrentFunction = BOOL(WINAPI*)(HDC, HGLRC);
using DeleteContextFunction = BOOL(WINAPI*)(HGLRC);
using GetProcAddressFunction = PROC(WINAPI*)(LPCSTR);
using GetStringFunction = const GLubyte*(APIENTRY*)(GLenum);

// The functions opengl32.dll offers without a context.
struct Wgl {
    HMODULE library = nullptr;
    CreateContextFunction createContext = nullptr;
    MakeCurrentFunction makeCurrent = nullptr;
    DeleteContextFunction deleteContext = nullptr;
    GetProcAddressFunction getProcAddress = nullptr;
};
Wgl wgl;
int32_t loadedVersion = 0;

template <typename Function>
Function libraryFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(wgl.library, name)));
}

bool loadContextFreeFunctions() {
    if (wgl.library == nullptr) wgl.library = LoadLibraryW(L"opengl32.dll");
    if (wgl.library == nullptr) return false;
    wgl.createContext = libraryFunction<CreateContextFunction>("wglCreateContext");
    wgl.makeCurrent = libraryFunction<MakeCurrentFunction>("wglMakeCurrent");
    wgl.deleteContext = libraryFunction<DeleteContextFunction>("wglDeleteContext");
    wgl.getProcAddress = libraryFunction<GetProcAddressFunction>("wglGetProcAddress");
    return wgl.createContext && wgl.makeCurrent && wgl.deleteContext && wgl.getProcAddress;
}

// Context functions come from wglGetProcAddress, which answers 1, 2, 3 or -1
// on some drivers for a missing name; the 1.1 functions only from the DLL.
GLADapiproc resolve(const char* name) {
    PROC function = wgl.getProcAddress(name);
    intptr_t value = reinterpret_cast<intptr_t>(function);
    if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) {
        function = GetProcAddress(wgl.library, name);
    }
    return reinterpret_cast<GLADapiproc>(reinterpret_cast<void*>(function));
}

GLADapiproc loadFunction(void*, const char* name) { return resolve(name); }

// ---- Version probe -----------------------------------------------------------
// The loader binds the functions of every version up to the one the context
// reports. To find the highest version whose functions all resolve, it is run
// against a context that claims each candidate version in turn; the
// extensions are left out of the probe (no glGetStringi), so only core
// functions are counted.

GetStringFunction realGetString = nullptr;
const char* probeVersionString = nullptr;
int32_t probeMisses = 0;

const GLubyte* APIENTRY probeGetString(GLenum name) {
    if (name == GL_VERSION) return reinterpret_cast<const GLubyte*>(probeVersionString);
    if (name == GL_EXTENSIONS) return nullptr;  // below 3.0: no extensions either
    return realGetString(name);
}

GLADapiproc probeLoad(void*, const char* name) {
    GLADapiproc function = resolve(name);
    if (std::strcmp(name, "glGetString") == 0) {
        realGetString = reinterpret_cast<GetStringFunction>(function);
        return function ? reinterpret_cast<GLADapiproc>(probeGetString) : nullptr;
    }
    if (function == nullptr) ++probeMisses;
    if (std::strcmp(name, "glGetStringi") == 0) return nullptr;
    return function;
}

bool allFunctionsResolve(const char* versionString) {
    probeVersionString = versionString;
    probeMisses = 0;
    gladLoadGLUserPtr(probeLoad, nullptr);
    return probeMisses == 0;
}

struct Version {
    int32_t number;
    const char* text;
};
constexpr Version versions[] = {{45, "4.5"}, {44, "4.4"}, {43, "4.3"}, {42, "4.2"},
                                {41, "4.1"}, {40, "4.0"}, {33, "3.3"}, {32, "3.2"},
                                {31, "3.1"}, {30, "3.0"}, {21, "2.1"}, {20, "2.0"},
                                {15, "1.5"}, {14, "1.4"}, {13, "1.3"}, {12, "1.2"},
                                {11, "1.1"}, {10, "1.0"}};

// Binds every entry point of the current context up to 4.5 and its
// extensions; the highest version whose functions all resolved.
int32_t loadCurrentContext(HDC hdc) {
    int32_t reported = gladLoadGLUserPtr(loadFunction, nullptr);
    if (reported == 0) return 0;
    int32_t contextVersion = GLAD_VERSION_MAJOR(reported) * 10 + GLAD_VERSION_MINOR(reported);
    int32_t bound = 0;
    for (const Version& version : versions) {
        if (version.number <= contextVersion && allFunctionsResolve(version.text)) {
            bound = version.number;
            break;
        }
    }
    // The probes left the pointers of the last candidate; bind them all again.
    gladLoadGLUserPtr(loadFunction, nullptr);
    gladLoadWGLUserPtr(hdc, loadFunction, nullptr);
    return bound;
}

bool choosePixelFormat(HDC hdc, uint8_t depthBits) {
    PIXELFORMATDESCRIPTOR format{};
    format.nSize = sizeof(format);  // 40
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 24;
    format.cDepthBits = depthBits;
    int index = ChoosePixelFormat(hdc, &format);
    if (index == 0) return false;
    DescribePixelFormat(hdc, index, sizeof(format), &format);
    if (format.iPixelType != PFD_TYPE_RGBA || format.cColorBits < 24) return false;
    if (depthBits != 0 && format.cDepthBits < depthBits) return false;
    return SetPixelFormat(hdc, index, &format) != FALSE;
}

static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

}  // namespace

void* createGLContext(int32_t version, void* deviceContext, uint8_t depthBits) {
    HDC hdc = static_cast<HDC>(deviceContext);
    if (!loadContextFreeFunctions()) return nullptr;
    if (!choosePixelFormat(hdc, depthBits)) return nullptr;
    HGLRC legacy = wgl.createContext(hdc);
    if (legacy == nullptr) return nullptr;
    wgl.makeCurrent(hdc, legacy);
    if (version < 30) return legacy;

    const int attributes[] = {WGL_CONTEXT_MAJOR_VERSION_ARB, version / 10,
                              WGL_CONTEXT_MINOR_VERSION_ARB, version % 10,
                              WGL_CONTEXT_PROFILE_MASK_ARB,  WGL_CONTEXT_CORE_PROFILE_BIT_ARB,
                              WGL_CONTEXT_FLAGS_ARB,         WGL_CONTEXT_FORWARD_COMPATIBLE_BIT_ARB,
                              0};
    auto createContextAttribs = reinterpret_cast<PFNWGLCREATECONTEXTATTRIBSARBPROC>(
        reinterpret_cast<void*>(wgl.getProcAddress("wglCreateContextAttribsARB")));
    if (createContextAttribs == nullptr) {
        wgl.makeCurrent(nullptr, nullptr);
        wgl.deleteContext(legacy);
        return nullptr;
    }
    HGLRC context = createContextAttribs(hdc, nullptr, attributes);
    wgl.makeCurrent(nullptr, nullptr);
    wgl.deleteContext(legacy);
    if (context == nullptr) return nullptr;
    if (!wgl.makeCurrent(hdc, context)) {
        wgl.deleteContext(context);
        return nullptr;
    }
    loadedVersion = loadCurrentContext(hdc);
    if (loadedVersion < version) return nullptr;  // the context stays current
    return context;
}

int32_t loadedGLVersion() { return loadedVersion; }

bool isSwapControlAvailable() { return glad_wglSwapIntervalEXT != nullptr; }

bool isSwapControlTearAvailable() {
    return isSwapControlAvailable() && GLAD_WGL_EXT_swap_control_tear != 0;
}

}  // namespace glwh
