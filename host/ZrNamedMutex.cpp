#include "host/ZrNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "host/CNqError.h"
#include "host/ZrClock.h"
#include "host/ZrPaths.h"

namespace {

// Letters, digits, '-', '_' and '.' stand for themselves; every other byte
// becomes %XX, so distinct names never share a file. Very long names keep a
// readable head and a hash of the whole.
std::string safeFileName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  if (out.size() > 180) {
    char hash[32];
    std::snprintf(hash, sizeof(hash), "#%016zx", std::hash<std::string>()(name));
    out = out.substr(0, 160) + hash;
  }
  return "zrmutex_" + out + ".lock";
}

void makeDirs(const std::string& dir) {
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') ::mkdir(dir.substr(0, p).c_str(), 0777);
  }
}

}  // namespace

std::string ZrNamedMutex::pathForName(const std::string& name) {
  return ZrPaths::lockDir() + "/" + safeFileName(name);
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
