// engine.graphics: the swap mode and the swap interval of each presentation
// mode. The driver's swap function comes from the OpenGL set-up.
#include <cstdlib>

#include "engine/graphics.h"
#include "engine/timer.h"
#include "engine/window.h"
#include "errors.h"
#include "log.h"

namespace engine {

namespace {

SwapMode swapMode = 0;
int32_t activeMode = 0;
SwapControl swapControl{nullptr, nullptr, false};
bool graphicsInitialised = false;

int32_t defaultIntervalFor(int32_t refreshRate) { return refreshRate < framesPerSecond ? 0 : -1; }

// At least one refresh per frame, as many as fit in a 50 Hz frame.
int32_t vsyncIntervalFor(int32_t refreshRate) {
    return refreshRate <= framesPerSecond ? -1 : -(refreshRate / framesPerSecond);
}

}  // namespace

void initSwapControl(SwapMode mode, const SwapControl& control) {
    swapMode = mode;
    swapControl = control;
}

void setGraphicsInitialised() { graphicsInitialised = true; }
bool isGraphicsInitialised() { return graphicsInitialised; }
int32_t activeSwapMode() { return activeMode; }

int32_t swapIntervalDefault() { return defaultIntervalFor(currentRefreshRate()); }
int32_t swapIntervalVsync() { return vsyncIntervalFor(currentRefreshRate()); }

int32_t chooseSwapInterval(bool on, int32_t activeMode, int32_t refreshRate, bool tearAvailable) {
    if (!on) return 0;
    int32_t interval = activeMode == 0 ? defaultIntervalFor(refreshRate) : vsyncIntervalFor(refreshRate);
    // Adaptive (negative) intervals are only defined with the tear extension;
    // elsewhere the driver refuses them, so wait the same number of refreshes.
    return tearAvailable ? interval : std::abs(interval);
}

void applySwapInterval(bool on) {
    if (swapControl.swapInterval == nullptr) return;
    int32_t refreshRate = on ? currentRefreshRate() : 0;
    int32_t interval = chooseSwapInterval(on, activeMode, refreshRate, swapControl.tearAvailable);
    if (!swapControl.swapInterval(interval)) {
        app::logOpenGLError(swapControl.lastError());
        app::abortProgram(app::ErrorType::graphicsHardwareUnsupported,
                          "There was an error when setting the swap interval");
    }
}

void setVSync(bool on) {
    activeMode = on ? swapMode : 0;
    applySwapInterval(on);
}

void resetSwapControlForTests() {
    swapMode = 0;
    activeMode = 0;
    swapControl = SwapControl{nullptr, nullptr, false};
    graphicsInitialised = false;
}

}  // namespace engine
