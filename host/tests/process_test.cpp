// ZrProcess against real children: the test binary re-executes itself with
// "--zr-child <mode> ..." to play the child (see childMain).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/ZrCapture.h"
#include "host/ZrProcess.h"
#include "host/ZrProcessInternal.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrChildProcess.h"

namespace {

void writeAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void writePidFile(const char* path) {
  std::string tmp = std::string(path) + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) return;
  std::fprintf(f, "%ld", static_cast<long>(::getpid()));
  std::fclose(f);
  std::rename(tmp.c_str(), path);
}

int childMain(int argc, char** argv) {
  std::string mode = argc > 2 ? argv[2] : "";
  if (mode == "streams") {  // A on stdout, B on stderr, exit 3
    writeAll(1, "A");
    writeAll(2, "B");
    return 3;
  }
  if (mode == "sleep") {
    ::usleep(static_cast<useconds_t>(std::atol(argv[3]) * 1000));
    return 0;
  }
  if (mode == "big") {  // argv[3] bytes on each stream, interleaved
    long total = std::atol(argv[3]);
    std::string outChunk(8192, 'o'), errChunk(8192, 'e');
    for (long done = 0; done < total; done += 8192) {
      size_t n = static_cast<size_t>(total - done < 8192 ? total - done : 8192);
      writeAll(1, outChunk.substr(0, n));
      writeAll(2, errChunk.substr(0, n));
    }
    return 0;
  }
  if (mode == "stdin") {  // reports what standard input gives
    char c;
    ssize_t n = ::read(0, &c, 1);
    writeAll(1, n == 0 ? "EOF" : n < 0 ? "ERR" : "DATA");
    return 0;
  }
  if (mode == "fds") {  // lists open descriptors above 2
    std::string open;
    for (int fd = 3; fd < 1024; ++fd)
      if (::fcntl(fd, F_GETFD) != -1) open += std::to_string(fd) + " ";
    writeAll(1, open.empty() ? "none" : open);
    return 0;
  }
  if (mode == "selfkill") {
    writeAll(1, "dying");
    ::kill(::getpid(), SIGKILL);
    ::sleep(5);
    return 0;
  }
  if (mode == "daemon") {  // leaves a grandchild that keeps stdout open
    if (::fork() == 0) {
      writePidFile(argv[3]);
      ::sleep(30);
      ::_exit(0);
    }
    writeAll(1, "parent done");
    return 0;
  }
  return 99;
}

// Polls until done() holds, for 10 s at most (which only a fault takes).
template <class Done>
bool waitUntil(Done done) {
  for (int i = 0; i < 1000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

std::vector<long> numbersIn(const std::string& text) {
  std::istringstream in(text);
  std::vector<long> out;
  for (long n = 0; in >> n;) out.push_back(n);
  return out;
}

// The pids a child wrote into path in one write, once there.
std::vector<long> readPids(const std::string& path) {
  std::string text;
  waitUntil([&] { return !(text = zrReadFile(path)).empty(); });
  return numbersIn(text);
}

long readPid(const std::string& path) {
  for (long pid : readPids(path)) return pid;
  return -1;
}

struct Result {
  bool started = false;
  bool ended = false;
  int exitCode = -12345;
  std::string error;
  std::string out;
  std::string err;
  long elapsedMillis = 0;
};

Result run(const std::string& args, long timeoutMillis, bool execDirect = false) {
  Result r;
  ZrProcess p;
  auto t0 = std::chrono::steady_clock::now();
  r.started = zrStartSelf(p, args, execDirect, &r.error);
  if (r.started) r.ended = p.WaitForProcessToEndMillis(&r.exitCode, &r.error, timeoutMillis);
  r.elapsedMillis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count());
  p.GetIO(&r.out, &r.err);
  return r;
}

// Runs a plain /bin/sh command line. The time-out tests use it rather than
// the test binary, whose start under a sanitizer and a loaded machine can
// take longer than the time-out being tested.
Result runShell(const std::string& command, long timeoutMillis) {
  Result r;
  std::string sh = "/bin/sh", c = "-c", cmd = command;
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(true, true);
  p.SetSilence(true);
  auto t0 = std::chrono::steady_clock::now();
  r.started = p.StartProcess(argv, &r.error, 0);
  if (r.started) r.ended = p.WaitForProcessToEndMillis(&r.exitCode, &r.error, timeoutMillis);
  r.elapsedMillis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count());
  p.GetIO(&r.out, &r.err);
  return r;
}

TEST(ZrProcess, ExitCodeAndBothStreams) {
  Result r = run("streams", 10000);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_TRUE(r.ended) << r.error;
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ("A", r.out);
  EXPECT_EQ("B", r.err);
}

TEST(ZrProcess, ShortSleepEndsWithZero) {
  Result r = run("sleep 50", 10000);
  ASSERT_TRUE(r.ended) << r.error;
  EXPECT_EQ(0, r.exitCode);
  EXPECT_GE(r.elapsedMillis, 50);
}

TEST(ZrProcess, FourMegabytesOnBothStreamsDoNotDeadlock) {
  const long size = 4L * 1024 * 1024;
  Result r = run("big " + std::to_string(size), 20000);
  ASSERT_TRUE(r.ended) << r.error;
  EXPECT_EQ(0, r.exitCode);
  ASSERT_EQ(static_cast<size_t>(size), r.out.size());
  ASSERT_EQ(static_cast<size_t>(size), r.err.size());
  EXPECT_EQ(std::string::npos, r.out.find_first_not_of('o'));
  EXPECT_EQ(std::string::npos, r.err.find_first_not_of('e'));
}

TEST(ZrProcess, StandardInputIsDevNull) {
  Result r = run("stdin", 10000);
  ASSERT_TRUE(r.ended) << r.error;
  EXPECT_EQ("EOF", r.out);
}

TEST(ZrProcess, NoDescriptorLeaksIntoTheChild) {
  // Descriptors of ours without close-on-exec must not reach the child.
  int leaky = ::open("/dev/null", O_RDONLY);
  int pipeFds[2];
  ASSERT_EQ(0, ::pipe(pipeFds));
  Result r = run("fds", 10000);
  ::close(leaky);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  ASSERT_TRUE(r.ended) << r.error;
  EXPECT_EQ("none", r.out);
}

TEST(ZrProcess, TimeOutKillsTheWholeGroup) {
  ScopedTempDir dir;
  const std::string pidFile = dir.file("grandchild.pid");
  // The grandchild records its pid first; shell and grandchild both sleep.
  Result r = runShell("sleep 30 & echo $! > '" + pidFile + "'; sleep 30", 1500);
  EXPECT_FALSE(r.ended);
  EXPECT_EQ("timedout", r.error);
  EXPECT_LT(r.elapsedMillis, 5000);
  long grandchild = readPid(pidFile);
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(zrWaitDead(grandchild)) << "grandchild " << grandchild << " outlived the time-out";
}

TEST(ZrProcess, TimeOutKillsAChildThatIgnoresTerm) {
  ScopedTempDir dir;
  const std::string pidFile = dir.file("child.pid");
  // An ignored TERM is inherited by the sleep the shell starts.
  Result r = runShell("trap '' TERM; echo $$ > '" + pidFile + "'; sleep 30", 1500);
  EXPECT_FALSE(r.ended);
  EXPECT_EQ("timedout", r.error);
  long child = readPid(pidFile);
  ASSERT_GT(child, 0);
  EXPECT_TRUE(zrWaitDead(child));
}

TEST(ZrProcess, DeathBySignalIsAFailure) {
  // The child itself (exec replaces the shell) is killed.
  Result r = run("selfkill", 10000, /*execDirect=*/true);
  EXPECT_FALSE(r.ended);
  EXPECT_EQ(128 + SIGKILL, r.exitCode);
  EXPECT_EQ("terminated by signal 9", r.error);
  EXPECT_EQ("dying", r.out);
  // Behind the shell the death arrives as the shell's exit status, never 0.
  Result viaShell = run("selfkill", 10000);
  EXPECT_TRUE(viaShell.ended);
  EXPECT_EQ(128 + SIGKILL, viaShell.exitCode);
}

TEST(ZrProcess, DaemonHoldingThePipeDoesNotHangTheWait) {
  ScopedTempDir dir;
  const std::string pidFile = dir.file("daemon.pid");
  Result r = run("daemon '" + pidFile + "'", 20000);
  long daemon = readPid(pidFile);
  if (daemon > 0) ::kill(static_cast<pid_t>(daemon), SIGKILL);
  ASSERT_TRUE(r.ended) << r.error;
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("parent done", r.out);
  EXPECT_LT(r.elapsedMillis, 10000);
}

TEST(ZrProcess, StartFailsForAMissingProgram) {
  std::string prog = "/nonexistent/zr-no-such-program";
  char* argv[] = {&prog[0], nullptr};
  ZrProcess p;
  std::string error;
  EXPECT_FALSE(p.StartProcess(argv, &error, 0));
  EXPECT_NE(std::string::npos, error.find("exec")) << error;
  int code = 0;
  EXPECT_FALSE(p.WaitForProcessToEnd(&code, &error, 1));
}

TEST(ZrProcess, SystemReturnsTheExitCodeOrMinusOne) {
  std::string out, err;
  EXPECT_EQ(7, ZrProcess::system("printf x; printf y >&2; exit 7", &out, &err, 0, true));
  EXPECT_EQ("x", out);
  EXPECT_EQ("y", err);
  EXPECT_EQ(-1, ZrProcess::system("kill -9 $$", &out, &err, 0, true));
  EXPECT_EQ(-1, ZrProcess::system(nullptr, &out, &err, 0, true));
}

TEST(ZrProcess, GetIOFillsOnlyTheTextsAskedFor) {
  std::string cmd = "printf out; printf err >&2";
  std::string sh = "/bin/sh", c = "-c";
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(true, true);
  std::string error;
  ASSERT_TRUE(p.StartProcess(argv, &error, 0));
  int code = -1;
  ASSERT_TRUE(p.WaitForProcessToEnd(&code, &error, 10));
  std::string out = "unchanged";
  p.GetIO(&out, nullptr);
  EXPECT_EQ("out", out);
  std::string err = "unchanged";
  p.GetIO(nullptr, &err);
  EXPECT_EQ("err", err);
}

TEST(ZrProcess, UntrappedSilentStreamsAreDiscarded) {
  std::string cmd = "printf out; printf err >&2; exit 4";
  std::string sh = "/bin/sh", c = "-c";
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(false, false);
  p.SetSilence(true);
  std::string error;
  ASSERT_TRUE(p.StartProcess(argv, &error, 0));
  int code = -1;
  ASSERT_TRUE(p.WaitForProcessToEnd(&code, &error, 10));
  EXPECT_EQ(4, code);
  std::string out = "x", err = "y";
  p.GetIO(&out, &err);
  EXPECT_EQ("", out);
  EXPECT_EQ("", err);
}

// The job of a crash test, in a forked process: runs command and waits for
// it (the test kills the job meanwhile).
[[noreturn]] void runJob(const std::string& command) {
  std::string sh = "/bin/sh", c = "-c", cmd = command;
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(true, true);
  std::string error;
  if (!p.StartProcess(argv, &error, 0)) ::_exit(2);
  int code = 0;
  p.WaitForProcessToEnd(&code, &error, 60);
  ::_exit(3);
}

// ---- A dead job leaves nothing running; exit codes whatever the host does

// Runs the job in a forked process that starts "sh -c 'sleep 30 & sleep 30'"
// (a command with a background child), reports the pids of both sleeps and
// is then killed with SIGKILL mid-command. Within a second nothing of the
// command is left.
TEST(ZrProcessCrash, KilledJobLeavesNoToolRunning) {
  ScopedTempDir dir;
  const std::string pids = dir.file("pids");
  pid_t job = ::fork();
  ASSERT_GE(job, 0);
  if (job == 0) {
    runJob("sleep 30 & echo $! > '" + pids + ".tmp'; echo $$ >> '" + pids + ".tmp'; mv '" + pids +
           ".tmp' '" + pids + "'; wait");
  }
  long background = -1, shell = -1;
  for (int i = 0; i < 500 && background < 0; ++i) {
    std::string text = zrReadFile(pids);
    if (!text.empty()) std::sscanf(text.c_str(), "%ld %ld", &background, &shell);
    if (background < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(background, 0);
  ASSERT_GT(shell, 0);
  ASSERT_TRUE(zrProcessAlive(background));
  ::kill(job, SIGKILL);
  int status = 0;
  ASSERT_EQ(job, ::waitpid(job, &status, 0));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(zrWaitDead(shell));
  EXPECT_TRUE(zrWaitDead(background));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

// ---- A command's whole tree ends with it ---------------------------------

// The session a process leads or belongs to; -1 when it is gone.
long sessionOf(long pid) {
  std::string stat = zrReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  long ppid = 0, pgrp = 0, sid = -1;
  char state = 0;
  std::sscanf(stat.c_str() + close + 1, " %c %ld %ld %ld", &state, &ppid, &pgrp, &sid);
  return sid;
}

bool stopped(long pid) {
  return zrReadFile("/proc/" + std::to_string(pid) + "/stat").find(") T ") != std::string::npos;
}

// A command that leaves a process in a session of its own and waits for
// it. The process writes its pid into pidFile once it leads its session,
// the command its own into pidFile.root (each in one write).
std::string escapingCommand(const std::string& pidFile) {
  return "setsid /bin/sh -c 'echo $$ > \"$0\"; exec sleep 30' '" + pidFile + "' & echo $$ > '" +
         pidFile + ".root'; wait";
}

// Runs command in p as the runner would with SIGCHLD as given.
void setSigchld(void (*handler)(int)) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = handler;
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGCHLD, &sa, nullptr);
}

struct TreeCase {
  const char* name;
  void (*sigchld)(int);  // SIG_DFL: the direct path; SIG_IGN: the supervised one
};
const TreeCase kTreeCases[] = {{"direct", SIG_DFL}, {"supervised", SIG_IGN}};

// Holds a command's child before its exec until its parent-death signal
// stops it, having written its pid into g_heldPidFile (system calls only:
// it shares the job's memory).
std::string g_heldPidFile;
void waitBeforeExec() {
  char pid[32];
  const ssize_t n = ::readlink("/proc/self", pid, sizeof(pid));
  const int fd = ::open(g_heldPidFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (n > 0 && fd >= 0 && ::write(fd, pid, static_cast<size_t>(n)) == n) ::close(fd);
  const struct timespec tick = {0, 10 * 1000 * 1000};
  for (;;) ::nanosleep(&tick, nullptr);
}

// A direct command's child that the job's death stops before its exec
// holds none of the job's descriptors: the watcher sees the job go and
// ends it. (A child that kept the job's end of the watcher's socket would
// stay stopped, and the watcher waiting, for ever.)
TEST(ZrProcessCrash, ChildStoppedBeforeItsExecEndsWithTheJob) {
  ScopedTempDir dir;
  g_heldPidFile = dir.file("held.pid");
  pid_t job = ::fork();
  ASSERT_GE(job, 0);
  if (job == 0) {
    setSigchld(SIG_DFL);  // the direct path
    zrproc::g_directChildBeforeExec = waitBeforeExec;
    runJob("sleep 30");
  }
  const std::vector<long> held = readPids(g_heldPidFile);
  ::kill(job, SIGKILL);
  ASSERT_EQ(job, ::waitpid(job, nullptr, 0));
  ASSERT_EQ(1u, held.size());
  EXPECT_TRUE(zrWaitDead(held[0])) << "process " << held[0] << " stayed after the job";
  if (zrProcessAlive(held[0])) ::kill(static_cast<pid_t>(held[0]), SIGKILL);
}

// At the time-out the process that left the command's session is killed
// with the command, on both paths.
TEST(ZrProcessTree, TimeOutEndsAProcessInASessionOfItsOwn) {
  struct sigaction saved;
  ::sigaction(SIGCHLD, nullptr, &saved);
  for (const TreeCase& c : kTreeCases) {
    SCOPED_TRACE(c.name);
    setSigchld(c.sigchld);
    ScopedTempDir dir;
    const std::string pidFile = dir.file("escaper.pid");
    Result r = runShell(escapingCommand(pidFile), 1500);
    EXPECT_FALSE(r.ended);
    EXPECT_EQ("timedout", r.error);
    long escaper = readPid(pidFile);
    ASSERT_GT(escaper, 0);
    EXPECT_TRUE(zrWaitDead(escaper)) << "process " << escaper << " outlived the time-out";
    if (zrProcessAlive(escaper)) ::kill(static_cast<pid_t>(escaper), SIGKILL);
  }
  ::sigaction(SIGCHLD, &saved, nullptr);
}

// When the job dies mid-command, the process that left the command's
// session dies too, on both paths. With commandStopped the command is
// stopped as the job dies, as the runner and the watcher hold it while they
// walk its tree: the kernel's signals of the job's end must not end it, or
// what left its session goes to init before the walk. The tree's ender is
// held until those signals are done, so that the walk always comes last.
void expectJobDeathEndsTheEscaper(bool commandStopped) {
  for (const TreeCase& c : kTreeCases) {
    SCOPED_TRACE(c.name);
    ScopedTempDir dir;
    const std::string pidFile = dir.file("escaper.pid");
    pid_t job = ::fork();
    ASSERT_GE(job, 0);
    if (job == 0) {
      setSigchld(c.sigchld);
      runJob(escapingCommand(pidFile));
    }
    long escaper = readPid(pidFile);
    const long command = readPid(pidFile + ".root");
    long ender = -1;  // the job's other child: the command's supervisor, or the group watcher
    for (long child : numbersIn(zrReadFile("/proc/" + std::to_string(job) + "/task/" +
                                           std::to_string(job) + "/children")))
      if (child != command) ender = child;
    ASSERT_TRUE(escaper > 0 && command > 0 && ender > 0);
    EXPECT_EQ(escaper, sessionOf(escaper));
    const std::vector<long> held =
        commandStopped ? std::vector<long>{command, ender} : std::vector<long>();
    for (long pid : held) {
      ::kill(static_cast<pid_t>(pid), SIGSTOP);
      EXPECT_TRUE(waitUntil([&] { return stopped(pid); })) << "process " << pid;
    }
    ::kill(job, SIGKILL);
    ASSERT_EQ(job, ::waitpid(job, nullptr, 0));
    // What the job's end signalled dies; what it left alone stays stopped.
    for (long pid : held)
      EXPECT_TRUE(waitUntil([&] { return !zrProcessAlive(pid) || stopped(pid); }));
    if (commandStopped) ::kill(static_cast<pid_t>(ender), SIGCONT);
    EXPECT_TRUE(zrWaitDead(escaper)) << "process " << escaper << " outlived the job";
    for (long pid : {escaper, command})
      if (zrProcessAlive(pid)) ::kill(static_cast<pid_t>(pid), SIGKILL);
  }
}

TEST(ZrProcessTree, JobDeathEndsAProcessInASessionOfItsOwn) { expectJobDeathEndsTheEscaper(false); }
TEST(ZrProcessTree, JobDeathWhileTheCommandIsStoppedEndsAProcessInASessionOfItsOwn) {
  expectJobDeathEndsTheEscaper(true);
}

// A command that ends normally leaves alone what it started in a session
// of its own (a daemon it launched).
TEST(ZrProcessTree, NormalEndLeavesADaemonInItsOwnSession) {
  ScopedTempDir dir;
  const std::string pidFile = dir.file("daemon.pid");
  Result r = runShell("setsid sleep 30 > /dev/null 2>&1 & echo $! > '" + pidFile + "'", 10000);
  ASSERT_TRUE(r.ended) << r.error;
  EXPECT_EQ(0, r.exitCode);
  long daemon = readPid(pidFile);
  ASSERT_GT(daemon, 0);
  EXPECT_TRUE(zrProcessAlive(daemon));
  ::kill(static_cast<pid_t>(daemon), SIGKILL);
}

void reapEverything(int) {
  int saved = errno;
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}

// Exit codes stay right when the host ignores SIGCHLD (children are reaped
// by the kernel) or reaps every child itself from a handler.
TEST(ZrProcessCrash, ExitCodesWhenTheHostIgnoresOrReapsChildren) {
  struct sigaction saved;
  ::sigaction(SIGCHLD, nullptr, &saved);
  for (int mode = 0; mode < 2; ++mode) {
    SCOPED_TRACE(mode == 0 ? "SIGCHLD ignored" : "host reaps children");
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = mode == 0 ? SIG_IGN : reapEverything;
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGCHLD, &sa, nullptr);
    for (int code : {0, 3, 202}) {
      Result r = runShell("printf A; exit " + std::to_string(code), 10000);
      ASSERT_TRUE(r.started) << r.error;
      EXPECT_TRUE(r.ended) << r.error;
      EXPECT_EQ(code, r.exitCode);
      EXPECT_EQ("A", r.out);
    }
  }
  ::sigaction(SIGCHLD, &saved, nullptr);
}

// The command's root (the command itself, or its supervisor) leads a group
// and a session of its own, with no terminal to prompt on, on both paths.
TEST(ZrProcessCrash, CommandRootLeadsAGroupAndASessionOfItsOwnWithNoTerminal) {
  struct sigaction saved;
  ::sigaction(SIGCHLD, nullptr, &saved);
  for (const TreeCase& c : kTreeCases) {
    SCOPED_TRACE(c.name);
    setSigchld(c.sigchld);
    Result r = runShell("echo $$ $PPID; cut -d' ' -f5-7 /proc/$$/stat", 10000);
    EXPECT_TRUE(r.ended) << r.error;
    std::vector<long> n = numbersIn(r.out);  // shell, its parent, group, session, terminal
    EXPECT_EQ(5u, n.size()) << r.out;
    n.resize(5, -1);
    const long root = c.sigchld == SIG_DFL ? n[0] : n[1];
    EXPECT_EQ((std::vector<long>{root, root, 0}), std::vector<long>(n.begin() + 2, n.end()));
  }
  ::sigaction(SIGCHLD, &saved, nullptr);
}

// A tool that prints without end is stopped at the cap; memory stays bounded.
TEST(ZrProcessCrash, OutputPastTheLimitStopsTheCommand) {
  std::string sh = "/bin/sh", c = "-c", cmd = "yes 0123456789abcdef";
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(true, true);
  p.SetOutputLimit(4 << 20);
  std::string error;
  ASSERT_TRUE(p.StartProcess(argv, &error, 0)) << error;
  int code = 0;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(p.WaitForProcessToEndMillis(&code, &error, 20000));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(0u, error.find("output limit exceeded")) << error;
  std::string out, err;
  p.TakeIO(&out, &err);
  EXPECT_LE(out.size(), (4u << 20) + (1u << 20));
}

// Past its first megabyte a capture reserves the most it may hold once, and
// the text never moves again while it grows (no copy, no second buffer):
// with a cap, without one (the memory window stands for it), and with a cap
// above the window. Every byte read arrives in what is handed over.
TEST(ZrCapture, LargeTextNeverMovesOnceReserved) {
  if (zrReadFile("/proc/sys/vm/overcommit_memory").compare(0, 1, "2") == 0)
    GTEST_SKIP() << "a strict commit limit may refuse the reservation";
  constexpr size_t kFill = size_t(16) << 20;
  std::string want(kFill, 0);
  for (size_t i = 0; i < kFill; ++i) want[i] = static_cast<char>('a' + i % 26);
  for (size_t cap : {size_t(0), size_t(64) << 20, std::string().max_size() / 2}) {
    SCOPED_TRACE(cap);
    ZrCapture c;
    c.expectAtMost(cap);
    const char* reserved = nullptr;  // where the text starts once reserved
    while (c.size() < kFill) {
      size_t room = 0;
      char* into = c.space(&room);
      ASSERT_NE(nullptr, into) << "no room at " << c.size();
      if (c.size() > ZrCapture::kReserveFrom && reserved == nullptr) reserved = into - c.size();
      ASSERT_TRUE(reserved == nullptr || reserved == into - c.size())
          << "the text moved after its reservation, at " << c.size();
      const size_t n = std::min(room, kFill - c.size());
      std::memcpy(into, want.data() + c.size(), n);
      c.commit(n);
    }
    ASSERT_NE(nullptr, reserved);
    EXPECT_TRUE(c.take() == want) << "a byte read went missing or astray";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--zr-child") == 0) return childMain(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
