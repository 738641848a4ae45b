#pragma once

// Background work (discovery, search and listing threads, SMB helper processes) runs a few
// nice steps below the thread that draws the window. On a busy machine the window's thread then
// gets a CPU first when it wakes, and the background takes every cycle it leaves; with nothing
// else running, the background's speed is the same.

// Nice steps the background runs below the program's own priority.
constexpr int kBackgroundNiceSteps = 10;

// Lowers the priority of the calling thread only (Linux keeps a nice value per thread). Call
// it first thing on a worker thread. Failure is harmless and ignored.
void LowerThreadPriority();

// Lowers the priority of the whole calling process (the SMB helper, at its start).
void LowerProcessPriority();
