#pragma once
// A fake clock for tests: time stands still until a test advances it or code
// under test sleeps; sleepMillis advances both clocks at once and returns
// immediately. Install it for a scope with ZrScopedClock.
#include <cstdint>
#include <mutex>

#include "host/ZrClock.h"

// Installs clock (null restores the real clock) and returns the previous one.
// Test use only; defined in zrhost.
ZrClock* zrClockExchange(ZrClock* clock);

class ZrFakeClock : public ZrClock {
 public:
  explicit ZrFakeClock(int64_t startSeconds = 1700000000) : m_wallMillis(startSeconds * 1000) {}

  int64_t nowSeconds() override {
    std::lock_guard<std::mutex> g(m_mu);
    return m_wallMillis / 1000;
  }
  int64_t monotonicMillis() override {
    std::lock_guard<std::mutex> g(m_mu);
    return m_monoMillis;
  }
  void sleepMillis(int64_t ms) override {
    std::lock_guard<std::mutex> g(m_mu);
    ++m_sleepCalls;
    if (ms <= 0) return;
    m_sleptMillis += ms;
    m_wallMillis += ms;
    m_monoMillis += ms;
  }

  // Moves both clocks forward without counting it as sleep.
  void advanceMillis(int64_t ms) {
    std::lock_guard<std::mutex> g(m_mu);
    m_wallMillis += ms;
    m_monoMillis += ms;
  }
  void setNowSeconds(int64_t s) {
    std::lock_guard<std::mutex> g(m_mu);
    m_wallMillis = s * 1000;
  }
  // Sum of every sleepMillis argument so far.
  int64_t totalSleptMillis() {
    std::lock_guard<std::mutex> g(m_mu);
    return m_sleptMillis;
  }
  int sleepCalls() {
    std::lock_guard<std::mutex> g(m_mu);
    return m_sleepCalls;
  }

 private:
  std::mutex m_mu;
  int64_t m_wallMillis;
  int64_t m_monoMillis = 0;
  int64_t m_sleptMillis = 0;
  int m_sleepCalls = 0;
};

// Installs a clock for the life of the guard and restores the previous one.
class ZrScopedClock {
 public:
  explicit ZrScopedClock(ZrClock* clock) : m_previous(zrClockExchange(clock)) {}
  ~ZrScopedClock() { zrClockExchange(m_previous); }
  ZrScopedClock(const ZrScopedClock&) = delete;
  ZrScopedClock& operator=(const ZrScopedClock&) = delete;

 private:
  ZrClock* m_previous;
};
