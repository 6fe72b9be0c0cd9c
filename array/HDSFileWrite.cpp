#include "array/HDSFileWrite.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace HDSFile {

bool writeAll(int fd, const std::string& data, std::string& why) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      why = strerror(errno);
      return false;
    }
    if (n == 0) {
      why = "short write";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool writeAndClose(int fd, const std::string& data, std::string& why) {
  bool written = writeAll(fd, data, why);
  if (::close(fd) != 0 && written) {
    written = false;
    why = strerror(errno);
  }
  return written;
}

}  // namespace HDSFile
