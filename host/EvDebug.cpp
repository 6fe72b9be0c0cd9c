#include "host/EvDebug.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <ctime>
#include <mutex>

#include "host/ZrClock.h"
#include "host/ZrPaths.h"
#include "host/ZrVFormat.h"
#include "host/zrcast.h"

namespace {

std::mutex g_logMu;
int g_logFd = -1;
std::string g_logPath;
pid_t g_logPid = -1;

void makeDirs(const std::string& dir) {
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') ::mkdir(dir.substr(0, p).c_str(), 0755);
  }
}

// REQUIRES: g_logMu held. The descriptor for path, reopened when the path or
// the process changed (a forked child writes its own file).
int logFdFor(const std::string& path) {
  if (g_logFd >= 0 && path == g_logPath && g_logPid == ::getpid()) return g_logFd;
  if (g_logFd >= 0) ::close(g_logFd);
  g_logFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (g_logFd < 0) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      makeDirs(path.substr(0, slash));
      g_logFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
  }
  g_logPath = path;
  g_logPid = ::getpid();
  return g_logFd;
}

}  // namespace

EvDebug::EvDebug(const char* /*fileInstance*/) {}

long EvDebug::getProcessId() { return static_cast<long>(::getpid()); }

std::string EvDebug::getClientName() {
  char name[256] = {0};
  if (::gethostname(name, sizeof(name) - 1) != 0) return std::string();
  std::string s(name);
  size_t dot = s.find('.');
  return dot == std::string::npos ? s : s.substr(0, dot);
}

std::string EvDebug::logFilePath() {
  return ZrPaths::logDir() + "/zrhost_" + std::to_string(getProcessId()) + ".log";
}

std::string EvDebug::linePrefix(const char* function, int level) {
  time_t now = static_cast<time_t>(ZrClock::get().nowSeconds());
  struct tm tmv;
  localtime_r(&now, &tmv);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tmv);
  std::string prefix = stamp;
  prefix += " " + std::to_string(getProcessId());
  prefix += " " + std::to_string(GetCurrentThreadId());
  prefix += " " + std::to_string(level);
  prefix += " ";
  prefix += function != nullptr && function[0] != '\0' ? function : "-";
  return prefix;
}

void EvDebug::writeLines(const std::string& prefix, const std::string& message) {
  std::string block;
  size_t start = 0;
  do {
    size_t nl = message.find('\n', start);
    std::string line =
        message.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    block += prefix + " " + line + "\n";
    if (nl == std::string::npos) break;
    start = nl + 1;
  } while (start < message.size());
  std::string path = logFilePath();
  std::lock_guard<std::mutex> g(g_logMu);
  int fd = logFdFor(path);
  if (fd < 0) return;
  const char* p = block.data();
  size_t left = block.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string message = ZrVFormat::vformat(format, ap);
  va_end(ap);
  writeLines(linePrefix(function, level), message);
}
