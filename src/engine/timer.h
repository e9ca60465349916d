// The clock, the host message pump and frame pacing at 50 frames a second.
// currentTime, processMessages, waitForNextFrame and quitWindow are declared
// in engine/engine.h.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace engine {

void initTimer();
// The frame timer, made by the first poll, fires at its due time rather than
// on the system timer's tick.
bool isFrameTimerHighResolution();

}  // namespace engine

// ---- Clock conversion and frame schedule (engine.timer) -------------------
namespace engine {

constexpr int64_t ticksPerSecond = 10000000;
constexpr int32_t framesPerSecond = 50;
constexpr int64_t ticksPerFrame = ticksPerSecond / framesPerSecond;
// The wait ends this early; a target this close is not waited for.
constexpr int64_t frameWakeEarly = 2000;

// Chooses the conversion of a counter of this frequency into ticks.
void initTimerFrequency(int64_t frequency);
int64_t ticksFromCounter(int64_t counter);
int64_t timerMultiplierForTests();
int64_t timerDividerForTests();

// The host's waitable timers, for the choice of the frame timer. A null
// handle is a failure, its code in lastError.
struct TimerFactory {
    // A manual-reset timer that fires at its due time instead of at the next
    // tick of the system timer; refused by systems that do not have it.
    void* (*createHighResolution)();
    // CreateWaitableTimerW: a manual-reset timer on the system timer's tick.
    void* (*createPlain)();
    uint32_t (*lastError)();
};
struct FrameTimer {
    void* handle;
    bool highResolution;
};
// The high-resolution timer where the system makes one, else the plain one.
// A timer that cannot be made at all ends the program: without one the frame
// wait could never sleep.
FrameTimer createFrameTimer(const TimerFactory& factory);

// What ended one sleep of the frame wait.
enum class FrameWake { timer, message, failed };

// The platform side of the frame wait.
struct FrameWaiter {
    int64_t (*now)();
    // Arms the one-shot timer with a relative (negative) due time in ticks;
    // false when the timer refused (its code in lastError).
    bool (*armTimer)(int64_t dueTime);
    // Sleeps until the timer fires or a message arrives.
    FrameWake (*waitForTimerOrMessage)();
    // Pumps the host queue; true when a quit message was taken.
    bool (*pump)();
    // The code of the failed call.
    uint32_t (*lastError)();
};

// The schedule starts at the guest's first message poll.
bool frameScheduleStarted();
void startFrameSchedule(int64_t now);
// The frame wait proper; true when a quit message was taken.
bool waitForFrame(const FrameWaiter& waiter);
int64_t frameStartForTests();
int32_t frameCountForTests();
void resetTimerForTests();

}  // namespace engine
