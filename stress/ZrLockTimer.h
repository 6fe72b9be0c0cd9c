#pragma once
// Time this process spends inside the host's machine-wide named locks,
// measured through the named mutex's observer (host/ZrNamedMutex.h,
// installed with host/testing/ZrLockObserverSwap.h): it notes when a lock is
// taken and given back. The lock-bound time is the time in which at least
// one lock was held (nested holdings count once).
//
// Thread-safety: all functions may be called from any thread.
#include <map>
#include <string>

struct ZrLockTotals {
  double heldSeconds = 0;                // at least one lock held
  long acquisitions = 0;                 // successful lock() calls
  std::map<std::string, double> byName;  // seconds each name was held
};

// Installs the timer (once) and starts the totals afresh.
void zrLockTimerReset();
ZrLockTotals zrLockTimerTotals();
// True when the plug-in's lock calls have reached this timer.
bool zrLockTimerActive();
