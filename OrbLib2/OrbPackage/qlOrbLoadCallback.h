// The process-wide load callback: long loads call it between pieces, so that
// loading yields to playback while a show runs and stops when it is closed.
#pragma once

#include <cstdint>

namespace orb {

enum TLoadCallbackMode : int32_t {
    kLoadRun = 0,    // returns true at once
    kLoadYield = 1,  // gives up the time slice every 5 ms
    kLoadSleep = 2,  // sleeps 1 ms every 5 ms; the process runs at high priority
    kLoadStop = 3,   // returns false: loads stop at their next check
};

// Fits TStreamCallback; the user data is not used. False asks the load to stop.
bool LoadCallback(void* userData = nullptr);

// Set from the engine's control thread; read by loaders without a lock.
// Changing the mode restarts the 5 ms clock; entering mode 2 raises the process
// priority, leaving it puts the priority back. Modes outside 0..3 are ignored.
void SetLoadCallbackMode(int32_t mode);
int32_t LoadCallbackMode();

constexpr int32_t kLoadCallbackChunk = 32768;

}  // namespace orb
