#include "types.h"

#include <cstdarg>
#include <cstdio>

namespace app {

std::string Exception::describe() const {
    return format("%s@%s(%d): ", kind(), file_, line_) + message_;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    }
    va_end(args);
    return text;
}

}  // namespace app
