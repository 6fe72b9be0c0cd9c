#pragma once
// The host's file type: a thin owner of one POSIX descriptor whose results
// are CNqError values (IsError() on failure, AsString() says why).
// Not thread-safe; one object per user.
#include <sys/stat.h>

#include <cstddef>
#include <string>

#include "host/CNqError.h"

class CNqFile {
 public:
  CNqFile() = default;
  ~CNqFile();  // closes a file still open
  CNqFile(const CNqFile&) = delete;
  CNqFile& operator=(const CNqFile&) = delete;

  // flags and mode as for open(2); O_CLOEXEC is always added. Opening while
  // a file is open closes the earlier one first.
  CNqError Open(const char* path, int flags, int mode);
  // Writes all length bytes unless an error occurs; *written (when not null)
  // receives the count actually written.
  CNqError Write(const void* data, size_t length, size_t* written);
  CNqError Flush();
  CNqError Close();
  bool IsOpen() const { return m_fd >= 0; }

  // An error when path cannot be stat'ed (for example it does not exist).
  static CNqError Stat(const char* path, struct stat* out = nullptr);
  // Reads the whole file into a new buffer of *length + 1 bytes (the extra
  // byte is 0). The caller frees *buffer with delete[]. On error *buffer is
  // null and *length 0.
  static CNqError ReadWholeFile(const char* path, char** buffer, size_t* length);

 private:
  int m_fd = -1;
  std::string m_path;
};
