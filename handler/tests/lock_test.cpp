// The array resource-group lock shared by handlers of one process and of
// several processes, against the simulator's lock state and journal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "handler/HDSCommandHandlerInternal.h"
#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/ZrFakeClock.h"
#include "util/ZRHDSHolderCount.h"

namespace {

const char kSerial[] = "412345";
const char kMeta[] = "meta_resource";

// A fake clock that, at every pause of the lock poll, checks that the
// machine-wide mutex of the lock is free for others.
class MutexProbeClock : public ZrFakeClock {
 public:
  void sleepMillis(int64_t ms) override {
    if (ms == 5000) {
      ++pauses;
      ZrNamedMutex probe(ZR_HDS_LOCK_RESOURCE_GROUP);
      if (probe.lock(0) != 0) ++freeDuringPause;
      probe.unlock();
    }
    ZrFakeClock::sleepMillis(ms);
  }
  int pauses = 0;
  int freeDuringPause = 0;
};

class HandlerLock : public ::testing::Test {
 protected:
  void SetUp() override { bed.addSources({256}); }
  ccisim::ResourceGroup meta() const {
    return bed.sim.load().arrays.at(kSerial).resourceGroups.at(kMeta);
  }
  std::string status(const std::string& group = kMeta) const {
    return bed.sim.load().arrays.at(kSerial).resourceGroups.at(group).lockStatus;
  }
  size_t locks() const { return bed.count("lock resource"); }
  size_t unlocks() const { return bed.count("unlock resource"); }
  static bool locked(ZRHDSCommandHandler& h) {
    bool on = false;
    h.getIsResourceLocked(on);
    return on;
  }

  HDSHandlerTestBed bed;
};

TEST_F(HandlerLock, TwoHandlersOfOneProcessShareOneArrayLock) {
  auto first = bed.handler();
  auto second = bed.handler();
  ASSERT_TRUE(first->lockResource(false)) << HDSHandlerTestBed::error(*first).second;
  EXPECT_EQ(1u, locks());
  EXPECT_EQ("lock resource -resource_name meta_resource -time 30 -IM3532 -s 412345",
            bed.sim.journal("raidcom", "lock resource").back().line());
  ASSERT_TRUE(second->lockResource(false));
  EXPECT_TRUE(second->lockResource(false));  // already holding: nothing counted
  EXPECT_EQ(1u, locks());

  const size_t listings = bed.count("get resource");
  ASSERT_TRUE(first->unlockResource(false));
  EXPECT_FALSE(locked(*first));
  EXPECT_EQ(0u, unlocks());
  EXPECT_EQ(listings, bed.count("get resource"));  // no array command at all
  EXPECT_EQ("Locked", status());

  ASSERT_TRUE(second->unlockResource(false));
  EXPECT_EQ(1u, unlocks());
  EXPECT_EQ("Unlocked", status());
}

// Runs a job in a child process that takes the lock, reports 'L', and then
// waits for 'U' (unlock and end) or to be killed.
class LockingChild {
 public:
  explicit LockingChild(HDSHandlerTestBed& bed) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      int rc = 3;
      {
        auto h = bed.handler();
        if (h->lockResource(false)) {
          char c = 'L';
          if (::write(up[1], &c, 1) == 1 && ::read(down[0], &c, 1) == 1 && c == 'U') {
            rc = h->unlockResource(false) ? 0 : 4;
          }
        }
      }
      ::_exit(rc);
    }
    ::close(up[1]);
    ::close(down[0]);
    toChild_ = down[1];
    char c = 0;
    ready_ = ::read(up[0], &c, 1) == 1 && c == 'L';
    ::close(up[0]);
  }
  ~LockingChild() {
    if (pid_ > 0) kill();
    if (toChild_ >= 0) ::close(toChild_);
  }
  bool ready() const { return ready_; }
  // Asks the child to unlock; its exit code (0: unlocked).
  int finish() {
    char c = 'U';
    if (::write(toChild_, &c, 1) != 1) return -1;
    return reap();
  }
  void kill() {
    ::kill(pid_, SIGKILL);
    reap();
  }

 private:
  int reap() {
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  pid_t pid_ = -1;
  int toChild_ = -1;
  bool ready_ = false;
};

TEST_F(HandlerLock, HandlersOfTwoProcessesShareAndTheLastOneReleases) {
  LockingChild child(bed);
  ASSERT_TRUE(child.ready());
  auto h = bed.handler();
  ASSERT_TRUE(h->lockResource(false));
  EXPECT_EQ(1u, locks());  // the child's

  // The first process to leave does not release the lock under the other.
  EXPECT_EQ(0, child.finish());
  EXPECT_EQ(0u, unlocks());
  EXPECT_EQ("Locked", status());

  ASSERT_TRUE(h->unlockResource(false));
  EXPECT_EQ(1u, unlocks());
  EXPECT_EQ("Unlocked", status());
}

TEST_F(HandlerLock, HolderKilledWhileHoldingNeverKeepsTheCountUp) {
  {
    LockingChild child(bed);
    ASSERT_TRUE(child.ready());
    child.kill();
  }
  EXPECT_EQ("Locked", status());  // left by the dead job
  auto h = bed.handler();
  // Same login and host: taken over without a new lock command, and this
  // job is now the only holder, so its unlock releases the array.
  ASSERT_TRUE(h->lockResource(false));
  EXPECT_EQ(1u, locks());
  ASSERT_TRUE(h->unlockResource(false));
  EXPECT_EQ(1u, unlocks());
  EXPECT_EQ("Unlocked", status());
}

TEST_F(HandlerLock, LockOfTheSameUserAndHostIsTakenOver) {
  bed.sim.setForeignLock(kSerial, kMeta, "cciuser", "mahost01");
  auto h = bed.handler();
  ASSERT_TRUE(h->lockResource(false));
  EXPECT_EQ(0u, locks());
  EXPECT_NE(std::string::npos,
            bed.logs().find("Resource-[meta_resource] is already locked by User-[cciuser] in "
                            "Host-[mahost01]. No need to re-lock."));
  ASSERT_TRUE(h->unlockResource(false));
  EXPECT_EQ(1u, unlocks());
  EXPECT_EQ("Unlocked", status());
}

// A foreign lock is polled with the machine-wide mutex free during every
// pause: refused when it outlasts the polls, taken once it is released.
TEST_F(HandlerLock, ForeignLockIsPolledWithTheMutexFreeDuringPauses) {
  struct Row {
    int heldForPolls;  // -1: never released
    bool taken;
    int pauses;
  } rows[] = {{-1, false, 3}, {2, true, 2}};
  bed.setSetting("nZRHDSSnapArrayLockRetryCount", 3);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.heldForPolls);
    MutexProbeClock clock;
    ZrScopedClock installed(&clock);
    bed.sim.setForeignLock(kSerial, kMeta, "other", "host9", row.heldForPolls);
    auto h = bed.handler();
    bed.sim.clearJournal();
    EXPECT_EQ(row.taken, h->lockResource(false));
    EXPECT_EQ(row.taken, locked(*h));
    EXPECT_EQ(row.pauses, clock.pauses);
    EXPECT_EQ(row.pauses, clock.freeDuringPause);
    EXPECT_EQ(row.taken ? 1u : 0u, locks());
    if (row.taken) {
      EXPECT_EQ("cciuser", meta().lockOwner);
      continue;
    }
    EXPECT_EQ(std::make_pair(62601, std::string("Failed to lock Resource Group-meta_resource with "
                                                "Status-Locked, User-other, Host-host9")),
              HDSHandlerTestBed::error(*h));
    EXPECT_EQ(3u, bed.count("get resource"));
    h.reset();
    EXPECT_EQ(0u, unlocks());  // a handler that never held does not unlock
  }
}

TEST_F(HandlerLock, NoPollAttemptFailsAsAGroupWithoutStatus) {
  bed.setSetting("nZRHDSSnapArrayLockRetryCount", 0);
  auto h = bed.handler();
  EXPECT_FALSE(h->lockResource(false));
  EXPECT_EQ(62601, HDSHandlerTestBed::error(*h).first);
  EXPECT_EQ("Failed to get status of resource group-meta_resource",
            HDSHandlerTestBed::error(*h).second);
  EXPECT_EQ(0u, locks());
}

TEST_F(HandlerLock, UnlockFailureKeepsTheShareAndPassesTheArrayError) {
  auto h = bed.handler();
  ASSERT_TRUE(h->lockResource(false));
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "unlock resource", 1, "refused"));
  EXPECT_FALSE(h->unlockResource(false));
  EXPECT_EQ(62601, HDSHandlerTestBed::error(*h).first);
  EXPECT_EQ("Failed to unlockResource Group-meta_resource", HDSHandlerTestBed::error(*h).second);
  EXPECT_TRUE(locked(*h));
  EXPECT_EQ("Locked", status());
  // The teardown tries again, with the scope the lock was taken with.
  h.reset();
  EXPECT_EQ(2u, unlocks());
  EXPECT_EQ("Unlocked", status());
}

// A long-lived host process: a job whose unlock fails on every try must not
// leave a holding that makes the next job share a lock nobody releases.
TEST_F(HandlerLock, UnlockFailingOnEveryTryLeavesTheLockToTheNextJob) {
  auto job1 = bed.handler();
  ASSERT_TRUE(job1->lockResource(false));
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "unlock resource", 1, "refused", 2));
  EXPECT_FALSE(job1->unlockResource(false));  // the container's unlock
  job1.reset();                               // and the teardown's
  EXPECT_EQ(2u, unlocks());
  EXPECT_EQ("Locked", status());
  ZRHDSHolderCount holders(std::string(ZR_HDS_LOCK_RESOURCE_GROUP) + "_" + kSerial);
  int live = -1, widest = -1;
  ASSERT_EQ(0, holders.live(&live, &widest));
  EXPECT_EQ(0, live);

  bed.sim.clearFaults();
  auto job2 = bed.handler();
  ASSERT_TRUE(job2->lockResource(false));
  EXPECT_EQ(1u, locks());  // job 1's: the leftover is taken over
  EXPECT_NE(std::string::npos, bed.logs().find("is already locked by User-[cciuser]"));
  ASSERT_TRUE(job2->unlockResource(false));
  EXPECT_EQ(3u, unlocks());
  EXPECT_EQ("Unlocked", status());
}

// The decisions of the lock and unlock steps, from one listing each.
TEST(ResourceLockDecisions, EachListingGivesOneStep) {
  using zrhds_handler::LockStep;
  using zrhds_handler::UnlockStep;
  struct Row {
    const char* status;  // nullptr: the group is not listed
    const char* owner;
    const char* host;
    LockStep lock;
    UnlockStep unlock;
  } rows[] = {
      {nullptr, "", "", LockStep::kNotListed, UnlockStep::kNotListed},
      {"Unlocked", "-", "-", LockStep::kTake, UnlockStep::kAlreadyUnlocked},
      {"Locked", "cciuser", "mahost01", LockStep::kTakeOver, UnlockStep::kLocked},
      {"Locked", "cciuser", "mahost02", LockStep::kWait, UnlockStep::kLocked},
      {"Locked", "admin", "mahost01", LockStep::kWait, UnlockStep::kLocked},
      {"Locked", "CCIUSER", "mahost01", LockStep::kWait, UnlockStep::kLocked},
      {"Busy", "cciuser", "mahost01", LockStep::kUnknown, UnlockStep::kUnknown},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.status == nullptr ? "not listed" : r.status);
    std::map<std::string, ResourceGroupInfo> groups;
    ResourceGroupInfo other;
    other.lockStatus = "Unlocked";
    groups["rg1"] = other;
    if (r.status != nullptr) {
      ResourceGroupInfo g;
      g.lockStatus = r.status;
      g.lockOwner = r.owner;
      g.lockHost = r.host;
      groups[kMeta] = g;
    }
    EXPECT_EQ(r.lock, zrhds_handler::lockStepFor(groups, kMeta, "cciuser", "mahost01"));
    EXPECT_EQ(r.unlock, zrhds_handler::unlockStepFor(groups, kMeta));
  }
}

TEST(ResourceLockDecisions, ReleaseNamesNoGroupWhenAnyGroupOfThisLoginIsLocked) {
  std::map<std::string, ResourceGroupInfo> groups;
  ResourceGroupInfo meta;
  meta.lockStatus = "Locked";
  meta.lockOwner = "cciuser";
  meta.lockHost = "mahost01";
  groups[kMeta] = meta;
  ResourceGroupInfo rg1 = meta;
  rg1.lockOwner = "admin";
  groups["rg1"] = rg1;
  EXPECT_FALSE(zrhds_handler::releasesAllGroups(groups, kMeta, "cciuser", "mahost01", false));
  EXPECT_TRUE(zrhds_handler::releasesAllGroups(groups, kMeta, "cciuser", "mahost01", true));
  groups["rg1"].lockOwner = "cciuser";
  EXPECT_TRUE(zrhds_handler::releasesAllGroups(groups, kMeta, "cciuser", "mahost01", false));
  groups["rg1"].lockHost = "elsewhere";
  EXPECT_FALSE(zrhds_handler::releasesAllGroups(groups, kMeta, "cciuser", "mahost01", false));
}

TEST_F(HandlerLock, LockTakenMeanwhileByAnotherUserIsLeftAlone) {
  auto h = bed.handler();
  ASSERT_TRUE(h->lockResource(false));
  bed.sim.setForeignLock(kSerial, kMeta, "admin", "console7");
  EXPECT_TRUE(h->unlockResource(false));
  EXPECT_FALSE(locked(*h));
  EXPECT_EQ(0u, unlocks());
  EXPECT_EQ("admin", meta().lockOwner);
  EXPECT_NE(std::string::npos, bed.logs().find("locked by User-[admin] from Host-[console7]"));
}

TEST_F(HandlerLock, ScopeWidensForAHolderThatNeedsAllGroups) {
  bed.sim.addResourceGroup(kSerial, "rg1", 1);
  for (bool narrowFirst : {true, false}) {
    SCOPED_TRACE(narrowFirst ? "by name first" : "all groups first");
    bed.sim.clearJournal();
    auto first = bed.handler();
    auto second = bed.handler();
    ASSERT_TRUE(first->lockResource(!narrowFirst));
    ASSERT_TRUE(second->lockResource(narrowFirst));
    // One all-groups lock command in either order: the widening one, or
    // the first holder's own.
    EXPECT_EQ(1u, bed.count("lock resource -time"));
    EXPECT_EQ("Locked", status("rg1"));
    // Whichever leaves first, the last holder releases all groups.
    ASSERT_TRUE(second->unlockResource(narrowFirst));
    EXPECT_EQ(0u, unlocks());
    ASSERT_TRUE(first->unlockResource(!narrowFirst));
    EXPECT_EQ(1u, bed.count("unlock resource -time"));
    EXPECT_EQ("Unlocked", status("rg1"));
    EXPECT_EQ("Unlocked", status());
  }
}

TEST_F(HandlerLock, HolderByNameThatNeedsAllGroupsWidensItsOwnLock) {
  bed.sim.addResourceGroup(kSerial, "rg1", 1);
  auto h = bed.handler();
  ASSERT_TRUE(h->lockResource(false));
  EXPECT_EQ("Unlocked", status("rg1"));
  ASSERT_TRUE(h->lockResource(true));
  EXPECT_EQ("Locked", status("rg1"));
  EXPECT_EQ(2u, locks());
  ASSERT_TRUE(h->unlockResource(false));
  EXPECT_EQ(1u, bed.count("unlock resource -time"));
  EXPECT_EQ("Unlocked", status("rg1"));
}

TEST_F(HandlerLock, TeardownReleasesWithTheScopeTheLockWasTakenWith) {
  bed.sim.addResourceGroup(kSerial, "rg1", 1);
  {
    auto h = bed.handler();
    ASSERT_TRUE(h->lockResource(true));
    EXPECT_EQ("Locked", status("rg1"));
  }
  EXPECT_EQ(1u, bed.count("unlock resource -time"));
  EXPECT_EQ(0u, bed.count("unlock resource -resource_name"));
  EXPECT_EQ("Unlocked", status("rg1"));
}

}  // namespace
