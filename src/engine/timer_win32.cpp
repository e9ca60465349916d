// engine.timer on Windows: the performance counter, the host message pump and
// the frame wait on a waitable timer.
#include <windows.h>

#include "engine/timer.h"
#include "engine/window.h"
#include "errors.h"

// Not in every MinGW header yet (Windows 10 version 1803 and later).
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace engine {

namespace {

HANDLE frameTimer = nullptr;
bool frameTimerHighResolution = false;

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

bool armFrameTimer(int64_t dueTime) {
    LARGE_INTEGER due;
    due.QuadPart = dueTime;
    return SetWaitableTimer(frameTimer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

FrameWake waitForTimerOrMessage() {
    switch (MsgWaitForMultipleObjects(1, &frameTimer, FALSE, INFINITE, frameWakeMask)) {
        case WAIT_OBJECT_0: return FrameWake::timer;
        case WAIT_FAILED: return FrameWake::failed;
        default: return FrameWake::message;
    }
}

uint32_t lastError() { return GetLastError(); }

// An ordinary waitable timer fires on the system timer's tick (15.6 ms by
// default since Windows 10 version 2004), which would end the 20 ms frame
// slots up to a tick late.
void* createHighResolutionTimer() {
    constexpr DWORD flags =
        CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION;
    return CreateWaitableTimerExW(nullptr, nullptr, flags, TIMER_MODIFY_STATE | SYNCHRONIZE);
}

void* createPlainTimer() { return CreateWaitableTimerW(nullptr, TRUE, nullptr); }

const FrameWaiter windowsFrameWaiter{currentTime, armFrameTimer, waitForTimerOrMessage,
                                     pumpWindowMessages, lastError};
const TimerFactory windowsTimerFactory{createHighResolutionTimer, createPlainTimer, lastError};

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
        FrameTimer timer = createFrameTimer(windowsTimerFactory);
        frameTimer = timer.handle;
        frameTimerHighResolution = timer.highResolution;
        startFrameSchedule(currentTime());
    }
    releaseKeys();
    bool quit = pumpWindowMessages();
    markKeysSeen();
    return quit;
}

bool waitForNextFrame() { return waitForFrame(windowsFrameWaiter); }

void quitWindow() { PostQuitMessage(0); }

bool isFrameTimerHighResolution() { return frameTimerHighResolution; }

}  // namespace engine
