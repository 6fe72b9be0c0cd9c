// ZRPlatformInfo: the file-backed settings store shared by processes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "host/ZRPlatformInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFileSyncRecorder.h"

namespace {

const char kMain[] = "~Tessavon";
const char kOther[] = "Tessavon";

TEST(ZRPlatformInfo, IntegersRoundTrip) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  const int values[] = {0, 1, -1, 300, INT_MAX, INT_MIN};
  for (int v : values) {
    ASSERT_EQ(0, s.setRegInt(kMain, "nZRHDSCCICommandTimeoutInSec", v));
    int got = 12345;
    EXPECT_NE(0, s.getRegInt(kMain, "nZRHDSCCICommandTimeoutInSec", &got));
    EXPECT_EQ(v, got);
  }
  unsigned long n = 0;
  ASSERT_EQ(0, s.setRegInt(kMain, "nUnsigned", 42));
  EXPECT_NE(0, s.getNumber(kMain, "nUnsigned", &n));
  EXPECT_EQ(42ul, n);
}

TEST(ZRPlatformInfo, StringsRoundTripWhateverTheyHold) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  const std::string values[] = {"",
                                "4711:/dev/sdb,/dev/sdc,",
                                "a=b=c",
                                "line1\nline2\r\n",
                                "back\\slash\\n not a newline",
                                "[~Tessavon]",
                                "  blanks around  "};
  for (const std::string& v : values) {
    ASSERT_EQ(0, s.setRegString(kMain, "sZRHDSCommandDevice_410001", v.c_str()));
    std::string got = "preset";
    EXPECT_NE(0, s.getString(kMain, "sZRHDSCommandDevice_410001", &got));
    EXPECT_EQ(v, got);
  }
  // Other keys survive every rewrite.
  ASSERT_EQ(0, s.setRegString(kMain, "sFirst", "1"));
  ASSERT_EQ(0, s.setRegString(kMain, "sSecond", "2"));
  std::string got;
  EXPECT_NE(0, s.getString(kMain, "sFirst", &got));
  EXPECT_EQ("1", got);
}

TEST(ZRPlatformInfo, MissingKeysLeaveThePresetAndReportAbsence) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  int i = 77;
  unsigned long n = 78;
  std::string t = "preset";
  char buf[8] = "keep";
  // No file at all yet.
  EXPECT_EQ(0, s.getRegInt(kMain, "nMissing", &i));
  EXPECT_EQ(0, s.getNumber(kMain, "nMissing", &n));
  EXPECT_EQ(0, s.getString(kMain, "sMissing", &t));
  EXPECT_EQ(0, s.getString(kMain, "sMissing", buf, sizeof(buf)));
  ASSERT_EQ(0, s.setRegString(kMain, "sOther", "x"));
  EXPECT_EQ(0, s.getRegInt(kMain, "nMissing", &i));
  EXPECT_EQ(77, i);
  EXPECT_EQ(78ul, n);
  EXPECT_EQ("preset", t);
  EXPECT_STREQ("keep", buf);
}

TEST(ZRPlatformInfo, NonNumbersAreNotNumbers) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  // text, is an int, is an unsigned number
  struct Row {
    const char* text;
    bool isInt;
    bool isNumber;
  } rows[] = {{"", false, false},           {"abc", false, false}, {"12abc", false, false},
              {"99999999999", false, true}, {"-5", true, false},   {"17", true, true}};
  for (const Row& r : rows) {
    ASSERT_EQ(0, s.setRegString(kMain, "nKey", r.text));
    int i = 5;
    unsigned long n = 6;
    EXPECT_EQ(r.isInt, s.getRegInt(kMain, "nKey", &i) != 0) << r.text;
    EXPECT_EQ(r.isNumber, s.getNumber(kMain, "nKey", &n) != 0) << r.text;
    EXPECT_EQ(r.isInt ? std::atoi(r.text) : 5, i) << r.text;
    EXPECT_EQ(r.isNumber ? std::strtoul(r.text, nullptr, 10) : 6ul, n) << r.text;
  }
}

TEST(ZRPlatformInfo, SectionsAreSeparate) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_EQ(0, s.setRegInt(kMain, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", 1));
  ASSERT_EQ(0, s.setRegInt(kOther, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", 2));
  int a = 0, b = 0, c = 9;
  EXPECT_NE(0, s.getRegInt(kMain, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", &a));
  EXPECT_NE(0, s.getRegInt(kOther, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", &b));
  EXPECT_EQ(0, s.getRegInt("tessavon", "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", &c));
  EXPECT_EQ(1, a);
  EXPECT_EQ(2, b);
  EXPECT_EQ(9, c);
  ASSERT_EQ(0, s.deleteKey(kMain, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND"));
  EXPECT_EQ(0, s.getRegInt(kMain, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", &a));
  EXPECT_NE(0, s.getRegInt(kOther, "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", &b));
}

TEST(ZRPlatformInfo, BufferFormIsTerminatedWithinItsSize) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_EQ(0, s.setRegString(kOther, "ZR_HDS_VENDOR_NAME", "ABCDEFGHIJ"));
  char buf[8];
  std::memset(buf, 'x', sizeof(buf));
  EXPECT_NE(0, s.getString(kOther, "ZR_HDS_VENDOR_NAME", buf, 5));
  EXPECT_STREQ("ABCD", buf);
  EXPECT_EQ('x', buf[5]) << "nothing written past the size";
}

TEST(ZRPlatformInfo, BadNamesAndUnwritableStoresFail) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  EXPECT_NE(0, s.setRegInt(kMain, "", 1));
  EXPECT_NE(0, s.setRegInt(kMain, "a=b", 1));
  EXPECT_NE(0, s.setRegInt(kMain, "a\nb", 1));
  EXPECT_NE(0, s.setRegInt("", "k", 1));
  EXPECT_NE(0, s.setRegInt("[x]", "k", 1));
  EXPECT_NE(0, s.setRegString(kMain, "k", nullptr));
  zrWriteFile(dir.file("plainfile"), "x");
  dir.setEnv("ZRHOST_SETTINGS_FILE", dir.file("plainfile") + "/settings.ini");
  EXPECT_NE(0, s.setRegInt(kMain, "k", 1));
  EXPECT_NE(0, s.setRegString(kMain, "k", "v"));
}

// A store that exists but cannot be read by this process (another user's
// file) is never replaced by a rewrite that would drop every key it holds.
TEST(ZRPlatformInfo, UnreadableStoreIsNeverReplaced) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_EQ(0, s.setRegString(kMain, "sZRHDSCommandDevice_410001", "4242:/dev/sdq,"));
  ASSERT_EQ(0, s.setRegInt(kMain, "sZRHDSRaidcomLockCount_410001", 2));
  const std::string before = zrReadFile(dir.file("settings.ini"));
  ASSERT_EQ(0, ::chmod(dir.file("settings.ini").c_str(), 0600));
  // The writer may create files in the directory and take the writers' lock.
  ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0777));
  ASSERT_EQ(0, ::chmod(dir.file("settings.ini.lock").c_str(), 0666));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Root reads every file; become an ordinary user first.
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    if (::geteuid() != 0) ::chmod(dir.file("settings.ini").c_str(), 0);
    ZRPlatformInfo other;
    int v = 0;
    if (other.getRegInt(kMain, "sZRHDSRaidcomLockCount_410001", &v) != 0)
      ::_exit(4);  // cannot read: absent
    ::_exit(other.setRegInt(kMain, "nWrittenByAnotherUser", 1) != 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the write must be refused";
  ::chmod(dir.file("settings.ini").c_str(), 0644);
  EXPECT_EQ(before, zrReadFile(dir.file("settings.ini")));
  int v = 0;
  EXPECT_NE(0, s.getRegInt(kMain, "sZRHDSRaidcomLockCount_410001", &v));
  EXPECT_EQ(2, v);
}

TEST(ZRPlatformInfo, HandEditedFileIsRead) {
  ScopedTempDir dir;
  ASSERT_TRUE(zrWriteFile(
      dir.file("settings.ini"),
      "# comment\n[~Tessavon]\r\nnZRHDSKeepCmdOutput=1\r\nstray line\n\n[Tessavon]\nsName=v\n"));
  ZRPlatformInfo s;
  int keep = 0;
  std::string name;
  EXPECT_NE(0, s.getRegInt(kMain, "nZRHDSKeepCmdOutput", &keep));
  EXPECT_EQ(1, keep);
  EXPECT_NE(0, s.getString(kOther, "sName", &name));
  EXPECT_EQ("v", name);
}

TEST(ZRPlatformInfo, WrittenByOneProcessReadByAnother) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_EQ(0, s.setRegInt(kMain, "sZRHDSRaidcomLockCount_410001", 3));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ZRPlatformInfo child;
    int v = 0;
    int ok = child.getRegInt(kMain, "sZRHDSRaidcomLockCount_410001", &v);
    // The child answers by writing a key of its own and by its exit code.
    int rc = child.setRegInt(kMain, "nWrittenByChild", v * 10);
    ::_exit(ok != 0 && v == 3 && rc == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  int v = 0;
  EXPECT_NE(0, s.getRegInt(kMain, "nWrittenByChild", &v));
  EXPECT_EQ(30, v);
}

TEST(ZRPlatformInfo, ConcurrentWritersOfDifferentKeysLoseNothing) {
  ScopedTempDir dir;
  const int kWriters = 3, kKeys = 150;
  pid_t pids[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    pids[w] = ::fork();
    ASSERT_GE(pids[w], 0);
    if (pids[w] == 0) {
      ZRPlatformInfo s;
      int failures = 0;
      for (int k = 0; k < kKeys; ++k) {
        std::string key = "n" + std::to_string(w) + "_" + std::to_string(k);
        failures += s.setRegInt(w % 2 == 0 ? kMain : kOther, key.c_str(), k) != 0;
        // Every read in between sees a whole store.
        int v = -1;
        if (s.getRegInt(w % 2 == 0 ? kMain : kOther, key.c_str(), &v) == 0 || v != k) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ZRPlatformInfo s;
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k) {
      std::string key = "n" + std::to_string(w) + "_" + std::to_string(k);
      int v = -1;
      ASSERT_NE(0, s.getRegInt(w % 2 == 0 ? kMain : kOther, key.c_str(), &v)) << key;
      EXPECT_EQ(k, v);
    }
}

TEST(ZRPlatformInfo, ClientHostName) {
  ZRPlatformInfo s;
  std::string host;
  EXPECT_EQ(0, s.getClientHostName("", host));
  EXPECT_EQ(0, s.getClientHostName(nullptr, host));
  EXPECT_NE(0, s.getClientHostName("client1", host));
  EXPECT_FALSE(host.empty());
}

}  // namespace

namespace {

// A writer stopped while it holds the writers' lock blocks the others only
// for the attempts, never for good (the wait runs on the fake clock).
TEST(ZRPlatformInfoSafety, StoppedWriterTimesOut) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_EQ(0, s.setRegInt(kMain, "nA", 1));
  int fd = ::open(dir.file("settings.ini.lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ::flock(fd, LOCK_EX));
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  EXPECT_NE(0, s.setRegInt(kMain, "nA", 2));
  EXPECT_EQ(250000, clock.monotonicMillis() - ZrFakeClock().monotonicMillis());
  ::close(fd);
  EXPECT_EQ(0, s.setRegInt(kMain, "nA", 3));
  int v = 0;
  EXPECT_NE(0, s.getRegInt(kMain, "nA", &v));
  EXPECT_EQ(3, v);
}

TEST(ZRPlatformInfoSafety, DeadWritersTemporariesAreRemoved) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_TRUE(zrWriteFile(dir.file("settings.ini.tmp.Ab12Cd"), "[x]\nk=half"));
  ASSERT_EQ(0, s.setRegInt(kMain, "nA", 1));
  struct stat st;
  EXPECT_NE(0, ::stat(dir.file("settings.ini.tmp.Ab12Cd").c_str(), &st));
}

// A store that is a symbolic link (or a FIFO) is refused: nothing is read
// through it, no write replaces or follows it, and no call hangs.
TEST(ZRPlatformInfoSafety, LinkOrFifoAtTheStoreIsRefused) {
  ScopedTempDir dir;
  ASSERT_TRUE(zrWriteFile(dir.file("target.ini"), "[~Tessavon]\nnA=7\n"));
  ASSERT_EQ(0, ::symlink(dir.file("target.ini").c_str(), dir.file("settings.ini").c_str()));
  ZRPlatformInfo s;
  int v = 0;
  EXPECT_EQ(0, s.getRegInt(kMain, "nA", &v));
  EXPECT_NE(0, s.setRegInt(kMain, "nA", 8));
  EXPECT_EQ("[~Tessavon]\nnA=7\n", zrReadFile(dir.file("target.ini")));
  struct stat st;
  ASSERT_EQ(0, ::lstat(dir.file("settings.ini").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  ASSERT_EQ(0, ::unlink(dir.file("settings.ini").c_str()));
  ASSERT_EQ(0, ::mkfifo(dir.file("settings.ini").c_str(), 0600));
  EXPECT_EQ(0, s.getRegInt(kMain, "nA", &v));
  EXPECT_NE(0, s.setRegInt(kMain, "nA", 8));
}

// A parsed store is reused only while it is the same write: a rewrite with
// the same size, even one that reuses the inode, is read afresh.
TEST(ZRPlatformInfoSafety, ReusedStoreIsTheSameWriteOnly) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  for (int v = 10; v < 60; ++v) {
    ASSERT_EQ(0, s.setRegInt(kMain, "nA", v));
    int got = 0;
    ASSERT_NE(0, s.getRegInt(kMain, "nA", &got));
    ASSERT_EQ(v, got);
  }
  // A hand edit (no generation line) is always read afresh.
  ASSERT_TRUE(zrWriteFile(dir.file("settings.ini"), "[~Tessavon]\nnA=91\n"));
  int got = 0;
  ASSERT_NE(0, s.getRegInt(kMain, "nA", &got));
  EXPECT_EQ(91, got);
  ASSERT_TRUE(zrWriteFile(dir.file("settings.ini"), "[~Tessavon]\nnA=92\n"));
  ASSERT_NE(0, s.getRegInt(kMain, "nA", &got));
  EXPECT_EQ(92, got);
}


// A write of the store is flushed twice: the new file before it takes the
// store's name (the store still holds the old text then), and the directory
// after the rename (the store holds the new text). A failed flush of the
// file fails the write and leaves the old store, with no temporary behind.
TEST(ZRPlatformInfoSafety, StoreIsFlushedBeforeTheRenameAndItsDirectoryAfter) {
  ScopedTempDir dir;
  ZRPlatformInfo s;
  ASSERT_EQ(0, s.setRegInt(kMain, "nOld", 1));
  char real[4096];
  ASSERT_NE(nullptr, ::realpath(dir.path().c_str(), real));
  const std::string store = dir.file("settings.ini");
  const std::string before = zrReadFile(store);
  {
    ZrFileSyncRecorder recorder(store);
    ZrScopedFileSync installed(&recorder);
    ASSERT_EQ(0, s.setRegInt(kMain, "nNew", 2));
    const std::vector<ZrFileSyncRecorder::Call> calls = recorder.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(0u, calls[0].target.find(std::string(real) + "/settings.ini.tmp.")) << calls[0].target;
    EXPECT_EQ(before, calls[0].watchedContent);
    EXPECT_EQ(std::string(real), calls[1].target);
    EXPECT_NE(std::string::npos, calls[1].watchedContent.find("nNew=2"));
  }
  const std::string written = zrReadFile(store);
  ZrFileSyncRecorder failing(store);
  failing.failCall(0);
  ZrScopedFileSync installed(&failing);
  EXPECT_NE(0, s.setRegInt(kMain, "nLost", 3));
  EXPECT_EQ(written, zrReadFile(store));
  DIR* d = ::opendir(dir.path().c_str());
  ASSERT_NE(nullptr, d);
  while (struct dirent* e = ::readdir(d))
    EXPECT_EQ(std::string::npos, std::string(e->d_name).find(".tmp.")) << e->d_name;
  ::closedir(d);
}

}  // namespace
