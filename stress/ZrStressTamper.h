#pragma once
// The tampered-record matrix: every field of the stored records 6, 65, 68,
// 75 and 90 of one device, set to each hostile value (cut, overlong,
// non-numeric, negative, out of range, another job's object, the job's own
// source, another array), before each operation of the life cycle, on an
// array that holds a second job's pairs, S-VOLs and LU paths beside the
// job's. Each cell is run by a job in a child process from the state before
// that operation.
//
// A cell holds when the job did not crash or hang; no command that changes
// an LU path, a label, an association, a pair or an LDEV named an object
// that is not provably the job's (the simulator's journal: a snapshot
// command names one of the job's sources, any other one of the job's
// S-VOLs or an LDEV the operation created); nothing of the other job (its
// pairs, S-VOLs, labels, LU paths) and nothing of the sources changed; a
// device that reports the operation's success status holds the pairs,
// S-VOLs and LU paths a clean run leaves; and a device that did not reach
// the operation's success status has an error
// code and text (the tampered device its own, the others on the group's
// first device, where the host reads a group's failure).
#include <ostream>
#include <string>

struct ZrTamperMatrixOptions {
  std::string dir;     // work directory (one sub-directory per worker)
  bool full = false;   // every cell; false: a sample
  int workers = 3;     // processes running cells side by side
  std::string report;  // "" none: the table and every failed cell in Markdown
};

// Prints the table to out; returns the number of failed cells (-1 when the
// rig could not be set up).
int zrRunTamperMatrix(const ZrTamperMatrixOptions& options, std::ostream& out);
