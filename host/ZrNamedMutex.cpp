#include "host/ZrNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/CNqError.h"
#include "host/ZrClock.h"
#include "host/ZrPaths.h"
#include "host/ZrSafeFile.h"

namespace {

// The lock directory must be ours alone: a directory (not a link) owned by
// this process's user that nobody else may write, or another user could
// remove a held lock file and let a second job take the same lock. Created
// 0700 when missing. "" when usable, else why not.
std::string checkLockDir(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return CNqError::FromErrno(errno, "stat " + dir).AsString();
    ZrSafeFile::makeDirectories(dir, 0700);
    if (::lstat(dir.c_str(), &st) != 0)
      return CNqError::FromErrno(errno, "mkdir " + dir).AsString();
  }
  if (!S_ISDIR(st.st_mode)) return "lock directory " + dir + " is not a directory";
  if (st.st_uid != ::geteuid()) return "lock directory " + dir + " is owned by another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "lock directory " + dir + " is writable by group or others";
  }
  return "";
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
  m_error = checkLockDir(ZrPaths::lockDir());
  if (!m_error.empty()) return;
  // A regular file of 0600, never a link or FIFO planted at the path.
  m_fd = ZrSafeFile::openRegular(pathForName(m_name), O_RDWR | O_CREAT, 0600, &m_error);
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
