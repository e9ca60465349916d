// engine.graphics on Windows: the 3.3 context on the window DC, the fixed
// drawing state, the two shader programs and the driver's swap control.
#include <glad/gl.h>
#include <glad/wgl.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "engine/graphics.h"
#include "engine/window.h"
#include "errors.h"
#include "glwh/glwh.h"
#include "log.h"
#include "types.h"

namespace engine {

namespace {

DrawingObjects objects;
HDC graphicsDC = nullptr;

constexpr int32_t contextVersion = 33;
constexpr GLsizei infoLogSize = 1000;

// Game space (origin bottom-left) to clip space, column-major.
constexpr GLfloat vertexTransform[6] = {2.0f / gameWidth, 0, -1, 0, 2.0f / gameHeight, -1};

bool windowsSwapInterval(int32_t interval) { return wglSwapIntervalEXT(interval) != FALSE; }
uint32_t windowsLastError() { return GetLastError(); }

// A failed link is an internal fault, not a hardware limit.
class ShaderLinkError : public app::Exception {
public:
    ShaderLinkError() : Exception("Failed to link shader program", "graphics", __LINE__) {}
    const char* kind() const override { return "Exception"; }
};

std::u16string upperCase(const std::string& name) {
    std::u16string text;
    for (char c : name) text.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c));
    return text;
}

struct ProgramLayout {
    const char* vertexShader;
    const char* fragmentShader;
    const char* attribute1;
    GLint attribute1Size;
    GLsizei stride;
};

void buildProgram(const ProgramLayout& layout, uint32_t& program, uint32_t& vertexArray,
                  uint32_t& buffer) {
    program = glCreateProgram();
    glAttachShader(program, compileShader(layout.vertexShader, GL_VERTEX_SHADER));
    glAttachShader(program, compileShader(layout.fragmentShader, GL_FRAGMENT_SHADER));
    glBindAttribLocation(program, 0, "vertexPosition");
    glBindAttribLocation(program, 1, layout.attribute1);
    linkProgram(program);
    glUseProgram(program);
    glUniformMatrix2x3fv(glGetUniformLocation(program, "vertexTransform"), 1, GL_FALSE,
                         vertexTransform);
    GLuint name = 0;
    glGenVertexArrays(1, &name);
    vertexArray = name;
    glBindVertexArray(vertexArray);
    glGenBuffers(1, &name);
    buffer = name;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    // Each draw uploads its own vertices; no storage here.
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, layout.stride, reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, layout.attribute1Size, GL_FLOAT, GL_FALSE, layout.stride,
                          reinterpret_cast<void*>(8));
    glEnableVertexAttribArray(1);
}

}  // namespace

std::string loadShaderSource(const std::string& name) {
    std::u16string resourceName = upperCase(name);
    std::u16string resourceType = resourceName + u"SHADER";
    HRSRC resource = FindResourceW(nullptr, reinterpret_cast<const wchar_t*>(resourceName.c_str()),
                                   reinterpret_cast<const wchar_t*>(resourceType.c_str()));
    // A missing resource gives an empty source, which fails to compile.
    if (resource == nullptr) return std::string();
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    DWORD size = SizeofResource(nullptr, resource);
    return bytes == nullptr ? std::string() : std::string(bytes, size);
}

uint32_t compileShader(const std::string& name, uint32_t type) {
    GLuint shader = glCreateShader(type);
    std::string source = loadShaderSource(name);
    const GLchar* text = source.data();
    GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint compiled = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != 0) return shader;
    GLchar infoLog[infoLogSize];
    GLsizei logLength = 0;
    glGetShaderInfoLog(shader, infoLogSize, &logLength, infoLog);
    app::log(std::string(infoLog, static_cast<size_t>(logLength)));
    glDeleteShader(shader);
    app::abortProgram(app::ErrorType::graphicsHardwareUnsupported,
                      "Failed to compile shader: " + name);
}

void linkProgram(uint32_t program) {
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != 0) return;
    GLchar infoLog[infoLogSize];
    GLsizei logLength = 0;
    glGetProgramInfoLog(program, infoLogSize, &logLength, infoLog);
    app::log(std::string(infoLog, static_cast<size_t>(logLength)));
    throw ShaderLinkError();
}

void createSpriteProgram() {
    buildProgram(ProgramLayout{"spriteVertex", "spriteFragment", "vertexTextureCoordinate", 2, 16},
                 objects.spriteProgram, objects.spriteVertexArray, objects.spriteBuffer);
}

void createRectangleProgram() {
    buildProgram(ProgramLayout{"rectangleVertex", "rectangleFragment", "vertexColour", 3, 20},
                 objects.rectangleProgram, objects.rectangleVertexArray, objects.rectangleBuffer);
}

void initGraphics(SwapMode mode) {
    graphicsDC = static_cast<HDC>(getDeviceContext());
    if (glwh::createGLContext(contextVersion, graphicsDC, 0) == nullptr) {
        app::abortProgram(app::ErrorType::graphicsHardwareUnsupported,
                          app::format("Unable to create an OpenGL %d.%d context",
                                      contextVersion / 10, contextVersion % 10));
    }
    SwapControl control{nullptr, windowsLastError, glwh::isSwapControlTearAvailable()};
    if (glwh::isSwapControlAvailable()) control.swapInterval = windowsSwapInterval;
    initSwapControl(mode, control);
    if (mode == 1 && !glwh::isSwapControlAvailable()) {
        app::abortProgram(app::ErrorType::graphicsHardwareUnsupported,
                          "WGL_EXT_swap_control not available");
    }
    glClearColor(0, 0, 0, 1);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    createSpriteProgram();
    createRectangleProgram();
    setGraphicsInitialised();
}

const DrawingObjects& drawingObjects() { return objects; }
void* graphicsDeviceContext() { return graphicsDC; }

}  // namespace engine
