// libFuzzer target: random tool output fed to whole operations of the
// snapshot command handler through the command runner seam.
//
// Once, a replayed job is recorded against the simulator: init (login),
// source check, resource lock, snapshot creation, split, deletion, unlock,
// each command's output and exit code kept in order. Every input then
// replays that job without any process: the command picked by the first two
// bytes answers with the third byte's exit code and the rest of the input as
// its output; every other command answers as recorded. Beyond "no crash, no
// hang, no sanitizer report": a step whose query output (get ldev, get
// snapshot, get pool) was replaced by text that lacks the recorded layout's
// first word must not report success. The one query of the unlock step is
// the settling of the job's intent records, which never fails the unlock:
// there a foreign answer must keep the record instead.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "array/HDSCommandRunner.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "handler/HDSCommandHandler.h"
#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/testing/ZrFakeClock.h"
#include "util/ZRHDSIntentRecord.h"

namespace {

struct Answer {
  std::string line;
  std::string output;
  int exitCode = 0;
  int step = 0;
};

// Records through the production runner, or replays the recording with one
// command's answer replaced.
class ReplayRunner : public ZRHDSCommandRunner {
 public:
  bool recording = true;
  int step = 0;
  std::vector<Answer> answers;
  size_t next = 0;
  size_t target = 0;
  std::string fuzzOutput;
  int fuzzExit = 0;

  int run(ZRSO::SnapInfo* log, const std::string& line, std::string& output, int& exitCode,
          std::string& error, int timeoutSecs) override {
    if (recording) {
      const int r =
          ZRHDSCommandHelperRunner::instance().run(log, line, output, exitCode, error, timeoutSecs);
      answers.push_back({line, output, exitCode, step});
      return r;
    }
    const size_t i = next++;
    if (i == target) {
      output = fuzzOutput;
      exitCode = fuzzExit;
    } else if (i < answers.size()) {
      output = answers[i].output;
      exitCode = answers[i].exitCode;
    } else {
      output.clear();
      exitCode = 1;  // beyond the recording: a failing tool
    }
    error = exitCode != 0 ? output : std::string();
    return 0;
  }
};

// The job's steps; each returns the handler's verdict.
const int kSteps = 7;
const int kUnlockStep = 6;
bool runStep(ZRHDSCommandHandler& h, int step) {
  std::vector<HDSLdevInfo> ldevs;
  switch (step) {
    case 0:
      return h.IsHandlerInitialized();
    case 1:
      return h.checkAndVerifySourceDevices(ldevs);
    case 2:
      return h.lockResource(false);
    case 3:
      return h.createTargetlessSnap();
    case 4:
      return h.splitTargetLessSnaps();
    case 5:
      return h.deleteTargetlessSnap();
    default:
      return h.unlockResource(false);
  }
}

struct World {
  ZrFakeClock clock;
  ZrScopedClock installed{&clock};
  HDSHandlerTestBed bed;
  ReplayRunner runner;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;

  std::unique_ptr<ZRHDSCommandHandler> handler() {
    const std::string tempDir = bed.tmp.path() + "/tmp";
    ReplayRunner* r = &runner;
    bed.params.operationType = 1;
    return std::unique_ptr<ZRHDSCommandHandler>(new ZRHDSCommandHandler(
        bed.params, [tempDir, r](ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& p) {
          std::unique_ptr<ZRHDSRaidcomImplementer> impl(
              new ZRHDSRaidcomImplementer(logger, p, *r, false));
          ZRHDSRaidcomTestPeer::setReady(*impl, tempDir);
          ZRHDSRaidcomTestPeer::setCommandTimeout(*impl, 30);
          ZRHDSRaidcomTestPeer::setRetryCount(*impl, 2);
          return std::unique_ptr<ZRHDSCommandImplementer>(std::move(impl));
        }));
  }

  // Runs the job; the verdict of each step (false from the first failure on).
  std::vector<bool> job() {
    std::vector<bool> verdicts(kSteps, false);
    std::unique_ptr<ZRHDSCommandHandler> h = handler();
    for (int s = 0; s < kSteps; ++s) {
      runner.step = s;
      verdicts[static_cast<size_t>(s)] = runStep(*h, s);
      if (!verdicts[static_cast<size_t>(s)]) break;
    }
    return verdicts;
  }
};

World& world() {
  static World* w = [] {
    World* n = new World;
    n->bed.addSources({301, 302});
    n->bed.options.snapshotGroup = "QB_7";
    n->options = n->bed.options;
    n->snaps = n->bed.snaps;
    const std::vector<bool> verdicts = n->job();
    for (size_t s = 0; s < verdicts.size(); ++s) {
      if (verdicts[s]) continue;
      // The recording itself must succeed.
      std::fprintf(stderr, "recording failed at step %zu:\n%s\n", s, n->bed.logs().c_str());
      __builtin_trap();
    }
    n->runner.recording = false;
    return n;
  }();
  return *w;
}

std::string firstWord(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  const size_t end = text.find_first_of(" \t\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool isDataQuery(const std::string& line) {
  for (const char* q : {" get ldev ", " get snapshot ", " get pool "})
    if (line.find(q) != std::string::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  World& w = world();
  if (std::getenv("OPERATION_OUTPUT_LIST") != nullptr) {
    for (size_t i = 0; i < w.runner.answers.size(); ++i)
      std::fprintf(stderr, "%zu step %d exit %d: %s\n%s\n", i, w.runner.answers[i].step,
                   w.runner.answers[i].exitCode, w.runner.answers[i].line.c_str(),
                   w.runner.answers[i].output.c_str());
  }
  ReplayRunner& r = w.runner;
  r.target = (static_cast<size_t>(data[0]) << 8 | data[1]) % r.answers.size();
  static const int kExits[] = {0, 0, 0, 0, 1, 205, 221, 233};
  r.fuzzExit = kExits[data[2] % 8];
  r.fuzzOutput.assign(reinterpret_cast<const char*>(data + 3), size - 3);
  r.next = 0;
  // Each job starts from the job's options and records as they were before
  // the recording.
  w.bed.options = w.options;
  w.bed.snaps = w.snaps;
  for (FakeSnapInfo& d : w.bed.devices) d.clearLogs();
  const std::vector<bool> verdicts = w.job();

  const Answer& original = r.answers[r.target];
  const std::string word = firstWord(original.output);
  // A snapshot listing of every group or of one LDEV prints nothing when
  // there is nothing to list: blank output is that command's too.
  const std::string line = " " + original.line + " ";
  const bool mayBeEmpty = line.find(" get snapshot ") != std::string::npos &&
                          line.find(" -snapshotgroup ") == std::string::npos;
  const bool blank = firstWord(r.fuzzOutput).empty();
  const bool foreign = r.fuzzExit == 0 && isDataQuery(line) && !word.empty() &&
                       r.fuzzOutput.find(word) == std::string::npos && !(blank && mayBeEmpty);
  // The job's records left behind; each run starts without any.
  ZRHDSIntentStore store;
  std::vector<ZRHDSIntentRecord> kept;
  store.list(HDSHandlerTestBed::kSerial, kept, nullptr, nullptr);
  for (const ZRHDSIntentRecord& k : kept) store.remove(k, nullptr);
  if (!foreign) return 0;
  if (original.step == kUnlockStep) {
    if (kept.empty()) __builtin_trap();
  } else if (verdicts[static_cast<size_t>(original.step)]) {
    __builtin_trap();
  }
  return 0;
}
