#pragma once
// The fault matrix: every fault kind of the simulator injected at every
// command of every operation of a life cycle (four devices), each cell run
// by a job in a child process from the state before that operation.
//
// A cell holds when the job did not crash or hang, a failed operation left
// an error code and text on the group's first device (where the host reads
// a group's failure) and no device reports success it did not reach, no
// array object (pair and its state, S-VOL, LU path) is left that is neither
// the state before the operation nor the state after a clean run of it,
// unless the job's deletion then removes it, the login count is back to 0,
// no named lock and no holder-count entry is held, no resource group is
// locked, and no process of the job is still running.
#include <ostream>
#include <string>

struct ZrFaultMatrixOptions {
  std::string dir;     // work directory (one sub-directory per worker)
  bool full = false;   // every position; false: one position per kind and operation
  int workers = 3;     // processes running cells side by side
  std::string report;  // "" none: the table and every failed cell in Markdown
};

// Prints the table to out; returns the number of failed cells (-1 when the
// rig could not be set up).
int zrRunFaultMatrix(const ZrFaultMatrixOptions& options, std::ostream& out);
