#include "stress/ZrLockTimer.h"

#include <dlfcn.h>

#include <chrono>
#include <mutex>

#include "host/ZrNamedMutex.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  std::mutex mutex;
  std::map<const ZrNamedMutex*, Clock::time_point> held;
  Clock::time_point firstHeld;
  ZrLockTotals totals;
  bool active = false;
};

Timer& timer() {
  static Timer* t = new Timer;  // outlives every static destructor
  return *t;
}

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

template <class Fn>
Fn next(const char* symbol) {
  return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, symbol));
}

void released(const ZrNamedMutex* m) {
  Timer& t = timer();
  std::lock_guard<std::mutex> g(t.mutex);
  auto it = t.held.find(m);
  if (it == t.held.end()) return;
  const Clock::time_point now = Clock::now();
  t.totals.byName[m->name()] += seconds(it->second, now);
  t.held.erase(it);
  if (t.held.empty()) t.totals.heldSeconds += seconds(t.firstHeld, now);
}

}  // namespace

// ---- the interposed members of the host's named mutex ----

int ZrNamedMutex::lock(unsigned long milliseconds) {
  typedef int (*LockFn)(ZrNamedMutex*, unsigned long);
  static const LockFn real = next<LockFn>("_ZN12ZrNamedMutex4lockEm");
  const bool before = isHeld();
  const int result = real(this, milliseconds);
  if (result != 0 && !before) {
    Timer& t = timer();
    std::lock_guard<std::mutex> g(t.mutex);
    const Clock::time_point now = Clock::now();
    if (t.held.empty()) t.firstHeld = now;
    t.held[this] = now;
    ++t.totals.acquisitions;
    t.active = true;
  }
  return result;
}

void ZrNamedMutex::unlock() {
  typedef void (*UnlockFn)(ZrNamedMutex*);
  static const UnlockFn real = next<UnlockFn>("_ZN12ZrNamedMutex6unlockEv");
  released(this);
  real(this);
}

void zrLockTimerReset() {
  Timer& t = timer();
  std::lock_guard<std::mutex> g(t.mutex);
  t.totals = ZrLockTotals();
  t.held.clear();
}

ZrLockTotals zrLockTimerTotals() {
  Timer& t = timer();
  std::lock_guard<std::mutex> g(t.mutex);
  return t.totals;
}

bool zrLockTimerActive() {
  Timer& t = timer();
  std::lock_guard<std::mutex> g(t.mutex);
  return t.active;
}
