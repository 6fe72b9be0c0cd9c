// The HORCM instance file and instance control, over a temporary "/etc/".
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "array/tests/support/HDSArrayTestBase.h"

namespace {
using R = HDSRecordingRunner;

const char kGolden3532[] =
    "#HORCM file create by Orrelan Quorbinflex. Do not alter the file content or delete the "
    "file.\n"
    "HORCM_MON\n"
    "#ip_address                  service         poll(10ms)     timeout(10ms)\n"
    "mahost01\t\t3532\t1000           3000\n"
    "\n"
    "HORCM_CMD\n"
    "#dev_name               dev_name                dev_name\n"
    "#\\\\.\\CMD-412345\n"
    "/dev/sdc /dev/sdd \n";

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

class CoreHorcm : public HDSArrayTestBase {
 protected:
  void SetUp() override {
    makeImpl();
    Peer::commandDevices(*impl) = {"/dev/sdc", "/dev/sdd"};
    options.horcmInst.clear();
  }
  std::string path(int n) const { return etcDir() + "horcm" + std::to_string(n) + ".conf"; }
  // A file as we write it, for another array.
  void writeOwnFor(int n, const std::string& serial) {
    std::string text = Peer::horcmFileContent(*impl, n);
    text.replace(text.find("CMD-412345"), 10, "CMD-" + serial);
    ASSERT_TRUE(zrWriteFile(path(n), text));
  }
};

TEST_F(CoreHorcm, FreeInstanceIsChosenAndWrittenExactly) {
  ::umask(077);
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, true));
  ::umask(022);
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ(kGolden3532, zrReadFile(path(3532)));
  EXPECT_EQ(0644u, modeOf(path(3532)));
}

TEST_F(CoreHorcm, ForeignSerialIsSkipped) {
  writeOwnFor(3532, "400001");
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, false));
  EXPECT_EQ("3531", options.horcmInst);
  EXPECT_NE(std::string::npos, zrReadFile(path(3532)).find("CMD-400001"));
  EXPECT_NE(std::string::npos, zrReadFile(path(3531)).find("mahost01\t\t3531\t"));
}

TEST_F(CoreHorcm, OwnSerialIsReusedOrRewrittenWithTruncation) {
  std::string stale = std::string(kGolden3532) + "# a long stale tail that must not survive\n";
  stale.replace(stale.find("/dev/sdc /dev/sdd "), 18, "/dev/old ");
  ASSERT_TRUE(zrWriteFile(path(3532), stale));
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, false));
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ(stale, zrReadFile(path(3532)));

  options.horcmInst.clear();
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, true));
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ(kGolden3532, zrReadFile(path(3532)));
}

TEST_F(CoreHorcm, FileNamingOurArrayButNotWrittenByUsIsUsedUnchanged) {
  const std::string foreign = "HORCM_MON\nother 3532 1000 3000\nHORCM_CMD\n#\\\\.\\CMD-412345\n";
  ASSERT_TRUE(zrWriteFile(path(3532), foreign));
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, true));
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ(foreign, zrReadFile(path(3532)));
}

TEST_F(CoreHorcm, AllTakenChangesNothing) {
  for (int n = 3501; n <= 3532; ++n) writeOwnFor(n, "400001");
  std::string before = zrReadFile(path(3517));
  EXPECT_EQ(1, Peer::createHorcmFiles(*impl, kSerial, true));
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to find a HORCM instance to use")), error());
  EXPECT_EQ("", options.horcmInst);
  EXPECT_EQ(before, zrReadFile(path(3517)));
}

TEST_F(CoreHorcm, LinkAtAnInstancePathIsNeverFollowed) {
  std::string victim = tmp.file("victim");
  ASSERT_TRUE(zrWriteFile(victim, "precious"));
  ASSERT_EQ(0, ::symlink(victim.c_str(), path(3532).c_str()));
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, true));
  EXPECT_EQ("3531", options.horcmInst);
  EXPECT_EQ("precious", zrReadFile(victim));
}

TEST_F(CoreHorcm, RefusesUnsafeInputsBeforeWriting) {
  EXPECT_EQ(1, Peer::createHorcmFiles(*impl, "4123;45", true));
  EXPECT_EQ("", zrReadFile(path(3532)));

  Peer::setLocalHostName("");
  EXPECT_EQ(1, Peer::createHorcmFiles(*impl, kSerial, true));
  EXPECT_NE(std::string::npos, error().second.find("Local host name is not known"));
  EXPECT_EQ("", zrReadFile(path(3532)));
  Peer::setLocalHostName("mahost01");

  Peer::commandDevices(*impl) = {"/dev/sdc\nHORCM_CMD"};
  EXPECT_EQ(1, Peer::createHorcmFiles(*impl, kSerial, true));
  EXPECT_EQ("", zrReadFile(path(3532)));
}

TEST_F(CoreHorcm, ShortWriteIsAFailureAndLeavesNoFile) {
  struct rlimit old;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
  struct rlimit small = old;
  small.rlim_cur = 64;
  sighandler_t prev = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  int rc = Peer::createHorcmFiles(*impl, kSerial, true);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, prev);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(std::make_pair(62601, "Unable to write HORCM file " + path(3532)), error());
  struct stat st;
  EXPECT_NE(0, ::lstat(path(3532).c_str(), &st));
}

TEST_F(CoreHorcm, SerialMarkersAreRead) {
  struct Row {
    std::string text;
    std::set<std::string> serials;
  };
  const Row rows[] = {
      {"#\\\\.\\CMD-41234\n", {"41234"}},
      {"#\\\\.\\CMD-412345\n", {"412345"}},
      {"#\\\\.\\CMD-412345", {"412345"}},
      {"#\\\\.\\CMD-4123", {"4123"}},
      {"#\\\\.\\CMD-", {}},
      {"#\\\\.\\CMD-412345\n#\\\\.\\CMD-98765\n", {"412345", "98765"}},
      {"no marker here\n", {}},
      {"", {}},
  };
  for (const Row& r : rows) {
    std::set<std::string> got;
    Peer::scanSerials(r.text, got);
    EXPECT_EQ(r.serials, got) << r.text;
  }
  ASSERT_TRUE(zrWriteFile(path(3530), "#\\\\.\\CMD-55555\n"));
  std::set<std::string> got;
  EXPECT_EQ(0, Peer::readHorcmFiles(*impl, 3530, got));
  EXPECT_EQ(std::set<std::string>{"55555"}, got);
  EXPECT_EQ(1, Peer::readHorcmFiles(*impl, 3529, got));
  EXPECT_NE(std::string::npos, error().second.find("Failed to read HORCM file-["));
}

TEST_F(CoreHorcm, StartOutcomes) {
  options.horcmInst = "3532";
  ASSERT_TRUE(zrWriteFile(path(3532), kGolden3532));
  struct Row {
    HDSRecordingRunner::Reply reply;
    int result;
    int code;
    bool copied;
  };
  const Row rows[] = {
      {R::ok("starting HORCM inst 3532\nHORCM inst 3532 starts successfully.\n"), 0, 0, false},
      {R::exit(1, "starting HORCM inst 3532\nHORCM inst 3532 has already been running.\n"), 0, 0,
       false},
      {R::ok("starting HORCM inst 3532\n"), 1, 62600, true},
      {R::exit(2, "", "horcmstart.sh : horcm3532.conf is not found"), 1, 62600, true},
      {R::exit(1, "something else"), 1, 62600, true},
  };
  int copies = 0;
  for (const Row& r : rows) {
    runner = HDSRecordingRunner();
    runner.on("horcmstart.sh", r.reply);
    impl->setErrorCodeString(0, "");
    EXPECT_EQ(r.result, Peer::horcmStart(*impl, nullptr));
    EXPECT_EQ(std::vector<std::string>{"/cci/horcmstart.sh 3532"}, runner.lines());
    EXPECT_EQ(r.code, error().first);
    if (r.code == 62600) {
      EXPECT_EQ("Failed to start HORCM instance 3532", error().second);
    }
    if (r.copied) ++copies;
  }
  // Each failed start left a copy of the instance file in an output log.
  int found = 0;
  DIR* d = opendir(tempDir().c_str());
  ASSERT_NE(nullptr, d);
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.find("_resp.log") != std::string::npos) {
      ++found;
      EXPECT_EQ(kGolden3532, zrReadFile(tempDir() + "/" + n));
    }
  }
  closedir(d);
  EXPECT_EQ(copies, found);
}

TEST_F(CoreHorcm, StartAndShutdownRefuseBadInstances) {
  options.horcmInst = "";
  EXPECT_EQ(1, Peer::horcmStart(*impl, nullptr));
  EXPECT_EQ(std::make_pair(62601, std::string("HORCM instance is not passed.")), error());
  EXPECT_EQ(1, Peer::horcmShutdown(*impl, nullptr));
  EXPECT_EQ(std::make_pair(62601, std::string("HORCM instance is not passed to shutdown process.")),
            error());
  for (const char* bad : {"35x2", "3532;touch x", " 3532", "-1"}) {
    EXPECT_EQ(1, Peer::horcmStart(*impl, bad)) << bad;
    EXPECT_EQ(1, Peer::horcmShutdown(*impl, bad)) << bad;
  }
  EXPECT_TRUE(runner.lines().empty());
}

TEST_F(CoreHorcm, ShutdownOnlyOurOwnInstances) {
  runner.on("horcmshutdown.sh", R::ok());
  ASSERT_TRUE(zrWriteFile(path(3532), kGolden3532));
  EXPECT_EQ(0, Peer::horcmShutdown(*impl, "3532"));
  EXPECT_EQ(std::vector<std::string>{"/cci/horcmshutdown.sh 3532"}, runner.lines());

  runner.clear();
  ASSERT_TRUE(zrWriteFile(path(3531), "HORCM_MON\n"));  // not ours
  EXPECT_EQ(1, Peer::horcmShutdown(*impl, "3531"));
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm11.conf", kGolden3532));  // ours, wrong number
  EXPECT_EQ(1, Peer::horcmShutdown(*impl, "11"));
  EXPECT_EQ(1, Peer::horcmShutdown(*impl, "3530"));  // no file
  EXPECT_TRUE(runner.lines().empty());

  runner = HDSRecordingRunner();
  runner.on("horcmshutdown.sh", R::exit(1, "HORCM inst 3532 has already been stopped."));
  EXPECT_EQ(1, Peer::horcmShutdown(*impl, "3532"));
}

TEST_F(CoreHorcm, RemoveOnlyOurOwnFiles) {
  options.horcmInst = "";
  EXPECT_EQ(0, Peer::removeHorcmFiles(*impl));

  options.horcmInst = "3532";
  ASSERT_TRUE(zrWriteFile(path(3532), kGolden3532));
  EXPECT_EQ(0, Peer::removeHorcmFiles(*impl));
  EXPECT_EQ(0u, modeOf(path(3532)));
  EXPECT_EQ(0, Peer::removeHorcmFiles(*impl));  // already gone

  ASSERT_TRUE(zrWriteFile(path(3532), "HORCM_MON\n"));
  EXPECT_EQ(1, Peer::removeHorcmFiles(*impl));
  EXPECT_EQ("HORCM_MON\n", zrReadFile(path(3532)));

  // Non-numeric text is refused, never read as 0 (or as its digits).
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm0.conf", kGolden3532));
  ASSERT_TRUE(zrWriteFile(path(3531), kGolden3532));
  for (const char* bad : {"abc", "3531abc", "0", "3500", "3533"}) {
    options.horcmInst = bad;
    EXPECT_EQ(1, Peer::removeHorcmFiles(*impl)) << bad;
  }
  EXPECT_FALSE(zrReadFile(etcDir() + "horcm0.conf").empty());
  EXPECT_FALSE(zrReadFile(path(3531)).empty());
}

TEST_F(CoreHorcm, SaveFileAsLog) {
  EXPECT_EQ(0, Peer::saveFileAsLog(*impl, ""));
  ASSERT_TRUE(zrWriteFile(tmp.file("empty"), ""));
  EXPECT_EQ(0, Peer::saveFileAsLog(*impl, tmp.file("empty")));
  EXPECT_EQ(1, Peer::saveFileAsLog(*impl, tmp.file("missing")));
  EXPECT_EQ(std::make_pair(62601, "Failed to read the file " + tmp.file("missing")), error());
  ASSERT_TRUE(zrWriteFile(tmp.file("src"), "content\n"));
  EXPECT_EQ(0, Peer::saveFileAsLog(*impl, tmp.file("src")));
  EXPECT_TRUE(device.logged("Saved file-[" + tmp.file("src") + "] as ["));
}
