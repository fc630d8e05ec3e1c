#pragma once

#include "platform/NoCopy.h"

namespace platform {

class TThread;

// The operating-system threads under the workers (TThread): kept for a while and reused, since
// the server starts one worker per connection and creating a thread costs more than most
// requests. About one worker per core runs outside its waits; the others wait their turn.

// Queues `worker` for a pooled thread. False when no thread could be found or started for it
// (see ThreadBudget): it is then not queued and never runs.
bool SubmitToPool(TThread* worker);
// Operating-system threads kept for workers, running or idle.
int PoolThreadCount();
// How long an idle pooled thread waits for the next worker before it ends; TThread::kIdleMs
// unless a test that must see threads end changes it. Applies to waits begun afterwards.
void SetPoolIdleMs(int ms);

// Marks a stretch in which the calling worker waits (for its peer, the UI thread, a module): the
// pool then lets another worker run in its place. Does nothing on threads that run no worker.
class BlockingScope : NoCopy {
public:
    BlockingScope();
    ~BlockingScope();

private:
    const bool counted_;
};

} // namespace platform
