// The clock, the host message pump and frame pacing at 50 frames a second.
// currentTime, processMessages, waitForNextFrame and quitWindow are declared
// in engine/engine.h.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace engine {

void initTimer();

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

// The platform side of the frame wait.
struct FrameWaiter {
    int64_t (*now)();
    // Arms the one-shot timer with a relative (negative) due time in ticks.
    void (*armTimer)(int64_t dueTime);
    // Sleeps until the timer fires (true) or a message arrives (false).
    bool (*waitForTimerOrMessage)();
    // Pumps the host queue; true when a quit message was taken.
    bool (*pump)();
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
