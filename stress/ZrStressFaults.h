#pragma once
// The fault matrix: every fault kind of the simulator injected at every
// command of every operation of a life cycle (four devices), each cell run
// by a job in a child process from the state before that operation.
//
// Besides the faults that fire once: lasting faults (from the cell's command
// on, every later run of that command form fails, the runs of destructors
// and clean-up included: exit code, refusal, statusError, statusReset), and an
// interleaved cell (a second job of the process prepares while the first
// holds the resource lock: lock count 1 -> 2 -> 1 -> 0, one lock and one
// unlock command). After each cell (the short form: after each lasting
// one) the next job of the same host process runs the operation's clean
// life cycle on its own devices, with the faults cleared, and the idle
// invariants are checked again from inside that process.
//
// A cell holds when the job did not crash or hang, a failed operation left
// an error code and text on the group's first device (where the host reads
// a group's failure) and no device reports success it did not reach, no
// array object (pair and its state, S-VOL, LU path) is left that is neither
// the state before the operation nor the state after a clean run of it,
// unless the job's deletion then removes it (an LDEV the array could not
// prove the job's is left unlabelled for an administrator: a kept record of
// the job must name it, and the table counts such cells), the login count
// is back to 0, no named lock and no holder-count entry is held, no
// resource group is locked, and no process of the job is still running.
#include <ostream>
#include <string>

struct ZrFaultMatrixOptions {
  std::string dir;     // work directory (one sub-directory per worker)
  bool full = false;   // every position; false: one position per kind and operation
  int workers = 3;     // processes running cells side by side
  std::string report;  // "" none: the table and every failed cell in Markdown
  std::string kinds;   // "" all; else the kinds to run, joined by ","
};

// Prints the table to out; returns the number of failed cells (-1 when the
// rig could not be set up).
int zrRunFaultMatrix(const ZrFaultMatrixOptions& options, std::ostream& out);
