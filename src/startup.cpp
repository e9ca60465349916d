#include "startup.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "errors.h"
#include "files.h"
#include "log.h"

namespace app {

namespace {
constexpr const char* boxTextStart = "An error occurred and the program will now exit. ";
constexpr const char* boxCaption = "Quorlen Ziradeva";
constexpr uint32_t boxStyle = 0x10010;  // MB_ICONERROR | MB_SETFOREGROUND

std::string typeName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}
}  // namespace

bool isVsyncOption(const std::string& arg) { return arg == vsyncOption; }

bool hasVsyncOption(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (isVsyncOption(arg)) return true;
    return false;
}

std::string directoryOf(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return "";
    // A root keeps its separator (C:\ or /).
    bool driveRoot = cut == 2 && path[1] == ':';
    if (cut == 0 || driveRoot) return path.substr(0, cut + 1);
    return path.substr(0, cut);
}

std::optional<std::string> runCatchingFatalErrors(const std::function<void()>& body) {
    try {
        body();
        return std::nullopt;
    } catch (const AbortProgramException& e) {
        return std::string(errorTypeUserText(e.type));
    } catch (const Exception& e) {
        log("Unhandled exception: " + e.describe());
    } catch (const std::exception& e) {
        log("Unhandled exception: " + typeName(typeid(e)) + ": " + e.what());
    } catch (...) {
        log("Unhandled exception: unknown exception");
    }
    return std::string(":(");
}

FatalErrorBox fatalErrorBox(const std::string& userText) {
    return {utf8ToUtf16(boxTextStart + userText), utf8ToUtf16(boxCaption), boxStyle};
}

void showFatalError(const std::string& userText, void (*showBox)(const FatalErrorBox& box)) {
    flushLog();
    showBox(fatalErrorBox(userText));
}

}  // namespace app
