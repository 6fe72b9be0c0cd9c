#include "host/ZrNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/CNqError.h"
#include "host/ZrClock.h"
#include "host/ZrPaths.h"

namespace {

void makeDirs(const std::string& dir) {
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') ::mkdir(dir.substr(0, p).c_str(), 0777);
  }
}

}  // namespace

std::string ZrNamedMutex::pathForName(const std::string& name) {
  return ZrPaths::lockDir() + "/zrmutex_" + ZrPaths::safeFileName(name) + ".lock";
}

ZrNamedMutex::ZrNamedMutex(const char* name) : m_name(name != nullptr ? name : "") {
  if (m_name.empty()) {
    m_error = "empty mutex name";
    return;
  }
  std::string path = pathForName(m_name);
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (m_fd < 0 && errno == ENOENT) {
    makeDirs(ZrPaths::lockDir());
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  }
  if (m_fd < 0) m_error = CNqError::FromErrno(errno, "open " + path).AsString();
}

ZrNamedMutex::~ZrNamedMutex() {
  unlock();
  if (m_fd >= 0) ::close(m_fd);
}

int ZrNamedMutex::lock(unsigned long milliseconds) {
  if (m_fd < 0) return 0;
  if (m_held) return 1;
  ZrClock& clock = ZrClock::get();
  const int64_t deadline = clock.monotonicMillis() + static_cast<int64_t>(milliseconds);
  int64_t step = 1;
  for (;;) {
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
      m_held = true;
      return 1;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return 0;
    int64_t left = deadline - clock.monotonicMillis();
    if (left <= 0) return 0;
    clock.sleepMillis(step < left ? step : left);
    if (step < 50) step *= 2;
  }
}

void ZrNamedMutex::unlock() {
  if (!m_held) return;
  ::flock(m_fd, LOCK_UN);
  m_held = false;
}
