// Speed of the host layer, each measurement beside its bare baseline in the
// same run: the variants of one comparison run in interleaved rounds (a
// rotating order within each round) and each reports its median, so that
// the load of a shared machine falls on every variant alike.
//  - BM_Runner: a bare posix_spawn of /bin/sh -c <line> with both streams
//    on pipes read to their end and waitpid, for the line as given
//    ("/bin/true": the shell forks the tool) and with "exec" in front (the
//    shell becomes the tool); beside them ZrProcess with the exec'd line and
//    CommandHelper with the line as given.
//  - BM_Capture: 1 GiB from dd, by a bare loop that reads 1 MiB at a time
//    from a 1 MiB pipe and appends to one std::string, by ZrProcess with an
//    output limit (2 GiB) and without one, by CommandHelper and by the array
//    layer's executeCommand; "peak_x" is the peak resident memory a run
//    added, over the output's size.
//  - BM_Uncontended: a bare flock pair on an open file beside the host's
//    named mutex (one object kept, and one per scope) and ZRHDSLock (one per
//    scope, as the plug-in takes its locks).
//  - BM_Contended: 8 processes taking one lock in turn for a second, each
//    holding it 200 us: every wait's p50, p99 and maximum, for blocking
//    flock and the named mutex.
//  - getRegInt on a store of 1,000 and 10,000 keys beside reading the file.
// A summary of ratios follows the table. Each benchmark uses its own
// temporary directory for the host locations.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "bench/ZrBenchReport.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"
#include "host/ZrProcess.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "util/CommandHelper.h"
#include "util/ZRHDSLock.h"

extern char** environ;

namespace {

const char kTool[] = "/bin/true";
const char kExecTool[] = "exec /bin/true";
// A command that prints 1 GiB fast (dd from /dev/zero in 1 MiB blocks).
const char kGigabyte[] = "/bin/dd if=/dev/zero bs=1048576 count=1024 status=none";
constexpr size_t kGigabyteBytes = size_t(1024) << 20;
constexpr int kChunk = 1 << 20;

// ---- memory of one run -------------------------------------------------

long statusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(in, line))
    if (line.compare(0, n, key) == 0) return std::atol(line.c_str() + n + 1);
  return 0;
}

// Peak resident memory added while fn runs, over bytes: the kernel's peak
// is reset first (clear_refs 5), so each run is measured alone.
template <class Fn>
double peakOver(size_t bytes, Fn fn) {
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long before = statusKiB("VmRSS:");
  fn();
  const long peak = statusKiB("VmHWM:");
  return static_cast<double>(peak - before) * 1024.0 / static_cast<double>(bytes);
}

// ---- the command runner ------------------------------------------------

// The bare baseline: posix_spawn of /bin/sh -c line, standard input from
// /dev/null, both streams on pipes read to their end, then waitpid.
// Returns the bytes read from standard output.
size_t bareRun(const char* line, std::string* keep) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return 0;
  // The pipe and the reads as large as the runner's: only what each side
  // does with the bytes differs.
  if (keep != nullptr) ::fcntl(out[0], F_SETPIPE_SZ, kChunk);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  char sh[] = "/bin/sh", c[] = "-c";
  std::string cmd = line;
  char* argv[] = {sh, c, &cmd[0], nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(out[1]);
  ::close(err[1]);
  size_t total = 0;
  static std::vector<char> chunkBuffer(kChunk);
  char* chunk = chunkBuffer.data();
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = rc == 0 ? 2 : 0;
  while (open > 0) {
    if (::poll(fds, 2, -1) <= 0) continue;
    for (struct pollfd& f : fds) {
      if (f.fd < 0 || (f.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      ssize_t n = ::read(f.fd, chunk, kChunk);
      if (n > 0) {
        if (f.fd == out[0]) {
          total += static_cast<size_t>(n);
          if (keep != nullptr) keep->append(chunk, static_cast<size_t>(n));
        }
        continue;
      }
      ::close(f.fd);
      f.fd = -1;
      --open;
    }
  }
  for (struct pollfd& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  if (rc == 0) ::waitpid(pid, &status, 0);
  return total;
}

// ---- interleaved rounds ----------------------------------------------

// Runs every variant rounds times, the variants in a rotating order within
// each round, and gives each variant's median seconds per run. One case's
// bad moment on a shared machine then falls on every variant alike.
std::vector<double> interleaved(int rounds, const std::vector<std::function<bool()>>& variants,
                                benchmark::State& state) {
  std::vector<std::vector<double>> samples(variants.size());
  for (int r = 0; r < rounds; ++r) {
    for (size_t k = 0; k < variants.size(); ++k) {
      const size_t v = (k + static_cast<size_t>(r)) % variants.size();
      const auto t0 = std::chrono::steady_clock::now();
      if (!variants[v]()) {
        state.SkipWithError("a variant failed");
        return std::vector<double>(variants.size(), 0);
      }
      samples[v].push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& v : samples) {
    std::sort(v.begin(), v.end());
    medians.push_back(v.empty() ? 0 : v[v.size() / 2]);
  }
  return medians;
}

// ---- the command runner --------------------------------------------------

bool processRun(const char* line, size_t limit, std::string* out) {
  std::string sh = "/bin/sh", c = "-c", cmd = line;
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(true, true);
  p.SetSilence(true);
  p.SetOutputLimit(limit);
  std::string error, err;
  int code = -1;
  bool ok = p.StartProcess(argv, &error, 0) && p.WaitForProcessToEnd(&code, &error, 300);
  p.TakeIO(out, &err);
  return ok && code == 0;
}

// The bare spawn of the line as given (the shell forks the tool) and of the
// exec'd line, ZrProcess with the exec'd line, CommandHelper with the line
// as the array layer gives it; microseconds per command (medians).
void BM_Runner(benchmark::State& state) {
  ScopedTempDir dir;
  FakeSnapInfo device;
  CommandHelper helper(device);
  std::vector<double> us;
  for (auto _ : state) {
    us = interleaved(
        static_cast<int>(state.range(0)),
        {[] { return bareRun(kTool, nullptr) == 0; },
         [] { return bareRun(kExecTool, nullptr) == 0; },
         [] {
           std::string out;
           return processRun(kExecTool, 0, &out);
         },
         [&] {
           std::string out, err;
           int code = -1;
           return helper.RunCommandWithTimeout(kTool, out, code, err, 30) == 0 && code == 0;
         }},
        state);
  }
  const char* names[] = {"bare_us", "bare_exec_us", "process_us", "helper_us"};
  for (size_t i = 0; i < us.size(); ++i) state.counters[names[i]] = us[i] * 1e6;
}
BENCHMARK(BM_Runner)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- capture of 1 GiB --------------------------------------------------

// Through the array layer: the implementer's executeCommand with the
// production runner, as every CCI command runs.
struct ArrayLayer {
  ArrayLayer() : params(osUtil, options, snaps) {
    impl.reset(new ZRHDSRaidcomImplementer(log, params, ZRHDSCommandHelperRunner::instance(), false));
    ZRHDSRaidcomTestPeer::setReady(*impl, dir.path());
  }
  bool run(std::string* out) {
    const std::string line = kGigabyte;
    const size_t blank = line.find(' ');
    int code = -1;
    return ZRHDSRaidcomTestPeer::executeCommand(*impl, line.substr(0, blank),
                                                line.substr(blank + 1), *out, code) == 0;
  }
  ScopedTempDir dir;
  FakeSnapInfo device;
  ZRSO::SnapInfo* log = &device;
  ZRSO::ZROSUtil* osUtil = nullptr;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;
  ZRHDSCommandHandlerInputParams params;
  std::unique_ptr<ZRHDSRaidcomImplementer> impl;
};

// The bare loop, ZrProcess with and without an output limit, CommandHelper
// and the array layer, each taking 1 GiB; milliseconds (medians) and the
// peak memory each run added over the output's size (the largest of its
// runs).
void BM_Capture(benchmark::State& state) {
  ArrayLayer array;
  ZRPlatformInfo settings;
  settings.setRegInt("~Tessavon", "nZRHDSMaxCommandOutputInMB", 2048);
  CommandHelper helper(array.device);
  double peak[5] = {0, 0, 0, 0, 0};
  auto measured = [&](int i, auto fn) {
    return [&peak, i, fn]() {
      bool ok = false;
      const double x = peakOver(kGigabyteBytes, [&] {
        std::string out;
        ok = fn(&out) && out.size() == kGigabyteBytes;
        benchmark::DoNotOptimize(out.data());
      });
      if (x > peak[i]) peak[i] = x;
      return ok;
    };
  };
  std::vector<double> ms;
  for (auto _ : state) {
    ms = interleaved(
        static_cast<int>(state.range(0)),
        {measured(0, [](std::string* out) { return bareRun(kGigabyte, out) == kGigabyteBytes; }),
         measured(1,
                  [](std::string* out) {
                    return processRun((std::string("exec ") + kGigabyte).c_str(),
                                      size_t(2048) << 20, out);
                  }),
         measured(2,
                  [](std::string* out) {
                    return processRun((std::string("exec ") + kGigabyte).c_str(), 0, out);
                  }),
         measured(3,
                  [&](std::string* out) {
                    std::string err;
                    int code = -1;
                    return helper.RunCommandWithTimeout(kGigabyte, *out, code, err, 300) == 0;
                  }),
         measured(4, [&](std::string* out) { return array.run(out); })},
        state);
  }
  const char* names[] = {"bare", "process", "process_nolimit", "helper", "array"};
  for (size_t i = 0; i < ms.size(); ++i) {
    state.counters[std::string(names[i]) + "_ms"] = ms[i] * 1e3;
    state.counters[std::string(names[i]) + "_peak_x"] = peak[i];
  }
}
BENCHMARK(BM_Capture)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- named locks, uncontended -----------------------------------------

// A bare flock pair on an open file, one mutex object locked and unlocked,
// one mutex object per scope, one ZRHDSLock per scope (as the plug-in takes
// its locks); nanoseconds per lock and release (medians of blocks of 1000).
void BM_Uncontended(benchmark::State& state) {
  ScopedTempDir dir;
  FakeSnapInfo device;
  constexpr int kBlock = 1000;
  int fd = ::open(dir.file("bare.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ZrNamedMutex kept("ZR_HDS_SYNC_COMMANDS");
  std::vector<double> s;
  for (auto _ : state) {
    s = interleaved(
        static_cast<int>(state.range(0)),
        {[&] {
           for (int i = 0; i < kBlock; ++i) {
             ::flock(fd, LOCK_EX);
             ::flock(fd, LOCK_UN);
           }
           return true;
         },
         [&] {
           for (int i = 0; i < kBlock; ++i) {
             if (kept.lock(0) == 0) return false;
             kept.unlock();
           }
           return true;
         },
         [&] {
           for (int i = 0; i < kBlock; ++i) {
             ZrNamedMutex m("ZR_HDS_SYNC_COMMANDS");
             if (m.lock(0) == 0) return false;
           }
           return true;
         },
         [&] {
           for (int i = 0; i < kBlock; ++i) {
             ZRHDSLock lock(device, "ZR_HDS_SYNC_COMMANDS", 0);
             if (!lock.isLocked()) return false;
           }
           return true;
         }},
        state);
  }
  ::close(fd);
  const char* names[] = {"flock_ns", "mutex_ns", "mutex_scope_ns", "zrhdslock_ns"};
  for (size_t i = 0; i < s.size(); ++i) state.counters[names[i]] = s[i] * 1e9 / kBlock;
}
BENCHMARK(BM_Uncontended)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- named locks, 8 contenders ------------------------------------------

double millisSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The waits of one contender, sent to the parent: a count, then the waits.
void sendWaits(int fd, const std::vector<double>& waits) {
  const size_t n = waits.size();
  if (::write(fd, &n, sizeof(n)) != static_cast<ssize_t>(sizeof(n))) return;
  size_t done = 0;
  const char* p = reinterpret_cast<const char*>(waits.data());
  const size_t bytes = n * sizeof(double);
  while (done < bytes) {
    ssize_t w = ::write(fd, p + done, bytes - done);
    if (w <= 0) return;
    done += static_cast<size_t>(w);
  }
}

bool readFull(int fd, void* into, size_t bytes) {
  size_t done = 0;
  while (done < bytes) {
    ssize_t r = ::read(fd, static_cast<char*>(into) + done, bytes - done);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

// 8 processes take one lock in turn for a second, each holding it 200 us;
// every wait of every acquisition goes into waits. take(fd) returns a held
// token (or null), give releases it.
template <class Take, class Give>
bool contend(const std::string& path, Take take, Give give, std::vector<double>& all) {
  constexpr int kProcs = 8;
  std::vector<int> reports;
  std::vector<pid_t> pids;
  for (int p = 0; p < kProcs; ++p) {
    int report[2];
    if (::pipe(report) != 0) return false;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(report[0]);
      int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      std::vector<double> waits;
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      while (std::chrono::steady_clock::now() < end) {
        const auto t0 = std::chrono::steady_clock::now();
        auto token = take(fd);
        if (!token) continue;
        waits.push_back(millisSince(t0));
        ::usleep(200);
        give(fd, token);
      }
      sendWaits(report[1], waits);
      ::_exit(0);
    }
    ::close(report[1]);
    reports.push_back(report[0]);
    pids.push_back(pid);
  }
  for (int fd : reports) {
    size_t n = 0;
    if (readFull(fd, &n, sizeof(n)) && n < 10000000) {
      std::vector<double> waits(n);
      if (readFull(fd, waits.data(), n * sizeof(double)))
        all.insert(all.end(), waits.begin(), waits.end());
    }
    ::close(fd);
  }
  for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  return true;
}

// Blocking flock and the named mutex in alternating rounds; the waits of
// all rounds of each are pooled: p50, p99 and the longest wait, and the
// turns taken per second.
void BM_Contended(benchmark::State& state) {
  ScopedTempDir dir;
  std::vector<double> flockWaits, mutexWaits;
  for (auto _ : state) {
    interleaved(
        static_cast<int>(state.range(0)),
        {[&] {
           return contend(
               dir.file("bare.lock"),
               [](int fd) { return ::flock(fd, LOCK_EX) == 0 ? reinterpret_cast<void*>(1) : nullptr; },
               [](int fd, void*) { ::flock(fd, LOCK_UN); }, flockWaits);
         },
         [&] {
           return contend(
               dir.file("unused.lock"),
               [](int) {
                 std::unique_ptr<ZrNamedMutex> m(new ZrNamedMutex("ZR_HDS_SYNC_COMMANDS"));
                 return m->lock(5000) != 0 ? m.release() : nullptr;
               },
               [](int, ZrNamedMutex* m) { delete m; }, mutexWaits);
         }},
        state);
  }
  const double rounds = static_cast<double>(state.range(0));
  for (auto* w : {&flockWaits, &mutexWaits}) {
    const std::string who = w == &flockWaits ? "flock_" : "mutex_";
    std::sort(w->begin(), w->end());
    auto at = [&](double q) {
      return w->empty() ? 0.0 : (*w)[std::min(w->size() - 1, static_cast<size_t>(q * w->size()))];
    };
    state.counters[who + "p50_ms"] = at(0.50);
    state.counters[who + "p99_ms"] = at(0.99);
    state.counters[who + "max_ms"] = w->empty() ? 0.0 : w->back();
    state.counters[who + "turns"] = static_cast<double>(w->size()) / rounds;
  }
}
BENCHMARK(BM_Contended)->Arg(3)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- the settings store ------------------------------------------------

std::string storeWithKeys(int keys) {
  std::string text = "[~Tessavon]\n";
  for (int i = 0; i < keys; ++i)
    text += "nZRHDSKey" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  return text;
}

void BM_ReadStoreFileBare(benchmark::State& state) {
  ScopedTempDir dir;
  zrWriteFile(dir.file("settings.ini"), storeWithKeys(static_cast<int>(state.range(0))));
  const std::string path = dir.file("settings.ini");
  for (auto _ : state) {
    std::string text = zrReadFile(path);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_ReadStoreFileBare)->Arg(1000)->Arg(10000);

// The store as writers leave it; the key read is the last one.
void BM_GetRegInt(benchmark::State& state) {
  ScopedTempDir dir;
  const int keys = static_cast<int>(state.range(0));
  zrWriteFile(dir.file("settings.ini"), storeWithKeys(keys - 1));
  ZRPlatformInfo settings;
  settings.setRegInt("~Tessavon", "nZRHDSLast", 7);
  for (auto _ : state) {
    int v = 0;
    benchmark::DoNotOptimize(settings.getRegInt("~Tessavon", "nZRHDSLast", &v));
  }
}
BENCHMARK(BM_GetRegInt)->Arg(1000)->Arg(10000);

// A store edited by hand (no write generation): parsed on every call.
void BM_GetRegIntHandEdited(benchmark::State& state) {
  ScopedTempDir dir;
  const int keys = static_cast<int>(state.range(0));
  zrWriteFile(dir.file("settings.ini"), storeWithKeys(keys) + "nZRHDSLast=7\n");
  ZRPlatformInfo settings;
  for (auto _ : state) {
    int v = 0;
    benchmark::DoNotOptimize(settings.getRegInt("~Tessavon", "nZRHDSLast", &v));
  }
}
BENCHMARK(BM_GetRegIntHandEdited)->Arg(1000)->Arg(10000);

void printSummary(const zrbench::MedianReporter& r) {
  auto c = [&](const char* bench, const char* key) { return r.counter(bench, key); };
  std::printf("\ninterleaved rounds, medians: ours, baseline, ratio (goal)\n");
  const char* run = "BM_Runner/300";
  zrbench::printRatio("runner: bare, shell forks the tool / exec'd", c(run, "bare_us"),
                      c(run, "bare_exec_us"), "us", 1);
  zrbench::printRatio("runner: ZrProcess / bare exec'd line", c(run, "process_us"),
                      c(run, "bare_exec_us"), "us", 1);
  zrbench::printRatio("runner: CommandHelper / bare exec'd (<=1.15)", c(run, "helper_us"),
                      c(run, "bare_exec_us"), "us", 1);
  zrbench::printRatio("runner: CommandHelper / bare line as given", c(run, "helper_us"),
                      c(run, "bare_us"), "us", 1);
  const char* cap = "BM_Capture/5";
  for (const char* who : {"process", "process_nolimit", "helper", "array"}) {
    const std::string what = std::string("capture 1 GiB: ") + who + " / bare (<=1.15)";
    zrbench::printRatio(what.c_str(), c(cap, (std::string(who) + "_ms").c_str()),
                        c(cap, "bare_ms"), "ms", 1);
  }
  for (const char* who : {"bare", "process", "process_nolimit", "helper", "array"})
    std::printf("capture 1 GiB: %-30s peak memory %.3f x the output (array <=1.1)\n", who,
                c(cap, (std::string(who) + "_peak_x").c_str()));
  const char* un = "BM_Uncontended/300";
  for (const char* who : {"mutex_ns", "mutex_scope_ns", "zrhdslock_ns"}) {
    const std::string what = std::string("uncontended: ") + who + " / flock (<=2)";
    zrbench::printRatio(what.c_str(), c(un, who), c(un, "flock_ns"), "ns", 1);
  }
  const char* co = "BM_Contended/3";
  for (const char* q : {"p50_ms", "p99_ms", "max_ms", "turns"}) {
    const std::string what = std::string("8 contenders: ") + q + " (p99 <=2)";
    zrbench::printRatio(what.c_str(), c(co, (std::string("mutex_") + q).c_str()),
                        c(co, (std::string("flock_") + q).c_str()), "", 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zrbench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
