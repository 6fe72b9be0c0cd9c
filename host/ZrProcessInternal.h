#pragma once
// Shared by the files of the process runner (host/ZrProcess.h):
//   ZrProcess.cpp            the object: start, wait, streams, time-out
//   ZrProcessDirect.cpp      the direct path: the command is the runner's
//                            child (the host leaves SIGCHLD alone)
//   ZrProcessSupervised.cpp  the supervised path: a supervisor between
//                            runner and command reaps and reports it
//   ZrProcessWatcher.cpp     the process's group watcher: ends the commands
//                            of the direct path when the runner's process dies
//   ZrProcessTree.cpp        finding and ending a command's whole tree
//
// Everything declared here that runs in a child before its exec, in the
// supervisor or in the watcher is async-signal-safe: system calls only, no
// allocation, no lock (those processes are forks of a host that may have
// had other threads).
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/ZrProcess.h"

// What a child needs to become the command, prepared by the runner before it
// forks (nothing is allocated afterwards).
struct ZrChildSetup {
  char** argv;
  int devNull;
  int outFd;  // -1: leave as inherited
  int errFd;
  int statusFd;  // supervisor -> runner (supervised path only)
  int lifeFd;    // read end; end of file: the runner is gone (supervised path only)
  long maxFd;
};

namespace zrproc {

// Messages of the supervisor on the status pipe, each one atomic write.
enum : int32_t { kMsgStarted = 1, kMsgExecFailed = 2, kMsgExited = 3 };
struct StatusMessage {
  int32_t type;
  int32_t value;  // errno of a failed exec, or the command's wait status
};

// How long the group gets to end after SIGTERM before SIGKILL.
constexpr long kTermGraceMillis = 500;
// How often a wait without a pidfd looks at its command.
constexpr int kPollMillis = 10;

long nowMillis();
// A descriptor of fd at 3 or above, close-on-exec; the original is closed.
// Keeps the child's dup2 onto 0-2 from clobbering a pipe that happens to sit
// there when the host runs with a standard stream closed.
int moveAbove2(int fd);
void closeFd(int& fd);
// The highest descriptor number worth closing in a child.
long maxDescriptors();
// Closes every descriptor above 2 except the ones in keep.
void closeAllBut(const int* keep, int count, long maxFd);
// Every signal back to its default disposition that survives an exec
// (ignored ones; handled ones are reset by the exec itself), then the
// empty mask.
void defaultSignalsForExec();
// Every disposition to its default and the empty mask (the supervisor and
// the watcher, which run our code rather than exec).
void defaultAllSignals();
// A session and process group of its own, with no controlling terminal: a
// tool that prompts fails at once, and no signal of the terminal reaches
// it. Outside the job's session the group is never orphaned by the job's
// end, so the kernel never hangs up and continues a stopped command when
// the job dies (that would end the command, and hand what left its session
// to init, before its tree is walked).
void leadOwnSession();
// Standard streams and no other descriptor; false (errno set) when they
// could not be set up.
bool takeStandardStreams(const ZrChildSetup& c);
// takeStandardStreams, then the exec; returns only when either failed
// (errno set).
void execCommand(const ZrChildSetup& c);
// Tests only: run by a direct command's child just before its exec (while
// it shares the runner's memory: system calls only). Null otherwise.
extern void (*g_directChildBeforeExec)();

// ---- The command's whole tree (ZrProcessTree.cpp) ----
//
// A command's root (the direct child, or the supervisor) is a child
// subreaper: whatever its tree leaves orphaned is re-parented to it, so
// every live process of the tree descends from the root while the root
// lives, also one that started a session of its own (setsid) and whose
// parent has gone. The tree is found by reading /proc.

// Scratch memory of a tree walk, mapped once per walk (no allocation).
struct TreeScratch;
TreeScratch* mapTreeScratch();
void unmapTreeScratch(TreeScratch* s);

// Sends sig to every live descendant of root (root itself excluded), again
// and again until a walk finds none left or the rounds run out; with
// outsideGroupOnly, only to those outside group (the processes that left
// the command's group, which a group signal misses). Returns how many
// processes were signalled in all.
int signalDescendants(TreeScratch* s, pid_t root, pid_t group, bool outsideGroupOnly, int sig);
// Ends root's whole tree at once: root is stopped (so that it stays to
// adopt what its tree leaves), every descendant is killed, then the group
// and root itself. A root whose /proc entry does not lead a session of its
// own is left alone (its pid was reused).
void killTree(TreeScratch* s, pid_t root);

// ---- The group watcher (ZrProcessWatcher.cpp) ----
//
// One small process per runner process that ends the tree of every direct
// command still running when the runner's process dies. A command
// registers itself in a slot of a table shared with the watcher before it
// execs (a store into shared memory: no system call, no wake-up of the
// watcher); the watcher reads the table only when the runner's process is
// gone.

// Reserves a slot for a command about to start, starting the watcher first
// when this process has none (or its watcher died). Null when no watcher
// can be had.
std::atomic<int32_t>* reserveWatchSlot();
// Async-signal-safe: the command's own pid into its slot (the child does
// this before its exec).
void publishWatchSlot(std::atomic<int32_t>* slot, pid_t pid);
// The command has been reaped, or never started: the slot is free again.
void releaseWatchSlot(std::atomic<int32_t>* slot);

}  // namespace zrproc

// The descriptors of one start; whatever a path did not take over is closed.
struct ZrProcess::Descriptors {
  int devNull = -1;
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  // The child's ends, once the child has them.
  void closeChildEnds() {
    zrproc::closeFd(out[1]);
    zrproc::closeFd(err[1]);
    zrproc::closeFd(devNull);
  }
  ~Descriptors() {
    closeChildEnds();
    zrproc::closeFd(out[0]);
    zrproc::closeFd(err[0]);
  }
};
