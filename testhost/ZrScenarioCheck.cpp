// Expectations of a scenario step, status names and the run's verdict.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "testhost/ZrArrayReport.h"
#include "testhost/ZrScenarioRunner.h"

std::string zrStatusName(int status) {
  switch (status) {
    case 0:
      return "unknown";
    case 1:
      return "prepared";
    case 2:
      return "prepare pending";
    case 3:
      return "unprepared";
    case 5:
      return "created";
    case 6:
      return "create pending";
    case 9:
      return "mapped on array";
    case 11:
      return "map pending";
    case 12:
      return "mapped";
    case 13:
      return "mapped, device not found";
    case 14:
      return "unmapped";
    case 15:
      return "unmap pending";
    case 20:
      return "deleted";
    case 21:
      return "delete pending";
    case 22:
      return "reverted";
    case 23:
      return "revert pending";
    case 24:
      return "not confirmed";
    default:
      return "status " + std::to_string(status);
  }
}

namespace {

std::string statusText(int s) { return std::to_string(s) + " (" + zrStatusName(s) + ")"; }

void checkCount(const char* what, int want, int have, std::vector<std::string>& out) {
  if (want >= 0 && want != have)
    out.push_back(std::string(what) + ": " + std::to_string(have) + ", expected " +
                  std::to_string(want));
}

}  // namespace

std::vector<std::string> zrCheckExpectation(const ZrExpectation& e, int result, ZrTestHost& host,
                                            const std::vector<int>& devices,
                                            const ccisim::State& array) {
  std::vector<std::string> out;
  if (e.hasResult && result >= 0 && result != e.result)
    out.push_back("result " + std::to_string(result) + ", expected " + std::to_string(e.result));
  // The call's devices, then every other device that a per-device entry
  // names (an error may land on a device outside the call).
  std::vector<int> checked = devices;
  auto add = [&](int i) {
    if (i >= 0 && static_cast<size_t>(i) < host.deviceCount() &&
        std::find(checked.begin(), checked.end(), i) == checked.end())
      checked.push_back(i);
  };
  for (const auto& kv : e.statuses) add(kv.first);
  for (const auto& kv : e.errorCodes) add(kv.first);
  for (const auto& kv : e.errorTexts) add(kv.first);
  for (const auto& kv : e.metadataKeys) add(kv.first);
  for (size_t k = 0; k < checked.size(); ++k) {
    const int i = checked[k];
    const bool inCall = k < devices.size();
    ZrHostDevice& d = host.device(static_cast<size_t>(i));
    const ZrDeviceState s = d.state();
    const std::string who = d.plan().name;
    auto want = e.statuses.find(i);
    const int wanted = want != e.statuses.end() ? want->second : (inCall ? e.status : -1);
    if (wanted >= 0 && s.status != wanted)
      out.push_back(who + ": status " + statusText(s.status) + ", expected " + statusText(wanted));
    auto code = e.errorCodes.find(i);
    if (code != e.errorCodes.end() && s.errorCode != code->second)
      out.push_back(who + ": error code " + std::to_string(s.errorCode) + ", expected " +
                    std::to_string(code->second));
    auto text = e.errorTexts.find(i);
    if (text != e.errorTexts.end() && s.errorText.find(text->second) == std::string::npos)
      out.push_back(who + ": error text \"" + s.errorText + "\" lacks \"" + text->second + "\"");
    for (int id : inCall ? e.metadataEmpty : std::vector<int>()) {
      auto md = s.metadata.find(id);
      if (md != s.metadata.end() && !md->second.empty())
        out.push_back(who + ": metadata " + std::to_string(id) + " is not empty");
    }
    auto keys = e.metadataKeys.find(i);
    if (keys != e.metadataKeys.end()) {
      auto md = s.metadata.find(6);
      const std::vector<std::string> have =
          zrMetadataKeys(md != s.metadata.end() ? md->second : std::string());
      for (const std::string& k : keys->second) {
        bool found = false;
        for (const std::string& h : have) found = found || h == k;
        if (!found) out.push_back(who + ": metadata 6 lacks key " + k);
      }
    }
  }
  const ZrArrayCounts c = zrCountArrays(array);
  checkCount("snapshot pairs", e.snapshotPairs, c.snapshotPairs, out);
  checkCount("S-VOLs", e.svols, c.svols, out);
  checkCount("LU paths", e.lunPaths, c.lunPaths, out);
  if (!e.pairState.empty()) {
    for (const std::string& st : c.pairStates) {
      if (st != e.pairState) {
        out.push_back("a snapshot pair is " + st + ", expected " + e.pairState);
        break;
      }
    }
  }
  if (e.hostDevices >= 0)
    checkCount("host devices", e.hostDevices, static_cast<int>(host.util().visibleDevices().size()),
               out);
  return out;
}

bool ZrRunOutcome::passed() const {
  if (!setupError.empty() || !finalFailures.empty() || steps.empty()) return false;
  for (const ZrStepOutcome& s : steps)
    if (!s.ran || !s.passed) return false;
  return true;
}

std::string ZrRunOutcome::verdict() const {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", this->seconds);
  if (!setupError.empty()) return "verdict: FAILED - could not start: " + setupError;
  int ran = 0, met = 0;
  std::string missing;
  for (const ZrStepOutcome& s : steps) {
    ran += s.ran ? 1 : 0;
    met += s.ran && s.passed ? 1 : 0;
    if (!s.ran) missing += (missing.empty() ? "" : ", ") + s.title;
  }
  std::ostringstream v;
  const int total = static_cast<int>(steps.size());
  if (passed()) {
    v << "verdict: PASSED - all " << total << " steps met their expectations, final checks held ("
      << seconds << ")";
  } else if (!missing.empty()) {
    v << "verdict: INCOMPLETE - " << met << " of " << total
      << " steps met their expectations; not available in this plug-in: " << missing << " ("
      << seconds << ")";
  } else {
    v << "verdict: FAILED - " << met << " of " << total << " steps met their expectations";
    if (!finalFailures.empty()) v << ", " << finalFailures.size() << " final check(s) failed";
    v << " (" << seconds << ")";
  }
  return v.str();
}
