#pragma once
// Installing a watcher of the named mutexes (host/ZrNamedMutex.h), for tests
// and the stress program only.
#include "host/ZrNamedMutex.h"

// Installs observer (null: none) and returns the previous one. Defined in
// zrhost.
ZrLockObserver* zrLockObserverExchange(ZrLockObserver* observer);

// Installs an observer for the life of the guard and restores the previous.
class ZrScopedLockObserver {
 public:
  explicit ZrScopedLockObserver(ZrLockObserver* observer)
      : m_previous(zrLockObserverExchange(observer)) {}
  ~ZrScopedLockObserver() { zrLockObserverExchange(m_previous); }
  ZrScopedLockObserver(const ZrScopedLockObserver&) = delete;
  ZrScopedLockObserver& operator=(const ZrScopedLockObserver&) = delete;

 private:
  ZrLockObserver* m_previous;
};
