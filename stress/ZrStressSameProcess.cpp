#include "stress/ZrStressSameProcess.h"

#include <functional>
#include <utility>

#include "host/ZRPlatformInfo.h"
#include "host/ZrClock.h"
#include "records/HDSConstants.h"
#include "util/ZRHDSHolderCount.h"

namespace {

// The after-snap wait of an interleaved cell, in seconds: a length no other
// pause of a prepare has, so the clock knows the wait under the lock.
constexpr int kGateSeconds = 7;
const char kAfterSnapWait[] = "nZRHDSAfterSnapWaitTimeSeconds";

// A clock that, at the first sleep of the gate's length, runs `during`
// before it sleeps, and calls `sample` at every sleep of that length (and
// once more when `during` is over).
class GateClock : public ZrClock {
 public:
  GateClock(ZrClock& inner, int64_t gateMillis, std::function<void()> during,
            std::function<void()> sample)
      : m_inner(inner),
        m_gate(gateMillis),
        m_during(std::move(during)),
        m_sample(std::move(sample)) {}
  int64_t nowSeconds() override { return m_inner.nowSeconds(); }
  int64_t monotonicMillis() override { return m_inner.monotonicMillis(); }
  void sleepMillis(int64_t ms) override {
    if (ms == m_gate) {
      m_sample();
      if (m_during) {
        std::function<void()> during = std::move(m_during);
        m_during = nullptr;
        during();
        m_sample();
      }
    }
    m_inner.sleepMillis(ms);
  }

 private:
  ZrClock& m_inner;
  int64_t m_gate;
  std::function<void()> m_during;
  std::function<void()> m_sample;
};

// Live holders of the array's resource lock (-1 when the list is unreadable).
int resourceLockHolders() {
  ZRHDSHolderCount holders(std::string(ZR_HDS_LOCK_RESOURCE_GROUP) + "_" + kZrStressSerial);
  int live = 0, widest = 0;
  return holders.live(&live, &widest) == 0 ? live : -1;
}

std::string firstError(const std::vector<ZrDeviceState>& states) {
  if (states.empty()) return "";
  return " (error " + std::to_string(states[0].errorCode) + ": " + states[0].errorText + ")";
}

// Runs ops for job `which`; a failing operation is reported and ends them,
// and delete then runs so that the job leaves nothing behind.
void runLifeCycle(ZrStressJob& job, int which, const std::vector<ZrStressOp>& ops,
                  const std::string& who, std::vector<std::string>& failures) {
  for (ZrStressOp op : ops) {
    const int result = job.run(op, which);
    if (result == 0) continue;
    failures.push_back(who + ": " + zrStressOpName(op) + " returned " + std::to_string(result) +
                       firstError(job.states(which)));
    if (op != ZrStressOp::kDelete) job.run(ZrStressOp::kDelete, which);
    return;
  }
}

void checkIdle(ZrStressJob& job, int which, const std::string& dir, const std::string& who,
               std::vector<std::string>& failures) {
  for (const std::string& f : zrStressIdleFailures(zrStressLoad(dir), job.states(which)))
    failures.push_back("after " + who + ": " + f);
}

size_t journalCount(ccisim::Fixture& sim, const std::string& start) {
  size_t n = 0;
  for (const ccisim::JournalEntry& e : sim.journal())
    n += e.tool == "raidcom" && e.line().rfind(start, 0) == 0 ? 1 : 0;
  return n;
}

std::string joined(const std::vector<int>& values) {
  std::string out;
  for (int v : values) out += (out.empty() ? "" : ",") + std::to_string(v);
  return out;
}

}  // namespace

std::vector<ZrStressOp> zrStressNextJobOps(ZrStressOp op) {
  std::vector<ZrStressOp> ops;
  for (ZrStressOp o : zrStressOps()) {
    if (static_cast<int>(o) <= static_cast<int>(op)) ops.push_back(o);
  }
  if (op != ZrStressOp::kDelete) ops.push_back(ZrStressOp::kDelete);
  return ops;
}

std::vector<std::string> zrStressNextJob(ZrStressJob& job, int next, ZrStressOp op,
                                         const std::string& dir) {
  std::vector<std::string> failures;
  runLifeCycle(job, next, zrStressNextJobOps(op), "next job", failures);
  checkIdle(job, next, dir, "the next job", failures);
  return failures;
}

std::vector<std::string> zrStressInterleaved(ZrStressJob& job, int second, ZrStressOp op,
                                             const std::vector<ZrDeviceState>& states,
                                             ccisim::Fixture& sim, const std::string& dir,
                                             int* result) {
  std::vector<std::string> failures;
  ZRPlatformInfo settings;
  settings.setRegInt("~Tessavon", kAfterSnapWait, kGateSeconds);
  std::vector<int> counts;
  int secondResult = -1;
  GateClock gate(
      ZrClock::get(), kGateSeconds * 1000, [&] { secondResult = job.run(op, second); },
      [&] { counts.push_back(resourceLockHolders()); });
  {
    ZrScopedClock installed(&gate);
    job.setStates(states);
    *result = job.run(op);
  }
  counts.push_back(resourceLockHolders());
  settings.setRegInt("~Tessavon", kAfterSnapWait, 0);

  const std::string what = "interleaved " + zrStressOpName(op);
  if (secondResult != 0)
    failures.push_back(what + ": the second job returned " + std::to_string(secondResult) +
                       firstError(job.states(second)));
  if (counts != std::vector<int>{1, 2, 1, 0})
    failures.push_back(what + ": lock count went " + joined(counts) + ", not 1,2,1,0");
  const size_t locks = journalCount(sim, "lock resource");
  const size_t unlocks = journalCount(sim, "unlock resource");
  if (locks != 1 || unlocks != 1)
    failures.push_back(what + ": " + std::to_string(locks) + " lock and " +
                       std::to_string(unlocks) + " unlock commands, not one each");

  // The second job ends its life cycle as the next job would.
  std::vector<ZrStressOp> rest;
  for (ZrStressOp o : zrStressNextJobOps(op))
    if (static_cast<int>(o) > static_cast<int>(op)) rest.push_back(o);
  runLifeCycle(job, second, rest, "the second job", failures);
  checkIdle(job, second, dir, "the second job", failures);
  return failures;
}
