#include "stress/ZrLockTimer.h"

#include <chrono>
#include <mutex>

#include "host/testing/ZrLockObserverSwap.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

class LockTimer : public ZrLockObserver {
 public:
  void acquired(const ZrNamedMutex& m) override {
    std::lock_guard<std::mutex> g(m_mutex);
    const Clock::time_point now = Clock::now();
    if (m_held.empty()) m_firstHeld = now;
    m_held[&m] = now;
    ++m_totals.acquisitions;
    m_active = true;
  }
  void released(const ZrNamedMutex& m) override {
    std::lock_guard<std::mutex> g(m_mutex);
    auto it = m_held.find(&m);
    if (it == m_held.end()) return;
    const Clock::time_point now = Clock::now();
    m_totals.byName[m.name()] += seconds(it->second, now);
    m_held.erase(it);
    if (m_held.empty()) m_totals.heldSeconds += seconds(m_firstHeld, now);
  }
  void reset() {
    std::lock_guard<std::mutex> g(m_mutex);
    m_totals = ZrLockTotals();
    m_held.clear();
  }
  ZrLockTotals totals() {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_totals;
  }
  bool active() {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_active;
  }

 private:
  std::mutex m_mutex;
  std::map<const ZrNamedMutex*, Clock::time_point> m_held;
  Clock::time_point m_firstHeld;
  ZrLockTotals m_totals;
  bool m_active = false;
};

LockTimer& timer() {
  static LockTimer* t = [] {
    LockTimer* created = new LockTimer;  // outlives every static destructor
    zrLockObserverExchange(created);
    return created;
  }();
  return *t;
}

}  // namespace

void zrLockTimerReset() { timer().reset(); }
ZrLockTotals zrLockTimerTotals() { return timer().totals(); }
bool zrLockTimerActive() { return timer().active(); }
