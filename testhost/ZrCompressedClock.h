#pragma once
// The test host's clock: real time, except that every wait of a second or
// more passes `scale` times faster. The plug-in's long pauses (30 s between
// pair-state checks, 20 s between map retries, 5 s between lock polls)
// then take a fraction of their real time while the simulator, which
// counts polls rather than seconds, sees the same sequence of commands.
// Reading the clock after such a wait shows the whole wait as passed, so
// every time-out of the plug-in still expires after the same number of
// polls. Child processes are timed by the process runner against the real
// clock, so their time-outs are unchanged.
//
// Thread-safety: all members may be called from any thread.
#include <atomic>
#include <cstdint>

#include "host/ZrClock.h"

class ZrCompressedClock : public ZrClock {
 public:
  // scale 1 is the real clock; waits shorter than compressFromMillis are
  // always real.
  explicit ZrCompressedClock(int scale, int64_t compressFromMillis = 1000);

  int64_t nowSeconds() override;
  int64_t monotonicMillis() override;
  void sleepMillis(int64_t ms) override;

  int scale() const { return m_scale; }
  // Milliseconds of waiting that the compression saved so far.
  int64_t savedMillis() const { return m_offset.load(); }

 private:
  int m_scale;
  int64_t m_compressFrom;
  std::atomic<int64_t> m_offset{0};
};
