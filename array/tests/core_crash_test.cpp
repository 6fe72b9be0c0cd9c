// A job killed in the middle of a serialised command: the next job that
// takes "ZR_HDS_SYNC_COMMANDS" finds no process of the dead job alive, so no
// tool of it goes on changing the array under the next job's status checks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "array/tests/support/HDSArrayTestBase.h"
#include "host/testing/ZrChildProcess.h"
#include "util/ZRHDSLock.h"

namespace {

class CoreCrash : public HDSArrayTestBase {
 protected:
  void SetUp() override {
    tools = tmp.path() + "/tools/";
    ASSERT_EQ(0, ::mkdir(tools.c_str(), 0700));
    pidFile = tmp.path() + "/pids";
    // The add runs for a long time and leaves a background child of its
    // own; everything else answers at once.
    ASSERT_TRUE(zrWriteFile(tools + "raidcom",
                            "#!/bin/sh\n"
                            "case \"$*\" in\n"
                            "  *'add snapshot'*)\n"
                            "    sleep 30 & echo $$ $! > '" +
                                pidFile + ".tmp'; mv '" + pidFile + ".tmp' '" + pidFile +
                                "'; wait ;;\n"
                                "  *) exit 0 ;;\n"
                                "esac\n"));
    ASSERT_EQ(0, ::chmod((tools + "raidcom").c_str(), 0700));
    options.horcmInstPath = tools;
    impl.reset();
    impl.reset(
        new ZRHDSRaidcomImplementer(log, params, ZRHDSCommandHelperRunner::instance(), false));
    Peer::setReady(*impl, tempDir());
    Peer::setCommandTimeout(*impl, 60);
  }
  std::string tools;
  std::string pidFile;
};

TEST_F(CoreCrash, KilledJobLeavesNoToolUnderTheNextJobsLock) {
  pid_t job = ::fork();
  ASSERT_GE(job, 0);
  if (job == 0) {
    // One add in a batch: it runs under the lock, between the status
    // reset and read.
    ZRHDSSnapInfo source;
    source.baseDevNo = "256";
    snaps = {source};
    options.snapshotGroup = "QB_7";
    options.pool = "5";
    impl->addToSnapshotGroup();
    ::_exit(0);
  }
  long tool = -1, background = -1;
  for (int i = 0; i < 1000 && tool < 0; ++i) {
    std::string text = zrReadFile(pidFile);
    if (!text.empty()) std::sscanf(text.c_str(), "%ld %ld", &tool, &background);
    if (tool < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(tool, 0);
  ASSERT_TRUE(zrProcessAlive(tool));
  ::kill(job, SIGKILL);
  int status = 0;
  ASSERT_EQ(job, ::waitpid(job, &status, 0));
  const auto killed = std::chrono::steady_clock::now();

  ZRHDSLock next(device, "ZR_HDS_SYNC_COMMANDS", 1);
  ASSERT_TRUE(next.isLocked());
  EXPECT_TRUE(zrWaitDead(tool));
  EXPECT_TRUE(zrWaitDead(background));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(1));
}

}  // namespace
