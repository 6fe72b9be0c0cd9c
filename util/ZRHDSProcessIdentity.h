#pragma once
// ZRHDSProcessIdentity: which process did something, told apart from a
// later process that reuses its id: the process id, the process's start
// time (clock ticks since boot) and the machine's boot id. Machine-wide
// records (holder lists, intent records) carry it, and a record whose
// process is gone is a dead process's.
//
// Thread-safety: plain values; the functions read /proc only, and own()
// reads this process's start time once, safely from any thread.
#include <cstdint>
#include <string>

struct ZRHDSProcessIdentity {
  long pid = 0;
  uint64_t startTime = 0;
  std::string bootId;

  // This process (a forked child gets its own identity).
  static ZRHDSProcessIdentity own();
  // The machine's boot id ("-" when it cannot be read).
  static std::string currentBootId();
  // Start time of pid; 0 when the process is gone or a zombie.
  static uint64_t startTimeOf(long pid);

  // The process still runs: same boot, same id and the same start time.
  bool isLive() const;
  bool operator==(const ZRHDSProcessIdentity& o) const {
    return pid == o.pid && startTime == o.startTime && bootId == o.bootId;
  }
};
