#include "util/ZRHDSProcessIdentity.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <sstream>

#include "host/ZrSafeFile.h"

namespace {

std::string readSmallFile(const std::string& path) {
  std::string text;
  std::string ignored;
  ZrSafeFile::readRegular(path, &text, 4096, &ignored);
  return text;
}

}  // namespace

std::string ZRHDSProcessIdentity::currentBootId() {
  static const std::string id = [] {
    std::string t = readSmallFile("/proc/sys/kernel/random/boot_id");
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    return t.empty() ? std::string("-") : t;
  }();
  return id;
}

uint64_t ZRHDSProcessIdentity::startTimeOf(long pid) {
  if (pid <= 0) return 0;
  std::string stat = readSmallFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream in(stat.substr(close + 1));
  std::string field;
  // Fields after the command: 3 state, ..., 22 start time.
  if (!(in >> field) || field == "Z" || field == "X" || field == "x") return 0;
  for (int i = 4; i <= 22; ++i) {
    if (!(in >> field)) return 0;
  }
  return std::strtoull(field.c_str(), nullptr, 10);
}

ZRHDSProcessIdentity ZRHDSProcessIdentity::own() {
  // The start time is read once per process: the id it belongs to is
  // published after it, so a thread that sees its own id sees that id's
  // start time (threads that race both write the same value), and a forked
  // child, whose id differs, reads its own. A start time that could not be
  // read (0) is not kept: the next call reads it again.
  static std::atomic<uint64_t> cachedStart{0};
  static std::atomic<long> cachedPid{0};
  const long pid = static_cast<long>(::getpid());
  ZRHDSProcessIdentity self;
  self.pid = pid;
  if (cachedPid.load(std::memory_order_acquire) == pid) {
    self.startTime = cachedStart.load(std::memory_order_relaxed);
  } else {
    self.startTime = startTimeOf(pid);
    if (self.startTime != 0) {
      cachedStart.store(self.startTime, std::memory_order_relaxed);
      cachedPid.store(pid, std::memory_order_release);
    }
  }
  self.bootId = currentBootId();
  return self;
}

bool ZRHDSProcessIdentity::isLive() const {
  return bootId == currentBootId() && startTime != 0 && startTimeOf(pid) == startTime;
}
