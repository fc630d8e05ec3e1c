#pragma once

#include "platform/NoCopy.h"

namespace platform {

// The process-wide knobs the program sets at start-up, and the one scope a worker sets around a
// wait. Each says where its figures are.

// Raises the soft limit of open descriptors to the hard limit: every connection costs one, and
// a desktop session's default soft limit is far below what a busy server needs. Its figures:
// docs/BENCHMARKS.md, "The pool keeps one running worker per core (2026-12-09, fifth stop)"
// (2,000 connections held over a 1,024-descriptor limit).
void RaiseDescriptorLimit();
// Called once at start-up, before any worker runs: the allocator keeps one arena per core instead
// of up to eight. Every worker thread otherwise gets an arena of its own, and each arena keeps the
// memory its short-lived thread gave back, so a flood of connections left the program's resident
// memory megabytes higher for good. Its figures: docs/BENCHMARKS.md, "The threads run as batch
// work (2026-12-10, seventh stop): one run" (the resident memory after all loads).
void LimitAllocatorArenas();
// Called once at start-up, on the UI thread: it and every thread it starts afterwards (the
// pooled threads under the workers) are scheduled as batch work. Every request crosses threads
// (the listener on the UI thread wakes a pooled thread for it), and under load each such wake-up
// took the core from the thread running at that moment, usually one serving another request. As
// batch work a woken thread waits for its turn instead: the running one finishes its request
// and the UI thread accepts connections in larger batches. The UI thread still gets its full
// share of the processor; only its wake-ups no longer preempt other threads. False when the
// system refused it (the program then runs as before). Its figures: docs/BENCHMARKS.md, "The
// threads run as batch work (2026-12-10, seventh stop): one run", "What each change bought".
bool FavourThroughput();
// The toolkit's shared thread pool runs parts of large image operations, such as the window's
// drawing. Its threads are started here, while descriptors are plenty, and kept for good: each
// thread it started later would need a descriptor for its event source, and without one the
// toolkit ends the whole process, which a server out of descriptors must survive. A reliability
// knob: its figures (threads and descriptors held) are in docs/RELIABILITY.md, not among the
// benchmarks.
void KeepToolkitPoolThreads();

// Marks a wait whose end somebody waits for in turn (a connection's request still on its way):
// woken from it, a thread run as batch work would queue behind the running threads for up to a
// time slice, so for the span of such a wait it is scheduled normally and runs as soon as its
// input is there. Does nothing on a thread that is not batch work. Its figures:
// docs/BENCHMARKS.md, "The threads run as batch work (2026-12-10, seventh stop): one run", "What
// each change bought" (the prompt wake-up).
class PromptWakeScope : NoCopy {
public:
    PromptWakeScope();
    ~PromptWakeScope();

private:
    const bool switched_;
};

} // namespace platform
