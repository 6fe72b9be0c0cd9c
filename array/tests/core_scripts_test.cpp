// Command scripts left by a job that died while one ran: removed by the next
// script run, and only those (kept scripts, live jobs' scripts, other files
// and links stay).
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "array/HDSScriptFiles.h"
#include "array/tests/support/HDSArrayTestBase.h"

namespace {

using R = HDSRecordingRunner;

class CoreScripts : public HDSArrayTestBase {
 protected:
  // A pid that no process has (a child that has been reaped).
  static long deadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
  }
  std::string place(const std::string& name, mode_t mode) {
    const std::string path = tempDir() + "/" + name;
    EXPECT_TRUE(zrWriteFile(path, "raidcom  modify ldev -ldev_id 512 -ldev_name X\n"));
    EXPECT_EQ(0, ::chmod(path.c_str(), mode));
    return path;
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }
  std::vector<std::string> scripts() {
    std::vector<std::string> found;
    DIR* d = ::opendir(tempDir().c_str());
    while (d != nullptr) {
      struct dirent* e = ::readdir(d);
      if (e == nullptr) break;
      std::string n = e->d_name;
      if (n.size() > 7 && n.compare(n.size() - 7, 7, "_script") == 0) found.push_back(n);
    }
    if (d != nullptr) ::closedir(d);
    return found;
  }
};

TEST_F(CoreScripts, OnlyAnOrphanOfADeadJobIsRemoved) {
  const std::string dead = std::to_string(deadPid());
  const std::string self = std::to_string(::getpid());
  const struct {
    std::string name;
    mode_t mode;
    bool removed;
  } rows[] = {
      {dead + "_11_1700000000_1_abcdefgh_script", HDSScriptFiles::kInFlightMode, true},
      {dead + "_11_1700000000_2_abcdefgh_script", HDSScriptFiles::kKeptMode, false},
      {self + "_11_1700000000_3_abcdefgh_script", HDSScriptFiles::kInFlightMode, false},
      {dead + "_11_1700000000_4_abcdefgh_resp.log", HDSScriptFiles::kInFlightMode, false},
      {dead + "_11_x_5_abcdefgh_script", HDSScriptFiles::kInFlightMode, false},
      {"notes_script", HDSScriptFiles::kInFlightMode, false},
  };
  std::vector<std::string> paths;
  for (const auto& row : rows) paths.push_back(place(row.name, row.mode));
  // A link named as an orphan is not followed or removed.
  const std::string link = tempDir() + "/" + dead + "_11_1700000000_6_abcdefgh_script";
  const std::string target = tmp.file("target");
  ASSERT_TRUE(zrWriteFile(target, "x"));
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));

  runner.on("/bin/sh ", R::ok());
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeScriptFile(*impl, "true\n", out, ec));
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(!rows[i].removed, exists(paths[i])) << paths[i];
  EXPECT_TRUE(exists(link));
  EXPECT_TRUE(exists(target));
}

// A failed run keeps its script on purpose: it is not taken for an orphan
// once the job has gone.
TEST_F(CoreScripts, FailedRunKeepsItsScriptMarkedKept) {
  runner.on("/bin/sh ", R::exit(3, "", "boom"));
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, "true\n", out, ec));
  const std::vector<std::string> kept = scripts();
  ASSERT_EQ(1u, kept.size());
  struct stat st;
  ASSERT_EQ(0, ::stat((tempDir() + "/" + kept[0]).c_str(), &st));
  EXPECT_EQ(HDSScriptFiles::kKeptMode, st.st_mode & 07777);
}

// A job killed while its label script runs leaves the script; the next
// job's script run removes it (real processes: the script sleeps).
TEST_F(CoreScripts, ScriptOfAJobKilledWhileItRanIsRemovedByTheNextRun) {
  pid_t job = ::fork();
  ASSERT_GE(job, 0);
  if (job == 0) {
    ZRHDSRaidcomImplementer real(log, params, ZRHDSCommandHelperRunner::instance(), false);
    Peer::setReady(real, tempDir());
    std::string out;
    int ec = 0;
    Peer::executeScriptFile(real, "sleep 30\n", out, ec);
    ::_exit(0);
  }
  std::vector<std::string> running;
  for (int i = 0; i < 500 && running.empty(); ++i) {
    running = scripts();
    if (running.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(1u, running.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the script runs
  ::kill(job, SIGKILL);
  ASSERT_EQ(job, ::waitpid(job, nullptr, 0));
  ASSERT_EQ(running, scripts()) << "the killed job's script is left";

  runner.on("/bin/sh ", R::ok());
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeScriptFile(*impl, "true\n", out, ec));
  EXPECT_TRUE(scripts().empty());
}

}  // namespace
