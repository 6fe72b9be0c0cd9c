// Intent records: the file form read back exactly, hostile and cut texts
// refused whole, the store's durable files in a private directory, the
// listing by array, and which job counts as dead.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFileSyncRecorder.h"
#include "util/ZRHDSIntentRecord.h"

namespace {

ZRHDSIntentRecord groupRecord() {
  ZRHDSIntentRecord r;
  r.kind = ZRHDSIntentRecord::Kind::kGroup;
  r.serial = "412345";
  r.resourceGroup = "meta_resource";
  r.job = ZRHDSProcessIdentity::own();
  r.group = "QB_7_5_1F_6553F100";
  r.reused = true;
  r.existingKeys = {"256-3", "257-3"};
  ZRHDSIntentEntry a;
  a.pvol = "256";
  a.mu = "4";
  a.device = "/dev/sdb";
  ZRHDSIntentEntry b;
  b.pvol = "257";
  b.device = "stored";  // unknown MU; a device named as the mark reads as a device
  b.stored = true;
  r.entries = {a, b};
  return r;
}

ZRHDSIntentRecord svolRecord() {
  ZRHDSIntentRecord r;
  r.kind = ZRHDSIntentRecord::Kind::kSvols;
  r.serial = "412345";
  r.resourceGroup = "VSM 1";
  r.job = ZRHDSProcessIdentity::own();
  ZRHDSIntentEntry e;
  e.ldev = "512";
  e.capacity = 2097152;
  e.label = "QB_SVOL_db data%1";  // a blank and a percent sign
  e.pvol = "256";
  e.mu = "3";
  e.device = "-";  // the empty marker as a text of its own
  e.hostGroupsRecorded = true;
  e.hostGroups = {"CL1-A-2", "CL2-B-14"};
  r.entries = {e};
  return r;
}

void expectSame(const ZRHDSIntentRecord& a, const ZRHDSIntentRecord& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.serial, b.serial);
  EXPECT_EQ(a.resourceGroup, b.resourceGroup);
  EXPECT_TRUE(a.job == b.job);
  EXPECT_EQ(a.group, b.group);
  EXPECT_EQ(a.reused, b.reused);
  EXPECT_EQ(a.existingKeys, b.existingKeys);
  ASSERT_EQ(a.entries.size(), b.entries.size());
  for (size_t i = 0; i < a.entries.size(); ++i) {
    EXPECT_EQ(a.entries[i].pvol, b.entries[i].pvol);
    EXPECT_EQ(a.entries[i].mu, b.entries[i].mu);
    EXPECT_EQ(a.entries[i].ldev, b.entries[i].ldev);
    EXPECT_EQ(a.entries[i].capacity, b.entries[i].capacity);
    EXPECT_EQ(a.entries[i].label, b.entries[i].label);
    EXPECT_EQ(a.entries[i].device, b.entries[i].device);
    EXPECT_EQ(a.entries[i].hostGroupsRecorded, b.entries[i].hostGroupsRecorded);
    EXPECT_EQ(a.entries[i].hostGroups, b.entries[i].hostGroups);
    EXPECT_EQ(a.entries[i].stored, b.entries[i].stored);
    EXPECT_EQ(a.entries[i].made, b.entries[i].made);
  }
}

TEST(IntentRecord, BothKindsReadBackExactly) {
  for (const ZRHDSIntentRecord& r : {groupRecord(), svolRecord()}) {
    ZRHDSIntentRecord back;
    std::string why;
    ASSERT_TRUE(ZRHDSIntentRecord::parse(r.text(), back, &why)) << why << "\n" << r.text();
    expectSame(r, back);
  }
  const std::string text = svolRecord().text();
  EXPECT_NE(std::string::npos,
            text.find("svol 512 2097152 256 3 QB_SVOL_db%20data%251 %2D hg:CL1-A-2,CL2-B-14\n"));
  EXPECT_EQ(text.size() - 4, text.rfind("end\n"));
}

TEST(IntentRecord, HostileAndCutTextsAreRefusedWhole) {
  const std::string good = svolRecord().text();
  auto without = [&](const std::string& line) {
    std::string t = good;
    t.erase(t.find(line), line.size());
    return t;
  };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  struct Row {
    const char* what;
    std::string text;
  } rows[] = {
      {"empty", ""},
      {"no header", without("zrintent 1\n")},
      {"no end", without("end\n")},
      {"cut inside a line", good.substr(0, good.find("svol ") + 8)},
      {"text after the end", good + "svol 513 1 256 3 x y\n"},
      {"unknown line", replaced("kind svols", "kind svols\nrm -rf /")},
      {"LDEV not decimal", replaced("svol 512", "svol 51x")},
      {"negative capacity", replaced("2097152", "-2097152")},
      {"blank inside a field", replaced("QB_SVOL_db%20data", "QB_SVOL_db data")},
      {"a control byte escaped", replaced("%20data", "%0Adata")},
      {"an escape cut short", replaced("%251", "%2")},
      {"no entries",
       without(good.substr(good.find("svol "), good.find("end\n") - good.find("svol ")))},
      {"a group entry in an S-VOL record", replaced("svol 512 2097152 256 3", "pvol 256 3")},
      {"an S-VOL record naming a group", replaced("kind svols\n", "kind svols\ngroup G 0\n")},
      {"no job", without(good.substr(good.find("job "), good.find("kind") - good.find("job ")))},
      {"array not a number", replaced("array 412345", "array 4123;45")},
      {"the stored mark on another line", replaced("kind svols", "kind svols *stored")},
      {"the stored mark twice", replaced("CL2-B-14\n", "CL2-B-14 *stored *stored\n")},
      {"the made mark on a group line", replaced("kind svols", "kind svols *made")},
      {"the made mark after the stored one", replaced("CL2-B-14\n", "CL2-B-14 *stored *made\n")},
      {"a made line before the end", replaced("end\n", "made 512\nend\n")},
      {"a made line of an LDEV not on record", good + "made 513\n"},
      {"a made line of no LDEV", good + "made\n"},
      {"a made line with more", good + "made 512 513\n"},
  };
  for (const Row& r : rows) {
    ZRHDSIntentRecord out;
    out.serial = "untouched";
    std::string why;
    EXPECT_FALSE(ZRHDSIntentRecord::parse(r.text, out, &why)) << r.what;
    EXPECT_FALSE(why.empty()) << r.what;
    EXPECT_EQ("untouched", out.serial) << r.what;
  }
}

// Marked on the entry's line, appended once or twice; not marked: an
// appended line cut short by a crash, or no mark.
TEST(IntentRecord, MadeMarksReadFromTheLineOrAfterTheEnd) {
  ZRHDSIntentRecord marked = svolRecord();
  marked.entries[0].made = true;
  EXPECT_NE(std::string::npos, marked.text().find("CL2-B-14 *made\n"));
  const std::string plain = svolRecord().text(), m = plain + "made 512";
  int i = 0;
  for (const std::string& t :
       {marked.text(), m + "\n", m + "\nmade 512\n", m.substr(0, m.size() - 1), m, plain}) {
    ZRHDSIntentRecord back;
    ASSERT_TRUE(ZRHDSIntentRecord::parse(t, back, nullptr)) << t;
    EXPECT_EQ(i++ < 3, back.entries[0].made) << t;
  }
}

class IntentStore : public ::testing::Test {
 protected:
  std::string dir() const { return tmp.path() + "/intent"; }
  ScopedTempDir tmp;
};

TEST_F(IntentStore, SavesDurablyInAPrivateDirectoryAndRemoves) {
  ZRHDSIntentStore store;  // the fixed location: ZRHOST_INTENT_DIR
  EXPECT_EQ(dir(), store.directory());
  ZRHDSIntentRecord r = groupRecord();
  std::string error;
  ASSERT_TRUE(store.save(r, &error)) << error;
  EXPECT_EQ(0u, r.path.rfind(dir() + "/412345_" + std::to_string(::getpid()) + "_", 0)) << r.path;
  struct stat st;
  ASSERT_EQ(0, ::stat(dir().c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  ASSERT_EQ(0, ::stat(r.path.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  // A rewrite replaces the same file.
  const std::string path = r.path;
  r.entries.pop_back();
  ASSERT_TRUE(store.save(r, &error)) << error;
  EXPECT_EQ(path, r.path);
  ZRHDSIntentRecord back;
  back.path = path;
  ASSERT_TRUE(store.reload(back, &error)) << error;
  EXPECT_EQ(1u, back.entries.size());

  ASSERT_TRUE(store.remove(r, &error)) << error;
  EXPECT_NE(0, ::stat(path.c_str(), &st));
  EXPECT_TRUE(store.remove(r, &error)) << "gone already counts as removed";
  EXPECT_FALSE(store.reload(back, &error));
  EXPECT_EQ("", error) << "a record that is gone is not an unreadable one";
}

TEST_F(IntentStore, ListsTheRecordsOfOneArrayAndNamesTheUnreadable) {
  ZRHDSIntentStore store(dir());
  std::vector<ZRHDSIntentRecord> out;
  std::vector<std::string> unreadable;
  std::string error;
  ASSERT_TRUE(store.list("412345", out, &unreadable, &error)) << "no directory: no records";
  EXPECT_TRUE(out.empty());

  ZRHDSIntentRecord a = groupRecord(), b = svolRecord(), other = svolRecord();
  other.serial = "99";
  ASSERT_TRUE(store.save(a, &error) && store.save(b, &error) && store.save(other, &error));
  // A file named for this array that holds another array's record, and one
  // that is not a record at all.
  ASSERT_TRUE(zrWriteFile(dir() + "/412345_1_1_x.intent", other.text()));
  ASSERT_TRUE(zrWriteFile(dir() + "/412345_1_2_y.intent", "zrintent 1\narray 412345\n"));
  ASSERT_TRUE(store.list("412345", out, &unreadable, &error)) << error;
  ASSERT_EQ(2u, out.size());
  for (const ZRHDSIntentRecord& r : out) EXPECT_EQ("412345", r.serial);
  ASSERT_EQ(2u, unreadable.size());
  EXPECT_NE(std::string::npos, unreadable[0].find("another array"));
  EXPECT_NE(std::string::npos, unreadable[1].find("cut short"));
  ASSERT_TRUE(store.list("99", out, nullptr, &error));
  EXPECT_EQ(1u, out.size());
}

TEST_F(IntentStore, TemporaryFilesOfDeadWritersGo) {
  ZRHDSIntentStore store(dir());
  ZRHDSIntentRecord r = groupRecord();
  std::string error;
  ASSERT_TRUE(store.save(r, &error));
  const std::string live = r.path + ".tmp.abcdef";
  const std::string dead =
      dir() + "/412345_" + std::to_string(::getpid()) + "_1_f.intent.tmp.abcdef";
  // A temporary file names its writer, whatever the record's name says.
  ZRHDSIntentRecord deadJobs = groupRecord();
  deadJobs.job.startTime += 1;
  ZrFileSyncRecorder flushes("");
  ZrScopedFileSync scope(&flushes);
  ASSERT_TRUE(store.save(deadJobs, &error)) << error;
  const std::string tag = std::to_string(r.job.pid) + "_" + std::to_string(r.job.startTime);
  EXPECT_NE(std::string::npos, flushes.calls().at(0).target.find(".intent.tmp." + tag + "."));
  const std::string rewriting = deadJobs.path + ".tmp." + tag + ".abcdef";
  const std::string deadTagged = r.path + ".tmp." + std::to_string(r.job.pid) + "_1.abcdef";
  for (const std::string& f : {live, dead, rewriting, deadTagged}) ASSERT_TRUE(zrWriteFile(f, "x"));
  std::vector<ZRHDSIntentRecord> out;
  ASSERT_TRUE(store.list("412345", out, nullptr, &error));
  EXPECT_EQ(2u, out.size());
  for (const std::string& f : {live, rewriting, dead, deadTagged}) {
    EXPECT_EQ(f == live || f == rewriting, ::access(f.c_str(), F_OK) == 0) << f;
  }
}

// A made mark costs one flush of the record's own file and no rewrite; one
// that cannot be flushed leaves the entry unmarked; a later rewrite keeps it.
TEST_F(IntentStore, MarksAnLdevMadeWithOneFlushOfItsFile) {
  ZRHDSIntentStore store(dir());
  std::string error;
  for (bool flushFails : {true, false}) {
    ZRHDSIntentRecord r = svolRecord(), back;
    ASSERT_TRUE(store.save(r, &error)) << error;
    ZrFileSyncRecorder flushes(r.path);
    flushes.failCall(flushFails ? 0 : -1);
    {
      ZrScopedFileSync scoped(&flushes);
      EXPECT_EQ(!flushFails, store.markMade(r, 0, &error)) << error;
    }
    EXPECT_EQ(!flushFails, r.entries[0].made);
    ASSERT_EQ(1u, flushes.calls().size());
    EXPECT_EQ(r.path, flushes.calls()[0].target);
    // A failed mark's line may be on the disk or not.
    back.path = r.path;
    ASSERT_TRUE(store.reload(back, &error) && store.save(back, &error) &&
                store.reload(back, &error))
        << error;
    EXPECT_TRUE(flushFails || back.entries[0].made) << "a rewrite keeps the mark";
    EXPECT_FALSE(store.markMade(back, 1, &error)) << "no such entry";
  }
}

// A job's end: which of three group entries the host stores and which are
// gone. The stored ones are on the disk marked before they leave the file,
// which they leave with no further flush.
TEST_F(IntentStore, AJobsEndHandsStoredEntriesOverInTwoSteps) {
  struct Row {
    const char* settled;  // per entry (256, 257, 258): 's' stored, 'g' gone, '-' neither
    const char* after;    // the P-VOLs left ("": removed)
    size_t flushes;
  } rows[] = {{"---", "256 257 258", 0}, {"-g-", "256 258", 2}, {"ggg", "", 1},
              {"s--", "257 258", 2},     {"sg-", "258", 2},     {"sss", "", 2}};
  ZRHDSIntentStore store(dir());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settled);
    ZRHDSIntentRecord r = groupRecord(), back;
    r.entries[1].stored = false;
    r.entries.push_back(r.entries[0]);
    r.entries[2].pvol = "258";
    auto settled = [&](char how) {
      std::vector<bool> v;
      for (const char c : std::string(row.settled)) v.push_back(c == how);
      return v;
    };
    std::string error, left;
    ASSERT_TRUE(store.save(r, &error)) << error;
    ZrFileSyncRecorder flushes(r.path);
    {
      ZrScopedFileSync installed(&flushes);
      ASSERT_TRUE(store.handOver(r, settled('s'), settled('g'), &error)) << error;
    }
    bool marked = false;  // a flush saw the stored entries marked
    for (const auto& c : flushes.calls())
      marked |= c.watchedContent.find(" *stored\n") != std::string::npos;
    EXPECT_EQ(row.flushes, flushes.calls().size());
    EXPECT_EQ(row.settled[0] == 's', marked);
    back.path = r.path;
    store.reload(back, &error);  // no entries when the file is gone
    for (const ZRHDSIntentEntry& e : back.entries)
      left += (left.empty() ? "" : " ") + e.pvol + (e.stored ? "*" : "");
    EXPECT_EQ(row.after, left);
    store.remove(r, &error);
  }
}

TEST(IntentCallScope, WorkRunsAsTheOutermostCallEnds) {
  std::string ran;
  ZRHDSIntentCallScope::atCallEnd([&] { ran += "alone "; });  // no call: at once
  {
    ZRHDSIntentCallScope call;
    ZRHDSIntentCallScope::atCallEnd([&] { ran += "first "; });
    {
      ZRHDSIntentCallScope inner;
      ZRHDSIntentCallScope::atCallEnd([&] { ran += "second "; });
    }
    EXPECT_EQ("alone ", ran) << "the inner scope leaves it to the call";
  }
  EXPECT_EQ("alone first second ", ran);
  ZRHDSIntentCallScope::atCallEnd([&] { ran += "after"; });
  EXPECT_EQ("alone first second after", ran);
}

TEST_F(IntentStore, RefusesADirectoryOthersMayWrite) {
  ASSERT_EQ(0, ::mkdir(dir().c_str(), 0700));
  ASSERT_EQ(0, ::chmod(dir().c_str(), 0777));
  ZRHDSIntentStore store(dir());
  ZRHDSIntentRecord r = groupRecord();
  std::string error;
  EXPECT_FALSE(store.save(r, &error));
  EXPECT_NE(std::string::npos, error.find("writable by group or others")) << error;
  EXPECT_EQ("", r.path);
  std::vector<ZRHDSIntentRecord> out;
  EXPECT_FALSE(store.list("412345", out, nullptr, &error));
  // A job of no known start time would read as dead from birth.
  ASSERT_EQ(0, ::chmod(dir().c_str(), 0700));
  r.job.startTime = 0;
  EXPECT_FALSE(store.save(r, &error));
  EXPECT_EQ("", r.path);

  ASSERT_TRUE(zrWriteFile(tmp.path() + "/plain", "x"));
  ZRHDSIntentStore onFile(tmp.path() + "/plain");
  EXPECT_FALSE(onFile.save(r, &error));
}

// A forked child has nothing cached: its threads ask for the identity at
// once, and each sees the child's own, live, never of start time 0.
TEST(ProcessIdentity, EveryThreadOfAFreshProcessGetsItsOwnIdentity) {
  const pid_t child = ::fork();
  if (child == 0) {
    const uint64_t expected = ZRHDSProcessIdentity::startTimeOf(::getpid());
    std::atomic<int> ready{0}, wrong{expected == 0 ? 1 : 0};
    std::vector<std::thread> threads(16);
    for (std::thread& t : threads) {
      t = std::thread([&] {
        for (ready.fetch_add(1); ready.load() < 16;) continue;
        const ZRHDSProcessIdentity self = ZRHDSProcessIdentity::own();
        wrong += self.startTime != expected || self.pid != ::getpid() || !self.isLive() ? 1 : 0;
      });
    }
    for (std::thread& t : threads) t.join();
    ::_exit(wrong.load());
  }
  int status = -1;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(IntentStore, DeadIsAProcessThatNoLongerRuns) {
  ZRHDSIntentRecord r = groupRecord();
  ZRHDSIntentStore store(dir());
  EXPECT_FALSE(store.isDead(r)) << "this process";
  r.job.startTime += 1;  // the id reused by a later process
  EXPECT_TRUE(store.isDead(r));
  r.job = ZRHDSProcessIdentity::own();
  r.job.bootId = "another boot";
  EXPECT_TRUE(store.isDead(r));

  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  const uint64_t start = ZRHDSProcessIdentity::startTimeOf(child);
  ::waitpid(child, nullptr, 0);
  r.job = ZRHDSProcessIdentity::own();
  r.job.pid = child;
  r.job.startTime = start;
  EXPECT_TRUE(store.isDead(r)) << "a child that exited";

  // The seam: the caller decides.
  ZRHDSIntentStore seam(dir(), [](const ZRHDSProcessIdentity&) { return false; });
  EXPECT_TRUE(seam.isDead(groupRecord()));
}

}  // namespace
