#include "array/HDSScriptFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace HDSScriptFiles {

namespace {

const char kSuffix[] = "_script";

bool allDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// The process id of a script's name, or 0 when the name is not a script's:
// six fields joined by '_', the first four decimal, the last "script".
long scriptOwner(const char* name) {
  std::string n(name);
  const size_t suffix = sizeof(kSuffix) - 1;
  if (n.size() <= suffix || n.compare(n.size() - suffix, suffix, kSuffix) != 0) return 0;
  n.erase(n.size() - suffix);
  std::string fields[5];
  size_t start = 0;
  for (int i = 0; i < 5; ++i) {
    const size_t end = i < 4 ? n.find('_', start) : n.size();
    if (end == std::string::npos) return 0;
    fields[i] = n.substr(start, end - start);
    start = end + 1;
  }
  for (int i = 0; i < 4; ++i)
    if (!allDigits(fields[i])) return 0;
  if (fields[4].empty() || fields[4].find('_') != std::string::npos) return 0;
  return std::atol(fields[0].c_str());
}

bool processGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

int removeOrphans(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  const int dirFd = ::dirfd(d);
  while (struct dirent* e = ::readdir(d)) {
    const long owner = scriptOwner(e->d_name);
    if (owner == 0 || !processGone(owner)) continue;
    struct stat st;
    if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // Only a script of ours that was never kept on purpose.
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 07777) != kInFlightMode)
      continue;
    if (::unlinkat(dirFd, e->d_name, 0) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

InFlight::~InFlight() {
  if (!m_path.empty()) (void)::chmod(m_path.c_str(), kKeptMode);
}

}  // namespace HDSScriptFiles
