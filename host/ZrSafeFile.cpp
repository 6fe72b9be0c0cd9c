#include "host/ZrSafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/CNqError.h"

namespace ZrSafeFile {

namespace {

void setError(std::string* error, int err, const std::string& what) {
  if (error != nullptr) *error = CNqError::FromErrno(err, what).AsString();
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int openRegularNonblocking(const std::string& path, int flags, mode_t mode, std::string* error) {
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    int err = errno;
    setError(error, err, "open " + path);
    errno = err;
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error != nullptr) *error = "open " + path + ": not a regular file";
    errno = EINVAL;
    return -1;
  }
  return fd;
}

int openRegular(const std::string& path, int flags, mode_t mode, std::string* error) {
  int fd = openRegularNonblocking(path, flags, mode, error);
  if (fd < 0) return -1;
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

bool readRegular(const std::string& path, std::string* content, size_t maxBytes, std::string* error,
                 bool* missing) {
  if (missing != nullptr) *missing = false;
  int fd = openRegular(path, O_RDONLY, 0, error);
  if (fd < 0) {
    if (missing != nullptr) *missing = errno == ENOENT;
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    setError(error, errno, "stat " + path);
    ::close(fd);
    return false;
  }
  if (maxBytes > 0 && static_cast<unsigned long long>(st.st_size) > maxBytes) {
    if (error != nullptr) *error = "read " + path + ": file too large";
    ::close(fd);
    return false;
  }
  std::string text;
  text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      setError(error, errno, "read " + path);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (maxBytes > 0 && text.size() > maxBytes) {
      if (error != nullptr) *error = "read " + path + ": file too large";
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  if (content != nullptr) content->swap(text);
  return true;
}

bool replaceAtomically(const std::string& path, const std::string& content, mode_t mode,
                       std::string* error, Durability durability, const std::string& writerTag) {
  const bool durable = durability == Durability::kDurable;
  std::string tmpl = path + ".tmp." + (writerTag.empty() ? "" : writerTag + ".") + "XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    setError(error, errno, "create " + tmpl);
    return false;
  }
  // Flushed before the rename: a crash after it must never find the name
  // pointing at a file whose content was not yet written.
  errno = 0;
  bool ok = writeAll(fd, content) && ::fchmod(fd, mode) == 0 &&
            (!durable || ZrFileSync::get().sync(fd) == 0);
  int err = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(name.data(), path.c_str()) == 0) {
    if (!durable) return true;
    // The rename lives in the directory: flushed after it.
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0 && ZrFileSync::get().sync(dirFd) == 0) {
      ::close(dirFd);
      return true;
    }
    setError(error, errno, "flush directory " + dir + " after replacing " + path);
    if (dirFd >= 0) ::close(dirFd);
    return false;
  }
  err = errno != 0 ? errno : err;
  setError(error, err, "replace " + path);
  ::unlink(name.data());
  return false;
}

bool appendDurably(const std::string& path, const std::string& text, std::string* error) {
  const int fd = openRegular(path, O_WRONLY | O_APPEND, 0, error);
  if (fd < 0) return false;
  const bool written = writeAll(fd, text);
  const int err = errno;
  if (written && ZrFileSync::get().sync(fd) == 0) {
    ::close(fd);
    return true;
  }
  setError(error, written ? errno : err, (written ? "flush " : "append to ") + path);
  ::close(fd);
  return false;
}

bool removeDurably(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    setError(error, errno, "remove " + path);
    return false;
  }
  // The removal lives in the directory: flushed after it.
  const size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0 && ZrFileSync::get().sync(dirFd) == 0) {
    ::close(dirFd);
    return true;
  }
  setError(error, errno, "flush directory " + dir + " after removing " + path);
  if (dirFd >= 0) ::close(dirFd);
  return false;
}

bool flushDirectory(const std::string& dir, std::string* error) {
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0 && ZrFileSync::get().sync(dirFd) == 0) {
    ::close(dirFd);
    return true;
  }
  setError(error, errno, "flush directory " + dir);
  if (dirFd >= 0) ::close(dirFd);
  return false;
}

std::string privateDirectoryProblem(const std::string& dir, const std::string& what) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return CNqError::FromErrno(errno, "stat " + dir).AsString();
    makeDirectories(dir, 0700);
    if (::lstat(dir.c_str(), &st) != 0) {
      return CNqError::FromErrno(errno, "mkdir " + dir).AsString();
    }
  }
  if (!S_ISDIR(st.st_mode)) return what + " " + dir + " is not a directory";
  if (st.st_uid != ::geteuid()) return what + " " + dir + " is owned by another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return what + " " + dir + " is writable by group or others";
  }
  return "";
}

void removeStaleTemporaries(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    if (std::strlen(e->d_name) != prefix.size() + 6) continue;  // mkostemp's six letters
    ::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

bool makeDirectories(const std::string& dir, mode_t mode) {
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') {
      std::string part = dir.substr(0, p);
      const bool last = p == dir.size();
      if (::mkdir(part.c_str(), last ? mode : 0755) == 0 && last) ::chmod(part.c_str(), mode);
    }
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace ZrSafeFile

namespace {

class RealFileSync : public ZrFileSync {
 public:
  int sync(int fd) override {
    int rc;
    do {
      rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    return rc;
  }
};

std::atomic<ZrFileSync*> g_installedSync{nullptr};

}  // namespace

ZrFileSync::~ZrFileSync() = default;

ZrFileSync& ZrFileSync::get() {
  static RealFileSync real;
  ZrFileSync* s = g_installedSync.load(std::memory_order_acquire);
  return s != nullptr ? *s : real;
}

// Declared for tests only, in host/testing/ZrFileSyncRecorder.h.
ZrFileSync* zrFileSyncExchange(ZrFileSync* sync) {
  return g_installedSync.exchange(sync, std::memory_order_acq_rel);
}
