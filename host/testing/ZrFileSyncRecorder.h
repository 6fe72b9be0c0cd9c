#pragma once
// A flush for tests: every sync of a durable replacement is recorded with
// what the descriptor names and what the watched path held at that moment,
// then done for real (or failed, when told so). Install it for a scope with ZrScopedFileSync.
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "host/ZrSafeFile.h"

// Installs sync (null restores the real flush) and returns the previous one.
// Test use only; defined in zrhost.
ZrFileSync* zrFileSyncExchange(ZrFileSync* sync);

class ZrFileSyncRecorder : public ZrFileSync {
 public:
  struct Call {
    std::string target;         // what the descriptor names (/proc/self/fd)
    std::string watchedContent;  // the watched path's content at the flush
  };
  explicit ZrFileSyncRecorder(std::string watched) : m_watched(std::move(watched)) {}
  // The call of this index (0 the first) fails with EIO instead.
  void failCall(int index) { m_failCall = index; }
  // Of the calls whose target lies under dir, the one of this index and
  // every later one fail with EIO (a disk that filled up stays full).
  void failFrom(int index, std::string dir) {
    m_failFrom = index;
    m_failUnder = std::move(dir);
  }

  int sync(int fd) override;
  std::vector<Call> calls() {
    std::lock_guard<std::mutex> g(m_mu);
    return m_calls;
  }

 private:
  std::mutex m_mu;
  std::string m_watched;
  std::vector<Call> m_calls;
  int m_failCall = -1;
  int m_failFrom = -1;
  std::string m_failUnder;
  int m_callsUnder = 0;
};

class ZrScopedFileSync {
 public:
  explicit ZrScopedFileSync(ZrFileSync* sync) : m_previous(zrFileSyncExchange(sync)) {}
  ~ZrScopedFileSync() { zrFileSyncExchange(m_previous); }
  ZrScopedFileSync(const ZrScopedFileSync&) = delete;
  ZrScopedFileSync& operator=(const ZrScopedFileSync&) = delete;

 private:
  ZrFileSync* m_previous;
};
