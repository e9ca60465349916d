// engine.timer: counter readings to 100-ns ticks, and the 50-per-second frame
// schedule. The counter, the timer and the pump are the platform's.
#include <cmath>
#include <optional>

#include "engine/graphics.h"
#include "engine/timer.h"
#include "errors.h"
#include "types.h"

namespace engine {

namespace {

int64_t timerMultiplier = 0;
int64_t timerDivider = 0;
double timerFactor = NAN;

std::optional<int64_t> frameStart;
int32_t frameCount = 0;

// A host call without which the frame wait cannot go on: looping on it would
// spin at full speed.
[[noreturn]] void abortOnFailedCall(const char* call, uint32_t error) {
    app::abortProgram(app::ErrorType::program, app::format("%s failed: error %u", call, error));
}

}  // namespace

void initTimerFrequency(int64_t frequency) {
    timerMultiplier = 0;
    timerDivider = 0;
    if (ticksPerSecond % frequency == 0) {
        timerMultiplier = ticksPerSecond / frequency;
    } else if (frequency % ticksPerSecond == 0) {
        timerDivider = frequency / ticksPerSecond;
    } else {
        timerFactor = static_cast<double>(ticksPerSecond) / static_cast<double>(frequency);
    }
}

int64_t ticksFromCounter(int64_t counter) {
    if (timerMultiplier == 1) return counter;
    if (timerMultiplier != 0) return counter * timerMultiplier;
    if (timerDivider == 0) return static_cast<int64_t>(static_cast<double>(counter) * timerFactor);
    return counter / timerDivider;
}

int64_t timerMultiplierForTests() { return timerMultiplier; }
int64_t timerDividerForTests() { return timerDivider; }

FrameTimer createFrameTimer(const TimerFactory& factory) {
    if (void* timer = factory.createHighResolution()) return {timer, true};
    // Older systems refuse the kind (ERROR_INVALID_PARAMETER); whatever the
    // reason, the plain timer still paces, only on the system tick.
    if (void* timer = factory.createPlain()) return {timer, false};
    abortOnFailedCall("CreateWaitableTimerW", factory.lastError());
}

bool frameScheduleStarted() { return frameStart.has_value(); }

void startFrameSchedule(int64_t now) {
    frameStart = now;
    frameCount = 0;
}

bool waitForFrame(const FrameWaiter& waiter) {
    if (activeSwapMode() != 0 || !frameStart) return false;
    if (frameCount == framesPerSecond) {
        *frameStart += ticksPerSecond;
        frameCount = 0;
    }
    frameCount += 1;
    int64_t target = *frameStart + frameCount * ticksPerSecond / framesPerSecond;
    int64_t diff = target - waiter.now();
    if (diff < -ticksPerFrame) {
        // More than a frame behind: give up the lost time.
        startFrameSchedule(waiter.now());
    }
    if (diff <= frameWakeEarly) return false;
    // A timer left unarmed would never wake the wait, or, still signalled
    // from the last frame, would end every wait at once.
    if (!waiter.armTimer(frameWakeEarly - diff))
        abortOnFailedCall("SetWaitableTimer", waiter.lastError());
    for (;;) {
        FrameWake wake = waiter.waitForTimerOrMessage();
        if (wake == FrameWake::timer) return false;
        if (wake == FrameWake::failed)
            abortOnFailedCall("MsgWaitForMultipleObjects", waiter.lastError());
        if (waiter.pump()) return true;
    }
}

int64_t frameStartForTests() { return frameStart.value_or(-1); }
int32_t frameCountForTests() { return frameCount; }

void resetTimerForTests() {
    timerMultiplier = 0;
    timerDivider = 0;
    timerFactor = NAN;
    frameStart.reset();
    frameCount = 0;
}

}  // namespace engine
