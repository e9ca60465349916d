// engine.timer on Windows: the performance counter, the host message pump and
// the frame wait on a waitable timer.
#include <windows.h>

#include "engine/timer.h"
#include "engine/window.h"
#include "errors.h"

namespace engine {

namespace {

HANDLE frameTimer = nullptr;

// Posted messages, timers, paint, sent messages, hot keys and raw input end
// the wait; keyboard and mouse input wait for the next wake-up.
constexpr DWORD frameWakeMask = 0x4F8;

bool pumpWindowMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        app::checkAbort();
    }
    return false;
}

void armFrameTimer(int64_t dueTime) {
    LARGE_INTEGER due;
    due.QuadPart = dueTime;
    SetWaitableTimer(frameTimer, &due, 0, nullptr, nullptr, FALSE);
}

bool waitForTimerOrMessage() {
    return MsgWaitForMultipleObjects(1, &frameTimer, FALSE, INFINITE, frameWakeMask) ==
           WAIT_OBJECT_0;
}

const FrameWaiter windowsFrameWaiter{currentTime, armFrameTimer, waitForTimerOrMessage,
                                     pumpWindowMessages};

}  // namespace

void initTimer() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    initTimerFrequency(frequency.QuadPart);
}

int64_t currentTime() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return ticksFromCounter(counter.QuadPart);
}

bool processMessages() {
    if (!frameScheduleStarted()) {
        startFrameSchedule(currentTime());
        frameTimer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    }
    releaseKeys();
    bool quit = pumpWindowMessages();
    markKeysSeen();
    return quit;
}

bool waitForNextFrame() { return waitForFrame(windowsFrameWaiter); }

void quitWindow() { PostQuitMessage(0); }

}  // namespace engine
