#pragma once
// Time this process spends inside the host's machine-wide named locks.
//
// The stress program defines ZrNamedMutex::lock and ::unlock itself (and
// exports them), so the loaded plug-in's calls reach these first; each
// forwards to the host library's own function (dlsym RTLD_NEXT) and notes
// when a lock was taken and given back. The lock-bound time is the time in
// which at least one lock was held (nested holdings count once).
//
// Thread-safety: all functions may be called from any thread.
#include <map>
#include <string>

struct ZrLockTotals {
  double heldSeconds = 0;                // at least one lock held
  long acquisitions = 0;                 // successful lock() calls
  std::map<std::string, double> byName;  // seconds each name was held
};

void zrLockTimerReset();
ZrLockTotals zrLockTimerTotals();
// True when the plug-in's lock calls reach this timer (the interposition
// is in effect).
bool zrLockTimerActive();
