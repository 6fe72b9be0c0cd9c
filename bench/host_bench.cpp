// Speed of the host layer, each measurement beside its physical baseline in
// the same run:
//  - the command runner (/bin/sh -c true with capture and a time-out)
//    against a bare posix_spawn + waitpid of the same line;
//  - capture of 1 GiB from a child against a bare poll-and-read loop that
//    keeps the bytes in one growing buffer (bytes/s; peak_MiB counters);
//  - a named lock taken and released, uncontended, against a bare flock pair
//    on an open file;
//  - getRegInt on a store of 1,000 keys against reading the file, and at
//    10,000 keys (linear in the store's size).
// Each benchmark uses its own temporary directory for the host locations.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"
#include "host/ZrProcess.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/FakeSnapInfo.h"
#include "util/CommandHelper.h"
#include "util/ZRHDSLock.h"

extern char** environ;

namespace {

// A command that prints 1 GiB fast (dd from /dev/zero in 1 MiB blocks).
const char kGigabyte[] = "dd if=/dev/zero bs=1048576 count=1024 status=none";
constexpr double kGigabyteBytes = 1024.0 * 1048576.0;

long maxRssKiB() {
  struct rusage u;
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void BM_SpawnBaseline(benchmark::State& state) {
  for (auto _ : state) {
    pid_t pid = 0;
    char sh[] = "/bin/sh", c[] = "-c", cmd[] = "true";
    char* argv[] = {sh, c, cmd, nullptr};
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
}
BENCHMARK(BM_SpawnBaseline)->Unit(benchmark::kMicrosecond);

void BM_RunnerTrue(benchmark::State& state) {
  ScopedTempDir dir;
  FakeSnapInfo device;
  CommandHelper helper(device);
  for (auto _ : state) {
    std::string out, err;
    int code = -1;
    if (helper.RunCommandWithTimeout("true", out, code, err, 30) != 0 || code != 0) {
      state.SkipWithError("runner failed");
      break;
    }
  }
}
BENCHMARK(BM_RunnerTrue)->Unit(benchmark::kMicrosecond);

// The bare loop: one pipe, poll, read into one growing std::string.
void BM_CaptureBaseline(benchmark::State& state) {
  for (auto _ : state) {
    int p[2];
    if (::pipe(p) != 0) break;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(p[1], 1);
      ::close(p[0]);
      ::execl("/bin/sh", "sh", "-c", kGigabyte, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(p[1]);
    std::string buffer;
    char chunk[65536];
    for (;;) {
      struct pollfd f = {p[0], POLLIN, 0};
      ::poll(&f, 1, -1);
      ssize_t n = ::read(p[0], chunk, sizeof(chunk));
      if (n <= 0) break;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    ::close(p[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kGigabyteBytes));
  state.counters["peak_MiB"] = static_cast<double>(maxRssKiB()) / 1024.0;
}
BENCHMARK(BM_CaptureBaseline)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CaptureRunner(benchmark::State& state) {
  ScopedTempDir dir;
  ZRPlatformInfo settings;
  settings.setRegInt("~Tessavon", "nZRHDSMaxCommandOutputInMB", 2048);
  FakeSnapInfo device;
  CommandHelper helper(device);
  for (auto _ : state) {
    std::string out, err;
    int code = -1;
    if (helper.RunCommandWithTimeout(kGigabyte, out, code, err, 300) != 0 ||
        out.size() != static_cast<size_t>(kGigabyteBytes)) {
      state.SkipWithError("capture failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kGigabyteBytes));
  state.counters["peak_MiB"] = static_cast<double>(maxRssKiB()) / 1024.0;
}
BENCHMARK(BM_CaptureRunner)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FlockPairBaseline(benchmark::State& state) {
  ScopedTempDir dir;
  int fd = ::open(dir.file("bare.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  for (auto _ : state) {
    ::flock(fd, LOCK_EX);
    ::flock(fd, LOCK_UN);
  }
  ::close(fd);
}
BENCHMARK(BM_FlockPairBaseline);

// As the plug-in takes a lock: one ZRHDSLock for the scope.
void BM_NamedLockUncontended(benchmark::State& state) {
  ScopedTempDir dir;
  FakeSnapInfo device;
  for (auto _ : state) {
    ZRHDSLock lock(device, "ZR_HDS_SYNC_COMMANDS", 0);
    if (!lock.isLocked()) {
      state.SkipWithError("lock failed");
      break;
    }
  }
}
BENCHMARK(BM_NamedLockUncontended);

// The host's named mutex alone (one object for the scope), for the split.
void BM_NamedMutexUncontended(benchmark::State& state) {
  ScopedTempDir dir;
  for (auto _ : state) {
    ZrNamedMutex m("ZR_HDS_SYNC_COMMANDS");
    if (m.lock(0) == 0) {
      state.SkipWithError("lock failed");
      break;
    }
  }
}
BENCHMARK(BM_NamedMutexUncontended);

// 8 processes take one lock in turn for a second, holding it 200 us each
// time; reported: the longest wait of any one acquisition and the fewest
// turns any process got, for blocking flock (the baseline) and the named
// lock (fair: its longest wait at most twice the baseline's).
template <class Take, class Give>
void contend(benchmark::State& state, const std::string& path, Take take, Give give) {
  constexpr int kProcs = 8;
  double maxWaitMs = 0, minTurns = 1e18;
  for (auto _ : state) {
    int report[2];
    if (::pipe(report) != 0) break;
    std::vector<pid_t> pids;
    for (int p = 0; p < kProcs; ++p) {
      pid_t pid = ::fork();
      if (pid == 0) {
        ::close(report[0]);
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        double worst = 0;
        long turns = 0;
        while (std::chrono::steady_clock::now() < end) {
          auto t0 = std::chrono::steady_clock::now();
          if (!take(fd)) continue;
          double w =
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                  .count();
          if (w > worst) worst = w;
          ++turns;
          ::usleep(200);
          give(fd);
        }
        double msg[2] = {worst, static_cast<double>(turns)};
        if (::write(report[1], msg, sizeof(msg)) != sizeof(msg)) ::_exit(1);
        ::_exit(0);
      }
      pids.push_back(pid);
    }
    ::close(report[1]);
    for (int p = 0; p < kProcs; ++p) {
      double msg[2] = {0, 0};
      if (::read(report[0], msg, sizeof(msg)) != sizeof(msg)) break;
      if (msg[0] > maxWaitMs) maxWaitMs = msg[0];
      if (msg[1] < minTurns) minTurns = msg[1];
    }
    ::close(report[0]);
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  }
  state.counters["max_wait_ms"] = maxWaitMs;
  state.counters["min_turns"] = minTurns;
}

void BM_ContendedFlockBaseline(benchmark::State& state) {
  ScopedTempDir dir;
  contend(
      state, dir.file("bare.lock"), [](int fd) { return ::flock(fd, LOCK_EX) == 0; },
      [](int fd) { ::flock(fd, LOCK_UN); });
}
BENCHMARK(BM_ContendedFlockBaseline)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ContendedNamedLock(benchmark::State& state) {
  ScopedTempDir dir;
  ZrNamedMutex* held = nullptr;
  contend(
      state, dir.file("unused.lock"),
      [&](int) {
        held = new ZrNamedMutex("ZR_HDS_SYNC_COMMANDS");
        if (held->lock(5000) != 0) return true;
        delete held;
        return false;
      },
      [&](int) { delete held; });
}
BENCHMARK(BM_ContendedNamedLock)->Unit(benchmark::kMillisecond)->Iterations(1);

std::string storeWithKeys(int keys) {
  std::string text = "[~Tessavon]\n";
  for (int i = 0; i < keys; ++i)
    text += "nZRHDSKey" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  return text;
}

void BM_ReadStoreFileBaseline(benchmark::State& state) {
  ScopedTempDir dir;
  zrWriteFile(dir.file("settings.ini"), storeWithKeys(static_cast<int>(state.range(0))));
  const std::string path = dir.file("settings.ini");
  for (auto _ : state) {
    std::string text = zrReadFile(path);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_ReadStoreFileBaseline)->Arg(1000)->Arg(10000);

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

}  // namespace

BENCHMARK_MAIN();
