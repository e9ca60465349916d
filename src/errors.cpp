#include "errors.h"

#include "log.h"

namespace app {

namespace {
bool abortPending = false;
ErrorType pendingErrorType = ErrorType::program;
}  // namespace

const char* errorTypeName(ErrorType type) {
    switch (type) {
        case ErrorType::program: return "program";
        case ErrorType::fileSystem: return "fileSystem";
        case ErrorType::graphicsHardwareUnsupported: return "graphicsHardwareUnsupported";
    }
    return "program";
}

const char* errorTypeUserText(ErrorType type) {
    switch (type) {
        case ErrorType::program: return ":(";
        case ErrorType::fileSystem: return "Check the game is installed properly.";
        case ErrorType::graphicsHardwareUnsupported:
            return "This game does not have support for your graphics hardware.";
    }
    return ":(";
}

void abortProgram(ErrorType type, const std::string& message) {
    abortPending = true;
    pendingErrorType = type;
    log(message);
    throw AbortProgramException(type);
}

void deferAbort(const std::string& message, const std::string& errorDescription) {
    abortPending = true;
    pendingErrorType = ErrorType::program;
    log(message);
    log(errorDescription);
}

void checkAbort() {
    if (abortPending) throw AbortProgramException(pendingErrorType);
}

void resetErrorsForTests() {
    abortPending = false;
    pendingErrorType = ErrorType::program;
}

}  // namespace app
