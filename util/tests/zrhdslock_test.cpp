// ZRHDSLock: attempts, settings, logging and release on every path. Waits
// run on the fake clock; only the two-process counter runs in real time.
//
// The lock's header comes first on purpose: it must compose with the shared
// constants header in either order.
#include "util/ZRHDSLock.h"
#include "records/HDSRecords.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"

namespace {

static_assert(ZR_HDS_MAX_LOCK_RETRY_COUNT == 50, "default attempts");
static_assert(ZR_HDS_DEFAULT_LOCK_TIME_OUT == 5, "seconds per attempt");

const char kName[] = "ZR_HDS_SYNC_COMMANDS";
const char kRetryLine[] = "could not be acquired, shall retry after [5] seconds.";

int countLogs(const FakeSnapInfo& d, const std::string& needle) {
  int n = 0;
  for (const std::string& t : d.logTexts()) n += t.find(needle) != std::string::npos;
  return n;
}

class ZRHDSLockTest : public ::testing::Test {
 protected:
  ZRHDSLockTest() : m_guard(&m_clock) {
    m_device.setSnapConfigIntValue(SMCONFIG_NAME_ENABLE_COMMAND_LOGGING, 1);
  }

  ScopedTempDir m_dir;
  ZrFakeClock m_clock;
  ZrScopedClock m_guard;
  FakeSnapInfo m_device;
};

TEST_F(ZRHDSLockTest, AttemptCountFromDefaultSettingAndArgument) {
  ZrNamedMutex holder(kName);  // held elsewhere for the whole time
  ASSERT_NE(0, holder.lock(0));
  ZRPlatformInfo settings;
  struct Row {
    int setting;  // nZRHDSSnapLockRetryCount in "Tessavon"; INT32_MIN: absent
    int attempts;
    int expected;
  } rows[] = {
      {INT32_MIN, 0, 50}, {3, 0, 3},    {3, 7, 7},
      {INT32_MIN, 2, 2},  {0, 0, 50},  // zero or below leaves the default
      {-2, 0, 50},        {-2, -1, 50}, {5, -1, 5},
  };
  for (const Row& r : rows) {
    if (r.setting == INT32_MIN)
      settings.deleteKey("Tessavon", "nZRHDSSnapLockRetryCount");
    else
      ASSERT_EQ(0, settings.setRegInt("Tessavon", "nZRHDSSnapLockRetryCount", r.setting));
    m_device.clearLogs();
    const int64_t slept = m_clock.totalSleptMillis();
    ZRHDSLock lock(m_device, kName, r.attempts);
    EXPECT_FALSE(lock.isLocked());
    EXPECT_EQ(r.expected, countLogs(m_device, kRetryLine)) << r.setting << "/" << r.attempts;
    EXPECT_EQ(5000LL * r.expected, m_clock.totalSleptMillis() - slept);
    std::vector<FakeSnapInfo::LogLine> logs = m_device.logs();
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(2, logs.back().level);
    EXPECT_EQ("ZRHDSLock::lock", logs.back().function);
    EXPECT_EQ("Mutex [ZR_HDS_SYNC_COMMANDS] could not be acquired even after [" +
                  std::to_string(r.expected) + "] attempts.",
              logs.back().text);
  }
  // The setting lives in "Tessavon"; the other section is not read.
  settings.deleteKey("Tessavon", "nZRHDSSnapLockRetryCount");
  settings.setRegInt("~Tessavon", "nZRHDSSnapLockRetryCount", 2);
  m_device.clearLogs();
  ZRHDSLock lock(m_device, kName, 0);
  EXPECT_EQ(50, countLogs(m_device, kRetryLine));
}

TEST_F(ZRHDSLockTest, AcquiresOnALaterAttemptWhenReleasedMeanwhile) {
  // A holder that lets go at the very end of the second attempt's wait: the
  // first attempt fails, the second one succeeds.
  class ReleasingClock : public ZrFakeClock {
   public:
    ZrNamedMutex* holder = nullptr;
    void sleepMillis(int64_t ms) override {
      ZrFakeClock::sleepMillis(ms);
      if (holder != nullptr && totalSleptMillis() >= 10000) holder->unlock();
    }
  } clock;
  ZrScopedClock guard(&clock);
  ZrNamedMutex holder(kName);
  ASSERT_NE(0, holder.lock(0));
  clock.holder = &holder;
  ZRHDSLock lock(m_device, kName, 0);
  EXPECT_TRUE(lock.isLocked());
  EXPECT_EQ(1, countLogs(m_device, kRetryLine));
  EXPECT_EQ(10000, clock.totalSleptMillis());
  EXPECT_TRUE(m_device.logged("Acquired mutex [ZR_HDS_SYNC_COMMANDS]."));
}

TEST_F(ZRHDSLockTest, ATryIsOneTakeNeverWaitedFor) {
  ZRPlatformInfo().setRegInt("Tessavon", "nZRHDSSnapLockRetryCount", 3);
  for (bool heldElsewhere : {false, true}) {
    ZrNamedMutex holder(kName);
    ASSERT_TRUE(!heldElsewhere || holder.lock(0) != 0);
    ZRHDSLock lock(m_device);
    EXPECT_EQ(!heldElsewhere, lock.tryLock(kName));
    EXPECT_EQ(!heldElsewhere, lock.isLocked());
    EXPECT_EQ(0, m_clock.totalSleptMillis());
    EXPECT_EQ(0, countLogs(m_device, kRetryLine));
    EXPECT_EQ(heldElsewhere ? 1 : 0, countLogs(m_device, "is held elsewhere"));
  }
}

TEST_F(ZRHDSLockTest, LoggingFollowsTheSnapSetting) {
  {
    ZRHDSLock lock(m_device, kName, 0);
    ASSERT_TRUE(lock.isLocked());
  }
  std::vector<FakeSnapInfo::LogLine> logs = m_device.logs();
  ASSERT_EQ(2u, logs.size());
  EXPECT_EQ(0, logs[0].level);
  EXPECT_EQ("ZRHDSLock::lock", logs[0].function);
  EXPECT_EQ("Acquired mutex [ZR_HDS_SYNC_COMMANDS].", logs[0].text);
  EXPECT_EQ(0, logs[1].level);
  EXPECT_EQ("ZRHDSLock::unlock", logs[1].function);
  EXPECT_EQ("Released mutex [ZR_HDS_SYNC_COMMANDS].", logs[1].text);

  FakeSnapInfo quiet;  // command logging absent: off
  {
    ZRHDSLock lock(quiet, kName, 0);
    ASSERT_TRUE(lock.isLocked());
  }
  EXPECT_TRUE(quiet.logs().empty());
}

TEST_F(ZRHDSLockTest, ReleasedOnEveryPath) {
  ZrNamedMutex probe(kName);
  {
    ZRHDSLock lock(m_device, kName, 0);
    ASSERT_TRUE(lock.isLocked());
    EXPECT_EQ(0, probe.lock(0));
  }
  EXPECT_NE(0, probe.lock(0)) << "destruction releases";
  probe.unlock();

  try {
    ZRHDSLock lock(m_device, kName, 0);
    ASSERT_TRUE(lock.isLocked());
    throw std::runtime_error("step failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_NE(0, probe.lock(0)) << "unwinding releases";
  probe.unlock();

  ZRHDSLock lock(m_device);
  EXPECT_FALSE(lock.isLocked());
  EXPECT_TRUE(lock.lock(kName, 0));
  lock.unlock();
  EXPECT_FALSE(lock.isLocked());
  lock.unlock();  // a second unlock does nothing
  // Released by the scope, by the unwinding and by the first unlock only.
  EXPECT_EQ(3, countLogs(m_device, "Released mutex [ZR_HDS_SYNC_COMMANDS]"));
  EXPECT_NE(0, probe.lock(0));
  // The same object can take the lock again once free.
  EXPECT_FALSE(lock.lock(kName, 1));
  probe.unlock();
  EXPECT_TRUE(lock.lock(kName, 1));
}

TEST_F(ZRHDSLockTest, RelockingKeepsOneNamePerObject) {
  ZrNamedMutex probeA(kName);
  ZrNamedMutex probeB("RAIDCOM_LOGIN_LOCK");
  ZRHDSLock lock(m_device, kName, 0);
  ASSERT_TRUE(lock.isLocked());
  EXPECT_TRUE(lock.lock(kName, 0)) << "the name already held";
  EXPECT_EQ(1, countLogs(m_device, "Acquired mutex [ZR_HDS_SYNC_COMMANDS]."));

  // Another name: the object must really hold it, and only it.
  EXPECT_TRUE(lock.lock("RAIDCOM_LOGIN_LOCK", 0));
  EXPECT_TRUE(lock.isLocked());
  EXPECT_EQ(0, probeB.lock(0)) << "the new name is held";
  EXPECT_NE(0, probeA.lock(0)) << "the earlier name was released";
  probeA.unlock();
  EXPECT_TRUE(m_device.logged("Released mutex [ZR_HDS_SYNC_COMMANDS]."));
  lock.unlock();
  EXPECT_NE(0, probeB.lock(0));
  probeB.unlock();

  // init() on a held lock lets go of it rather than forgetting it.
  ASSERT_TRUE(lock.lock(kName, 0));
  lock.init();
  EXPECT_FALSE(lock.isLocked());
  EXPECT_NE(0, probeA.lock(0)) << "init released the mutex";
}

TEST_F(ZRHDSLockTest, FailedLockOnlyFreesItsMutex) {
  ZrNamedMutex holder(kName);
  ASSERT_NE(0, holder.lock(0));
  {
    ZRHDSLock lock(m_device, kName, 1);
    EXPECT_FALSE(lock.isLocked());
  }
  EXPECT_EQ(0, countLogs(m_device, "Released mutex"));
  holder.unlock();
  ZrNamedMutex other(kName);
  EXPECT_NE(0, other.lock(0));
}

TEST_F(ZRHDSLockTest, UnusableLockDirectoryFailsAtOnce) {
  zrWriteFile(m_dir.file("plainfile"), "x");
  m_dir.setEnv("ZRHOST_LOCK_DIR", m_dir.file("plainfile"));
  ZRHDSLock lock(m_device, "RAIDCOM_LOGIN_LOCK", 0);
  EXPECT_FALSE(lock.isLocked());
  EXPECT_TRUE(m_device.logged("Failed to create mutex [RAIDCOM_LOGIN_LOCK]."));
  EXPECT_EQ(0, countLogs(m_device, kRetryLine));
  EXPECT_EQ(0, m_clock.totalSleptMillis());
}

TEST(ZRHDSLockProcesses, TwoProcessesIncrementingOneKeyLoseNoUpdate) {
  ScopedTempDir dir;
  // Every increment rewrites and syncs the settings store; unguarded, two
  // writers lose updates well within this count.
  const int kProcesses = 2, kIncrements = 1000;
  pid_t pids[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    pids[p] = ::fork();
    ASSERT_GE(pids[p], 0);
    if (pids[p] == 0) {
      FakeSnapInfo device;
      ZRPlatformInfo settings;
      int failures = 0;
      for (int i = 0; i < kIncrements; ++i) {
        ZRHDSLock lock(device, "RAIDCOM_LOGIN_LOCK", 0);
        if (!lock.isLocked()) {
          ++failures;
          continue;
        }
        int count = 0;
        settings.getRegInt("~Tessavon", "sZRHDSRaidcomLockCount_410001", &count);
        failures +=
            settings.setRegInt("~Tessavon", "sZRHDSRaidcomLockCount_410001", count + 1) != 0;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ZRPlatformInfo settings;
  int count = 0;
  ASSERT_NE(0, settings.getRegInt("~Tessavon", "sZRHDSRaidcomLockCount_410001", &count));
  EXPECT_EQ(kProcesses * kIncrements, count);
}

}  // namespace
