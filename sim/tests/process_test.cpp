// The simulator as real child processes: the tool directory, the state file
// fallback, the front end, hangs, and several processes changing one state
// file at once.
#include "sim/tests/ccisim_test_util.h"

#include <filesystem>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace ccisim;
using namespace ccisim_test;

namespace {

struct ShellResult {
  int exitCode;
  std::string out;
};

// Runs a shell line (stderr folded into stdout).
ShellResult shell(const std::string& line) {
  ShellResult r{-1, ""};
  FILE* p = ::popen((line + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class Processes : public SimTest {};

TEST_F(Processes, ToolDirectoryAnswersUnderEveryName) {
  for (const char* t :
       {"raidcom", "raidqry", "raidscan", "pairsyncwait", "horcmstart.sh", "horcmshutdown.sh"})
    EXPECT_TRUE(std::filesystem::exists(toolDir() + t)) << t;
  EXPECT_EQ('/', toolDir().back());
  Outcome h = fx.runProcess("raidqry", {"-h"});
  EXPECT_EQ(0, h.exitCode);
  EXPECT_NE(std::string::npos, h.out.find("Ver&Rev: 01-40-03/01\n"));
  EXPECT_EQ("", h.err);
  Outcome bad =
      fx.runProcess("raidcom", {"get", "ldev", "-ldev_id", "256", "-IM3599", "-s", "412345"});
  EXPECT_EQ(kExitNotAttached, bad.exitCode);
  EXPECT_EQ("", bad.out);
  EXPECT_EQ("raidcom: [EX_ATTHOR] Can't be attached to HORC manager\n", bad.err);
  Outcome ldevOut =
      fx.runProcess("raidcom", {"get", "ldev", "-ldev_id", "256", "-IM3532", "-s", "412345"});
  EXPECT_EQ(rc("get ldev -ldev_id 256").out, ldevOut.out) << "child and in-process runs agree";
  // The plug-in's own way: one shell line with the tool's full path.
  ShellResult sh = shell("CCISIM_STATE=" + fx.statePath() + " " + toolDir() +
                         "raidcom  get ldev   -ldev_id 256 -IM3532 -s 412345");
  EXPECT_EQ(0, sh.exitCode);
  EXPECT_EQ(ldevOut.out, sh.out);
  EXPECT_EQ(4u, fx.journal("raidcom", "get ldev").size());
}

TEST_F(Processes, StateFileFoundBesideTheToolDirectory) {
  char tmpl[] = "/tmp/ccisim-fallback.XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(tmpl));
  std::string root = tmpl;
  {
    Fixture other(root + "/state");
    std::filesystem::create_directories(root + "/bin");
    std::filesystem::create_symlink(ccisimBinary(), root + "/bin/raidqry");
    ShellResult r = shell("env -u CCISIM_STATE " + root + "/bin/raidqry -h");
    EXPECT_EQ(0, r.exitCode) << r.out;
    std::vector<JournalEntry> j = other.journal();
    ASSERT_EQ(1u, j.size());
    EXPECT_EQ("raidqry", j[0].tool);
    EXPECT_TRUE(fx.journal().empty()) << "the test's own state was not used";
  }
  std::filesystem::remove_all(root);
}

TEST_F(Processes, FrontEndInitShowRun) {
  std::string st = fx.dir() + "/demo/ccisim.state";
  std::string env = "CCISIM_STATE=" + st + " ZRHOST_HORCM_ETC_DIR=" + fx.dir() + "/demo/etc ";
  ShellResult init = shell(env + ccisimBinary() + " init --serial 512345 --user admin:pw");
  ASSERT_EQ(0, init.exitCode) << init.out;
  EXPECT_NE(0, shell(env + ccisimBinary() + " init").exitCode) << "an existing state is kept";
  ShellResult show = shell(env + ccisimBinary() + " show");
  EXPECT_EQ(0, show.exitCode);
  EXPECT_NE(std::string::npos, show.out.find("array 512345 model M8S"));
  EXPECT_NE(std::string::npos, show.out.find("command device /dev/sdc -> 512345 LDEV 2047"));
  EXPECT_NE(std::string::npos, show.out.find("user admin"));
  EXPECT_EQ(std::string::npos, show.out.find("pw")) << "passwords are not shown";
  // The demo array takes a real start and login.
  std::string etc = fx.dir() + "/demo/etc/horcm3532.conf";
  FILE* f = std::fopen(etc.c_str(), "w");
  ASSERT_NE(nullptr, f);
  std::fputs(horcmFileText("mahost01", 3532, "512345", {"/dev/sdc"}).c_str(), f);
  std::fclose(f);
  EXPECT_EQ(0, shell(env + ccisimBinary() + " run horcmstart.sh 3532").exitCode);
  EXPECT_EQ(0, shell(env + ccisimBinary() + " run raidcom -login admin pw -IM3532").exitCode);
  ShellResult ldev =
      shell(env + ccisimBinary() + " run raidcom get ldev -ldev_id 256 -IM3532 -s 512345");
  EXPECT_EQ(0, ldev.exitCode);
  EXPECT_NE(std::string::npos, ldev.out.find("PORTs : CL1-A-1 0 mahost01_hg\n"));
  ShellResult j = shell(env + ccisimBinary() + " journal");
  EXPECT_NE(std::string::npos,
            j.out.find("raidcom get ldev -ldev_id 256 -IM3532 -s 512345  -> exit 0"));
  EXPECT_EQ(2, shell(env + ccisimBinary() + " frob").exitCode);
}

TEST_F(Processes, HangBeforeTheEffectKilledByATimeOut) {
  fx.addFault(Fault::hang("raidcom", "modify ldev", 20000, true));
  std::string line =
      toolDir() + "raidcom modify ldev -ldev_id 257 -ldev_name QB_LATE -IM3532 -s 412345";
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setenv("CCISIM_STATE", fx.statePath().c_str(), 1);
    ::execl("/bin/sh", "sh", "-c", ("exec " + line).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait (bounded) until the tool has reached its hang.
  bool marked = false;
  for (int i = 0; i < 500 && !marked; ++i) {
    for (const JournalEntry& e : fx.journal()) marked = marked || e.hangMarker;
    if (!marked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(marked);
  // The state is not locked while it hangs.
  EXPECT_EQ(0, rc("get ldev -ldev_id 257").exitCode);
  ::kill(pid, SIGKILL);
  int st = 0;
  ::waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFSIGNALED(st));
  EXPECT_EQ("src1", ldev(257).label) << "killed before the effect";
}

TEST_F(Processes, HangAfterTheEffectDelaysTheAnswer) {
  fx.addFault(Fault::hang("raidcom", "modify ldev", 150, false));
  auto t0 = std::chrono::steady_clock::now();
  Outcome o = fx.runProcess("raidcom", {"modify", "ldev", "-ldev_id", "257", "-ldev_name", "QB_X",
                                        "-IM3532", "-s", "412345"});
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_EQ(0, o.exitCode);
  EXPECT_GE(ms, 150);
  EXPECT_EQ("QB_X", ldev(257).label);
}

TEST_F(Processes, ConcurrentProcessesShareOneConsistentState) {
  CopyGroup g;
  g.name = "CG1";
  g.qIssued = 1000;
  fx.addCopyGroup(kSerial, g);
  const int kThreads = 4, kRuns = 6;
  std::vector<std::thread> th;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    th.emplace_back([&, t] {
      for (int i = 0; i < kRuns; ++i) {
        Outcome q =
            fx.runProcess("pairsyncwait", {"-g", "CG1", "-nowait", "-t", "99999", "-IH3532"});
        // Each thread also changes its own LDEV's label and adds snapshot pairs.
        std::string name = "L" + std::to_string(t) + "_" + std::to_string(i);
        Outcome m = fx.runProcess("raidcom", {"modify", "ldev", "-ldev_id", std::to_string(256 + t),
                                              "-ldev_name", name, "-IM3532", "-s", "412345"});
        Outcome a = fx.runProcess(
            "raidcom", {"add", "snapshot", "-ldev_id", std::to_string(256 + t), "-pool", "5",
                        "-snapshotgroup", "G", "-IM3532", "-s", "412345"});
        failures[t] += (q.exitCode != 0) + (m.exitCode != 0) + (a.exitCode != 0);
      }
    });
  }
  for (auto& x : th) x.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
  Array a = array();
  EXPECT_EQ(1000u + kThreads * kRuns, a.copyGroups["CG1"].qIssued) << "no increment lost";
  EXPECT_EQ(static_cast<size_t>(kThreads * kRuns), a.pairs.size());
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ("L" + std::to_string(t) + "_" + std::to_string(kRuns - 1), a.ldev(256 + t).label);
    std::set<int> mus;
    for (const auto& p : a.pairs)
      if (p.pvol == 256 + t) mus.insert(p.mu);
    EXPECT_EQ(static_cast<size_t>(kRuns), mus.size()) << "every MU allocated once";
  }
  std::vector<JournalEntry> j = fx.journal();
  ASSERT_EQ(static_cast<size_t>(3 * kThreads * kRuns), j.size());
  std::set<int64_t> ticks;
  std::set<std::string> markers;
  for (const auto& e : j) {
    ticks.insert(e.tick);
    if (e.tool == "pairsyncwait") markers.insert(split(lines(e.out).back())[2]);
  }
  EXPECT_EQ(j.size(), ticks.size()) << "each invocation saw the state its predecessor left";
  EXPECT_EQ(static_cast<size_t>(kThreads * kRuns), markers.size())
      << "no Q-marker handed out twice";
}

}  // namespace
