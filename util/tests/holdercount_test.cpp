// ZRHDSHolderCount: live holders only, across processes; dead, zombie and
// reused-pid holders never count; the mirror key follows the live count.
#include "util/ZRHDSHolderCount.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"

namespace {

const char kName[] = "RAIDCOM_LOGIN_410001";
const char kKey[] = "sZRHDSRaidcomLockCount_410001";

int mirror() {
  ZRPlatformInfo p;
  int v = INT_MIN;
  return p.getRegInt("~Tessavon", kKey, &v) ? v : INT_MIN;
}

int liveCount(int* widest = nullptr) {
  ZRHDSHolderCount h(kName, kKey);
  int n = -1, w = -1;
  EXPECT_EQ(0, h.live(&n, &w)) << h.lastError();
  if (widest != nullptr) *widest = w;
  return n;
}

// A child that adds one holder with scope and then exits (exitAfter) or
// stays until killed; returns its pid once the holding is in place.
pid_t childHolder(int scope, bool exitAfter) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    ZRHDSHolderCount h(kName, kKey);
    int live = 0;
    char ok = h.add(scope, &live) == 0 ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(3);
    if (exitAfter) ::_exit(0);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char c = 0;
  bool ok = ::read(ready[0], &c, 1) == 1 && c == 'y';
  ::close(ready[0]);
  return ok ? pid : -1;
}

void reap(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
}

class HolderCountTest : public ::testing::Test {
 protected:
  ScopedTempDir dir;
};

TEST_F(HolderCountTest, AddRemoveWalkKeepsTheMirror) {
  ZRHDSHolderCount a(kName, kKey), b(kName, kKey);
  int live = -1, widest = -1;
  ASSERT_EQ(0, a.add(1, &live)) << a.lastError();
  EXPECT_EQ(1, live);
  EXPECT_EQ(1, mirror());
  ASSERT_EQ(0, b.add(2, &live));
  EXPECT_EQ(2, live);
  EXPECT_EQ(2, mirror());
  EXPECT_EQ(2, liveCount(&widest));
  EXPECT_EQ(2, widest);
  // b removes its own (scope 2) entry: the widest before still says 2.
  ASSERT_EQ(0, b.remove(&live, &widest));
  EXPECT_EQ(1, live);
  EXPECT_EQ(2, widest);
  EXPECT_EQ(1, liveCount(&widest));
  EXPECT_EQ(1, widest);
  ASSERT_EQ(0, a.remove(&live, &widest));
  EXPECT_EQ(0, live);
  EXPECT_EQ(1, widest);
  EXPECT_EQ(0, mirror());
  // Nothing held: removing changes nothing and succeeds.
  ASSERT_EQ(0, a.remove(&live, &widest));
  EXPECT_EQ(0, live);
  EXPECT_EQ(0, widest);
  EXPECT_EQ(1, a.add(3, &live));
  EXPECT_NE(std::string::npos, a.lastError().find("scope"));
}

TEST_F(HolderCountTest, ObjectWithoutOwnEntryRemovesTheNarrowestOfItsProcess) {
  ZRHDSHolderCount wide(kName), narrow(kName);
  int live = 0, widest = 0;
  ASSERT_EQ(0, wide.add(2, &live));
  ASSERT_EQ(0, narrow.add(1, &live));
  ZRHDSHolderCount other(kName);
  ASSERT_EQ(0, other.remove(&live, &widest));
  EXPECT_EQ(1, live);
  EXPECT_EQ(2, liveCount(&widest) + 1);
  EXPECT_EQ(2, widest) << "the all-groups holding is the one left";
}

// A holder whose release never ran (its array unlock or logout failed)
// must not keep the count up for the life of a long-lived process.
TEST_F(HolderCountTest, EntriesLeaveWithTheObjectThatAddedThem) {
  ZRHDSHolderCount other(kName, kKey);
  int live = 0;
  ASSERT_EQ(0, other.add(1, &live));
  {
    ZRHDSHolderCount job(kName, kKey);
    ASSERT_EQ(0, job.add(2, &live));
    ASSERT_EQ(0, job.add(1, &live));
    EXPECT_TRUE(job.holdsOwn());
    EXPECT_EQ(3, liveCount());
  }
  int widest = 0;
  EXPECT_EQ(1, liveCount(&widest));
  EXPECT_EQ(1, widest) << "the other object's entry stays";
  EXPECT_EQ(1, mirror());

  // dropOwn takes this object's entries only; removing one first leaves
  // the other for dropOwn.
  ZRHDSHolderCount job(kName, kKey);
  ASSERT_EQ(0, job.add(2, &live));
  ASSERT_EQ(0, job.add(1, &live));
  ASSERT_EQ(0, job.remove(&live, &widest));
  EXPECT_EQ(2, live);
  EXPECT_EQ(2, liveCount(&widest));
  EXPECT_EQ(2, widest) << "remove took the latest entry (scope 1)";
  ASSERT_EQ(0, job.dropOwn(&live));
  EXPECT_EQ(1, live);
  EXPECT_FALSE(job.holdsOwn());
  EXPECT_TRUE(other.holdsOwn());
}

TEST_F(HolderCountTest, ForkedCopyNeverDropsTheParentsEntry) {
  int live = 0;
  pid_t pid = -1;
  {
    ZRHDSHolderCount parent(kName, kKey);
    ASSERT_EQ(0, parent.add(1, &live));
    pid = ::fork();
    if (pid == 0) {
      // The child's copy of the object ends with the child's scope.
      parent.dropOwn(nullptr);
      ::_exit(0);
    }
    reap(pid);
    EXPECT_EQ(1, liveCount());
  }
  EXPECT_EQ(0, liveCount());
}

TEST_F(HolderCountTest, DeadAndZombieHoldersNeverCount) {
  ZRHDSHolderCount self(kName, kKey);
  int live = 0;
  ASSERT_EQ(0, self.add(1, &live));
  pid_t gone = childHolder(2, true);
  ASSERT_GT(gone, 0);
  // Exited but not reaped yet: a zombie holds nothing.
  siginfo_t info;
  ASSERT_EQ(0, ::waitid(P_PID, static_cast<id_t>(gone), &info, WEXITED | WNOWAIT));
  EXPECT_EQ(1, liveCount());
  reap(gone);
  pid_t killed = childHolder(1, false);
  ASSERT_GT(killed, 0);
  int widest = 0;
  EXPECT_EQ(2, liveCount(&widest));
  EXPECT_EQ(1, widest);
  ::kill(killed, SIGKILL);
  reap(killed);
  EXPECT_EQ(1, liveCount());
  EXPECT_EQ(1, mirror());
}

TEST_F(HolderCountTest, ReusedPidOrOtherBootIsNoHolder) {
  ZRHDSHolderCount self(kName, kKey);
  int live = 0;
  ASSERT_EQ(0, self.add(1, &live));
  std::string text = zrReadFile(ZRHDSHolderCount::listPath(kName));
  ASSERT_NE(std::string::npos, text.find("boot "));
  // Our own pid with another start time stands for a reused pid; a line
  // that is not a holder is dropped too.
  std::string pid = std::to_string(::getpid());
  ASSERT_TRUE(zrWriteFile(ZRHDSHolderCount::listPath(kName),
                          text + pid + " 1 1 77\ngarbage\n" + pid + "\n"));
  EXPECT_EQ(1, liveCount());
  // The same entries under another boot id are all dead.
  std::string other = text;
  other.replace(5, 1, other[5] == 'x' ? "y" : "x");
  ASSERT_TRUE(zrWriteFile(ZRHDSHolderCount::listPath(kName), other));
  EXPECT_EQ(0, liveCount());
  EXPECT_EQ(0, mirror());
}

TEST_F(HolderCountTest, StoredCountOfAnySizeIsRepairedWithoutArithmetic) {
  ZRPlatformInfo p;
  for (int stored : {INT_MAX, INT_MIN, -3, 7}) {
    SCOPED_TRACE(stored);
    ASSERT_EQ(0, p.setRegInt("~Tessavon", kKey, stored));
    EXPECT_EQ(0, liveCount());
    EXPECT_EQ(0, mirror());
  }
}

TEST_F(HolderCountTest, StaleTemporariesAreRemovedAndLinksRefused) {
  const std::string path = ZRHDSHolderCount::listPath(kName);
  EXPECT_EQ(0, liveCount());
  ASSERT_TRUE(zrWriteFile(path + ".tmp.AbC123", "left by a killed writer"));
  EXPECT_EQ(0, liveCount());
  struct stat st;
  EXPECT_NE(0, ::stat((path + ".tmp.AbC123").c_str(), &st));

  ASSERT_EQ(0, ::unlink(path.c_str()));
  ASSERT_TRUE(zrWriteFile(dir.file("elsewhere"), ""));
  ASSERT_EQ(0, ::symlink(dir.file("elsewhere").c_str(), path.c_str()));
  ZRHDSHolderCount h(kName);
  int n = 0, w = 0;
  EXPECT_EQ(1, h.live(&n, &w));
  EXPECT_NE(std::string::npos, h.lastError().find(path));
}

TEST_F(HolderCountTest, ListLockedByAStoppedProcessTimesOut) {
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  ZrNamedMutex stuck((std::string("ZR_HDS_HOLDERS_") + kName).c_str());
  ASSERT_NE(0, stuck.lock(0));
  ZRHDSHolderCount h(kName, kKey);
  int live = 0;
  EXPECT_EQ(1, h.add(1, &live));
  EXPECT_NE(std::string::npos, h.lastError().find("locked"));
  EXPECT_EQ(INT_MIN, mirror());
}

}  // namespace
