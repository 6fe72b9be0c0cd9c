#pragma once
// The one replaceable clock of the process. Every sleep, wait and time read
// of the plug-in goes through ZrClock::get(), so tests can install a fake
// clock (host/testing/ZrFakeClock.h) and run waits in no real time.
// Thread-safety: get() may be called from any thread; the clock returned must
// itself be thread-safe.
#include <cstdint>

class ZrClock {
 public:
  virtual ~ZrClock();
  // Wall time in whole seconds since the epoch, like time(nullptr).
  virtual int64_t nowSeconds() = 0;
  // A clock that never goes backwards, in milliseconds; only differences
  // between two readings mean anything.
  virtual int64_t monotonicMillis() = 0;
  // Blocks the calling thread for about ms milliseconds (no-op when ms <= 0).
  virtual void sleepMillis(int64_t ms) = 0;
  // The clock in force: the real clock unless a test installed another.
  static ZrClock& get();
  // True for the real clock only: waits may then block in the kernel with
  // real time-outs instead of sleeping on this clock.
  virtual bool isRealTime() const { return false; }
};
