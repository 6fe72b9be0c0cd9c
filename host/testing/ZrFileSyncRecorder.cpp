#include "host/testing/ZrFileSyncRecorder.h"

#include <limits.h>

#include <cerrno>

#include "host/testing/ScopedTempDir.h"

int ZrFileSyncRecorder::sync(int fd) {
  char target[PATH_MAX] = {0};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
  Call call;
  call.target = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
  call.watchedContent = zrReadFile(m_watched);
  {
    std::lock_guard<std::mutex> g(m_mu);
    m_calls.push_back(call);
    const bool under = m_failFrom >= 0 && (call.target == m_failUnder ||
                                           call.target.rfind(m_failUnder + "/", 0) == 0);
    if (under && m_callsUnder++ >= m_failFrom) {
      errno = EIO;
      return -1;
    }
    if (static_cast<int>(m_calls.size()) - 1 == m_failCall) {
      errno = EIO;
      return -1;
    }
  }
  return ::fsync(fd);
}
