#include "host/ZrClock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "host/NqSleep.h"

namespace {

class RealClock : public ZrClock {
 public:
  int64_t nowSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  int64_t monotonicMillis() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepMillis(int64_t ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  bool isRealTime() const override { return true; }
};

RealClock& realClock() {
  static RealClock clock;
  return clock;
}

std::atomic<ZrClock*> g_installed{nullptr};

}  // namespace

ZrClock::~ZrClock() = default;

ZrClock& ZrClock::get() {
  ZrClock* c = g_installed.load(std::memory_order_acquire);
  return c != nullptr ? *c : realClock();
}

// Declared for tests only, in host/testing/ZrFakeClock.h.
ZrClock* zrClockExchange(ZrClock* clock) {
  return g_installed.exchange(clock, std::memory_order_acq_rel);
}

void NQSLEEP_InTeRnAl(unsigned long milliseconds, const char* /*file*/, int /*line*/) {
  ZrClock::get().sleepMillis(static_cast<int64_t>(milliseconds));
}
