#pragma once
// Jobs of one host process around a job of the fault matrix. A media agent
// runs for days, so what one job leaves in its process (holder entries,
// shared counts) meets the jobs that come after it there.
//
//  - zrStressNextJob: another job of the same process runs the clean life
//    cycle of an operation on its own devices (prepare up to that
//    operation, then delete), and the machine's idle invariants are checked
//    from inside the process, where its own holder entries are live.
//  - zrStressInterleaved: while job 0's operation holds the array's resource
//    lock (paused in its after-snap wait), the other job runs the same
//    operation: the lock count goes 1 -> 2 -> 1 -> 0, and one lock and one
//    unlock command reach the array.
//
// Each returns the failures it saw as texts (empty: held). Thread-safety:
// the calling thread only; the second job runs nested on it.
#include <string>
#include <vector>

#include "stress/ZrStressRig.h"

// The operations of the next job's life cycle for a cell of op.
std::vector<ZrStressOp> zrStressNextJobOps(ZrStressOp op);

// Runs job `next` of job's host through zrStressNextJobOps(op) from its
// fresh device states (an operation that fails ends the life cycle, then
// delete runs), then checks the idle invariants.
std::vector<std::string> zrStressNextJob(ZrStressJob& job, int next, ZrStressOp op,
                                         const std::string& dir);

// Runs op for job 0 from states, with job `second` running the same
// operation while job 0 holds the resource lock; *result: job 0's result.
// Then job `second` finishes its life cycle and the idle invariants are
// checked. Only operations with an after-snap wait under the lock
// (prepare) can be interleaved.
std::vector<std::string> zrStressInterleaved(ZrStressJob& job, int second, ZrStressOp op,
                                             const std::vector<ZrDeviceState>& states,
                                             ccisim::Fixture& sim, const std::string& dir,
                                             int* result);
