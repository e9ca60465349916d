// The clock, the host message pump and frame pacing at 50 frames a second.
#pragma once

#include <cstdint>

namespace engine {

void initTimer();
// 100-ns ticks since an arbitrary origin.
int64_t currentTime();
// Pumps the host queue; true when a quit message was taken.
bool processMessages();
// Waits for the next frame slot while pumping; true when a quit was taken.
bool waitForNextFrame();
// Posts a quit message on the host queue.
void quitWindow();

}  // namespace engine
