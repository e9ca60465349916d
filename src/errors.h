// Fatal-error kinds and the exception that ends the program.
#pragma once

#include <cstdint>
#include <string>

#include "types.h"

namespace app {

enum class ErrorType : uint32_t {
    program = 0,
    fileSystem = 1,
    graphicsHardwareUnsupported = 2,
};

// The member name ("program", "fileSystem", "graphicsHardwareUnsupported").
const char* errorTypeName(ErrorType type);
// The text the user sees in the message box for this kind.
const char* errorTypeUserText(ErrorType type);

// Ends the program with a message box. The explaining text goes to the log
// before the raise; the message is only the kind's member name.
class AbortProgramException : public Exception {
public:
    explicit AbortProgramException(ErrorType type)
        : Exception(errorTypeName(type), "errors", 28), type(type) {}
    const char* kind() const override { return "AbortProgramException"; }
    ErrorType type;
};

// Records the pending abort, logs the message and raises.
[[noreturn]] void abortProgram(ErrorType type, const std::string& message);
// For code inside an operating-system callback, where nothing may escape:
// records a pending abort of kind program and logs the message and the
// error's description.
void deferAbort(const std::string& message, const std::string& errorDescription);
// Raises the pending abort, if any. The record is never cleared.
void checkAbort();

// Test hook: clears the pending-abort record.
void resetErrorsForTests();

}  // namespace app
