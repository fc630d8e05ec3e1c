#pragma once

#include <functional>

namespace platform {

// Runs `fn` on the UI thread (the application object's thread) and blocks until it has run.
// Returns false, without running it, once ShutdownUiCalls() was called: a worker must never
// hang on a UI thread that no longer runs its loop. Runs `fn` at once when called on the UI thread.
bool RunOnUiThread(const std::function<void()>& fn);
// Queues `fn` to run on the UI thread and returns at once. Calls from one thread run in the order
// they were queued, also relative to RunOnUiThread calls of that thread. Dropped after
// ShutdownUiCalls(), like the blocking kind.
void PostToUiThread(std::function<void()> fn);
// Queues clean-up that must happen even while the program ends (a finished worker's deletion):
// unlike PostToUiThread, it still runs after ShutdownUiCalls().
void PostCleanUpToUiThread(std::function<void()> fn);

// Called on the UI thread at exit: pending and later calls return false without running.
void ShutdownUiCalls();
// For tests that start and stop the program's pieces more than once in one process.
void ResetUiCalls();

} // namespace platform
