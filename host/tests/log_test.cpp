// EvDebug: one log file per process, one prefixed line per message line, and
// no external text ever taken as a format.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/EvDebug.h"
#include "host/zrcast.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

TEST(EvDebug, LineLayoutAndHostileTextTakenLiterally) {
  ScopedTempDir dir;
  ZrFakeClock clock(1700000000);
  ZrScopedClock guard(&clock);
  const std::string hostile = "%s%n%x%%";
  EvDebug::DebugLvl("ZRHDSCLIUtils::validateInputParams", -1, "Invalid Device Count received [%d]",
                    0);
  EvDebug::DebugLvl(hostile.c_str(), 0, "text [%s]", hostile.c_str());
  EvDebug debug("instance");  // the instance form logs to the same file
  debug.DebugLvl("f", 1, "%s", "first\nsecond");

  const std::string path = EvDebug::logFilePath();
  EXPECT_EQ(dir.path() + "/logs/zrhost_" + std::to_string(::getpid()) + ".log", path);
  std::vector<std::string> got = lines(zrReadFile(path));
  ASSERT_EQ(4u, got.size());

  time_t t = 1700000000;
  struct tm tmv;
  localtime_r(&t, &tmv);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tmv);
  const std::string head = std::string(stamp) + " " + std::to_string(::getpid()) + " " +
                           std::to_string(GetCurrentThreadId()) + " ";
  EXPECT_EQ(head + "-1 ZRHDSCLIUtils::validateInputParams Invalid Device Count received [0]",
            got[0]);
  EXPECT_EQ(head + "0 " + hostile + " text [" + hostile + "]", got[1]);
  EXPECT_EQ(head + "1 f first", got[2]);
  EXPECT_EQ(head + "1 f second", got[3]);
}

// "YYYY-MM-DD HH:MM:SS <pid> <thread> 0 worker thread <t> line <i> payload"
bool wellFormedWorkerLine(const std::string& l) {
  if (l.size() < 20) return false;
  const std::string stampShape = "dddd-dd-dd dd:dd:dd ";
  for (size_t i = 0; i < stampShape.size(); ++i) {
    bool digit = l[i] >= '0' && l[i] <= '9';
    if (stampShape[i] == 'd' ? !digit : l[i] != stampShape[i]) return false;
  }
  size_t p = stampShape.size();
  for (int number = 0; number < 2; ++number) {  // pid and thread
    size_t start = p;
    while (p < l.size() && l[p] >= '0' && l[p] <= '9') ++p;
    if (p == start || p >= l.size() || l[p] != ' ') return false;
    ++p;
  }
  const std::string rest = l.substr(p);
  int t = -1, i = -1;
  char tail[16] = {0};
  return std::sscanf(rest.c_str(), "0 worker thread %d line %d %15s", &t, &i, tail) == 3 &&
         t >= 0 && t < 4 && i >= 0 && i < 200 && std::string(tail) == "payload" &&
         rest == "0 worker thread " + std::to_string(t) + " line " + std::to_string(i) + " payload";
}

TEST(EvDebug, LinesOfThreadsDoNotInterleave) {
  ScopedTempDir dir;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i)
        EvDebug::DebugLvl("worker", 0, "thread %d line %d %s", t, i, "payload");
    });
  for (std::thread& th : threads) th.join();
  std::vector<std::string> got = lines(zrReadFile(EvDebug::logFilePath()));
  ASSERT_EQ(800u, got.size());
  for (const std::string& l : got) EXPECT_TRUE(wellFormedWorkerLine(l)) << l;
}

TEST(EvDebug, EachProcessHasItsOwnFileAndADirectoryIsMadeWhenMissing) {
  ScopedTempDir dir;
  dir.setEnv("ZRHOST_LOG_DIR", dir.path() + "/new/logs");
  EvDebug::DebugLvl("parent", 0, "from parent");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    EvDebug::DebugLvl("child", 0, "from child");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  std::string parentLog = zrReadFile(EvDebug::logFilePath());
  std::string childLog =
      zrReadFile(dir.path() + "/new/logs/zrhost_" + std::to_string(pid) + ".log");
  EXPECT_NE(std::string::npos, parentLog.find("from parent"));
  EXPECT_EQ(std::string::npos, parentLog.find("from child"));
  EXPECT_NE(std::string::npos, childLog.find("from child"));
  EXPECT_NE(std::string::npos, childLog.find(" " + std::to_string(pid) + " "));
}

TEST(EvDebug, NullFunctionAndFormatAreHarmless) {
  ScopedTempDir dir;
  EvDebug::DebugLvl(nullptr, 2, "x");
  std::vector<std::string> got = lines(zrReadFile(EvDebug::logFilePath()));
  ASSERT_EQ(1u, got.size());
  EXPECT_NE(std::string::npos, got[0].find(" 2 - x"));
  EXPECT_GT(EvDebug::getProcessId(), 0);
  EXPECT_FALSE(EvDebug::getClientName().empty());
  EXPECT_EQ(std::string::npos, EvDebug::getClientName().find('.'));
}

}  // namespace
