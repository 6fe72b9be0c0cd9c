#include "host/CNqFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CNqFile::~CNqFile() {
  if (m_fd >= 0) ::close(m_fd);
}

CNqError CNqFile::Open(const char* path, int flags, int mode) {
  if (m_fd >= 0) Close();
  if (path == nullptr) return CNqError(-EINVAL, "open: no path given");
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return CNqError::FromErrno(errno, std::string("open ") + path);
  m_fd = fd;
  m_path = path;
  return CNqError::Success();
}

CNqError CNqFile::Write(const void* data, size_t length, size_t* written) {
  size_t done = 0;
  if (written != nullptr) *written = 0;
  if (m_fd < 0) return CNqError(-EBADF, "write: file is not open");
  const char* p = static_cast<const char*>(data);
  while (done < length) {
    ssize_t n = ::write(m_fd, p + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written != nullptr) *written = done;
      return CNqError::FromErrno(errno, "write " + m_path);
    }
    done += static_cast<size_t>(n);
  }
  if (written != nullptr) *written = done;
  return CNqError::Success();
}

CNqError CNqFile::Flush() {
  if (m_fd < 0) return CNqError(-EBADF, "flush: file is not open");
  if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
    return CNqError::FromErrno(errno, "fsync " + m_path);
  return CNqError::Success();
}

CNqError CNqFile::Close() {
  if (m_fd < 0) return CNqError::Success();
  int rc = ::close(m_fd);
  m_fd = -1;
  // After close(2) the descriptor is gone even when it reports EINTR.
  if (rc != 0 && errno != EINTR) return CNqError::FromErrno(errno, "close " + m_path);
  return CNqError::Success();
}

CNqError CNqFile::Stat(const char* path, struct stat* out) {
  struct stat st;
  if (path == nullptr) return CNqError(-EINVAL, "stat: no path given");
  if (::stat(path, &st) != 0) return CNqError::FromErrno(errno, std::string("stat ") + path);
  if (out != nullptr) *out = st;
  return CNqError::Success();
}

CNqError CNqFile::ReadWholeFile(const char* path, char** buffer, size_t* length) {
  if (buffer != nullptr) *buffer = nullptr;
  if (length != nullptr) *length = 0;
  if (path == nullptr || buffer == nullptr || length == nullptr)
    return CNqError(-EINVAL, "read: bad arguments");
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CNqError::FromErrno(errno, std::string("open ") + path);
  std::string data;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof(chunk));
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      ::close(fd);
      return CNqError::FromErrno(e, std::string("read ") + path);
    }
    if (n == 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  char* out = new char[data.size() + 1];
  std::memcpy(out, data.data(), data.size());
  out[data.size()] = '\0';
  *buffer = out;
  *length = data.size();
  return CNqError::Success();
}
