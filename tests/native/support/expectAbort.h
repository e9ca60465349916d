// A call that must end the program: it raises AbortProgramException of one
// kind. Shared by the native and the Windows suites.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "errors.h"

inline void expectAbort(app::ErrorType kind, const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "no abort";
    } catch (const app::AbortProgramException& e) {
        EXPECT_EQ(e.type, kind);
    }
}
