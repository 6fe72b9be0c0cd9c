#include "testhost/ZrScenarioRunner.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/ZRPlatformInfo.h"
#include "host/ZrPaths.h"
#include "host/testing/ZrFakeClock.h"
#include "testhost/ZrArrayReport.h"

namespace fs = std::filesystem;

namespace {

const char kMarker[] = ".zrtesthost-workdir";
const char* const kToolNames[] = {"raidcom",      "raidqry",       "raidscan",
                                  "pairsyncwait", "horcmstart.sh", "horcmshutdown.sh"};

bool freshDir(const std::string& dir, std::string* error) {
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    if (!fs::exists(fs::path(dir) / kMarker, ec) && !fs::is_empty(dir, ec)) {
      *error = dir + " exists and is not a test host work directory";
      return false;
    }
    fs::remove_all(dir, ec);
  }
  for (const char* sub : {"cci/bin", "cci/state", "etc", "locks", "logs", "tmp"})
    fs::create_directories(fs::path(dir) / sub, ec);
  std::ofstream(fs::path(dir) / kMarker) << "made by zrtesthost; removed on the next run\n";
  if (ec) *error = "cannot make " + dir + ": " + ec.message();
  return !ec;
}

void buildArray(ccisim::Fixture& f, const ZrArraySpec& a, const std::string& user,
                const std::string& password) {
  f.addArray(a.serial, a.model, a.micro);
  f.addUser(user, password);
  for (const auto& rg : a.resourceGroups)
    f.addResourceGroup(a.serial, rg.name, rg.id, rg.vSerial, rg.vModel);
  for (const ccisim::Pool& p : a.pools) f.addPool(a.serial, p);
  for (const ccisim::Ldev& l : a.ldevs) f.addLdev(a.serial, l);
  for (const ZrPortSpec& p : a.ports) {
    f.addPort(a.serial, p.name, p.wwn, p.type);
    for (const ZrHostGroupSpec& g : p.hostGroups) {
      f.addHostGroup(a.serial, p.name, g.gid, g.name);
      for (const std::string& w : g.wwns) {
        f.addHostGroupWwn(a.serial, p.name, g.gid, w);
        f.addLoginWwn(a.serial, p.name, w);
      }
      for (const auto& lun : g.luns) f.addLun(a.serial, p.name, g.gid, lun.first, lun.second);
    }
  }
  for (const ccisim::RemotePair& p : a.remotePairs) f.addRemotePair(a.serial, p);
  for (const ccisim::CopyGroup& g : a.copyGroups) f.addCopyGroup(a.serial, g);
  if (!a.commandDevicePath.empty()) {
    const int ldev =
        a.commandDeviceLdev >= 0 ? a.commandDeviceLdev : ccisim::maxLdevForModel(a.model);
    f.addCommandDevice(a.commandDevicePath, a.serial, ldev);
  }
}

ccisim::State loadOrEmpty(const std::string& path) {
  ccisim::State s;
  ZrSimOSUtil::loadState(path, s, nullptr);
  return s;
}

}  // namespace

ZrScenarioRunner::ZrScenarioRunner(const ZrScenario& scenario, const ZrRunOptions& options,
                                   std::ostream& out)
    : m_scenario(scenario), m_options(options), m_out(out) {}

bool ZrScenarioRunner::setUp(std::string* error) {
  const std::string dir = fs::absolute(m_options.workDir).lexically_normal().string();
  if (!freshDir(dir, error)) return false;
  // Every fixed location of the host and the plug-in goes into the work
  // directory; the tools find their state beside their own directory.
  ::setenv("ZRHOST_SETTINGS_FILE", (dir + "/settings.ini").c_str(), 1);
  ::setenv("ZRHOST_LOCK_DIR", (dir + "/locks").c_str(), 1);
  ::setenv("ZRHOST_LOG_DIR", (dir + "/logs").c_str(), 1);
  ::setenv("ZRHOST_TEMP_DIR", (dir + "/tmp").c_str(), 1);
  ::setenv("ZRHOST_HORCM_ETC_DIR", (dir + "/etc/").c_str(), 1);
  ::setenv("ZRHOST_CCI_DIR", (dir + "/cci/bin/").c_str(), 1);
  ::setenv("ZRHOST_INTENT_DIR", (dir + "/intent").c_str(), 1);
  m_statePath = dir + "/cci/state/ccisim.state";
  ::setenv("CCISIM_STATE", m_statePath.c_str(), 1);

  const std::string sim = m_options.ccisim.empty()
                              ? zrBuiltOrInstalled(ccisim::ccisimBinary(), "ccisim")
                              : m_options.ccisim;
  for (const char* tool : kToolNames) {
    std::error_code ec;
    fs::create_symlink(sim, fs::path(dir) / "cci/bin" / tool, ec);
    if (ec) {
      *error = "cannot link " + std::string(tool) + " to " + sim + ": " + ec.message();
      return false;
    }
  }
  try {
    m_sim.reset(new ccisim::Fixture(dir + "/cci/state"));
    m_sim->setStrictHorcm(false, m_scenario.hostName);
    for (const ZrArraySpec& a : m_scenario.arrays)
      buildArray(*m_sim, a, m_scenario.user, m_scenario.password);
  } catch (const std::exception& e) {
    *error = std::string("array set-up: ") + e.what();
    return false;
  }

  ZRPlatformInfo settings;
  for (const auto& section : m_scenario.settings) {
    for (const auto& kv : section.second) {
      if (settings.setRegString(section.first.c_str(), kv.first.c_str(), kv.second.c_str()) != 0) {
        *error = "cannot write setting " + kv.first;
        return false;
      }
    }
  }

  ZrTestHostConfig config;
  config.pluginPath = m_options.pluginPath;
  config.statePath = m_statePath;
  config.hostName = m_scenario.hostName;
  config.initiators = m_scenario.initiators;
  config.hostNumber = m_scenario.hostNumber;
  config.remoteAgents = m_scenario.remoteAgents;
  config.remoteProgram = m_options.program;
  config.clockScale = m_clock->scale();
  m_host.reset(new ZrTestHost(config));
  if (!m_host->open(error)) return false;

  const ccisim::State state = loadOrEmpty(m_statePath);
  for (const ZrScenarioDevice& d : m_scenario.devices) {
    ZrDeviceSpec plan;
    plan.name = d.name;
    plan.sourcePath = ZrSimOSUtil::devicePath(state, d.serial, d.ldev);
    plan.arrayDetails = zrArrayDetailsText(d.serial, m_scenario.user, m_scenario.password);
    plan.controlHostId = d.controlHostId;
    plan.snapId = static_cast<int>(m_host->deviceCount()) + 1;
    plan.replicationType = d.replicationType;
    plan.replicationEnabled = d.replicationEnabled;
    plan.postSnapEnabled = d.postSnapEnabled;
    plan.configTexts = m_scenario.jobTexts;
    plan.configInts = m_scenario.jobInts;
    for (const auto& kv : d.configTexts) plan.configTexts[kv.first] = kv.second;
    for (const auto& kv : d.configInts) plan.configInts[kv.first] = kv.second;
    // The host's database: a record per array, and one per virtual storage
    // machine (its virtual serial, on the physical array that holds it).
    for (const ZrArraySpec& a : m_scenario.arrays) {
      ZrArrayBinding& b = plan.arrays[a.serial];
      b.details = zrArrayDetailsText(a.serial, m_scenario.user, m_scenario.password);
      b.controlHostId = a.controlHostId;
      b.configTexts[SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID] = "";
      for (const auto& rg : a.resourceGroups) {
        if (rg.vSerial.empty() || rg.vSerial == a.serial) continue;
        ZrArrayBinding& v = plan.arrays[rg.vSerial + "/" + a.serial];
        v.details = zrArrayDetailsText(rg.vSerial, m_scenario.user, m_scenario.password);
        v.controlHostId = a.controlHostId;
        v.configTexts[SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID] = a.serial;
      }
    }
    plan.values[ZRSO::GET_VALUE_SUBCLINET_ID] = m_scenario.subclientId;
    plan.values[ZRSO::GET_SNAP_ACTION_FLAGS] = 0;
    // The job's client mounts its own snapshots (no proxy).
    plan.values[ZRSO::GET_VALUE_SOURCE_CLIENT_ID] = m_scenario.clientId;
    plan.values[ZRSO::GET_VALUE_PROXY_CLIENT_ID] = 0;
    plan.values[ZRSO::GET_VALUE_MOUNT_HOST_ID] = m_scenario.mountHostId;
    plan.values[ZRSO::GET_VALUE_VOL_HOLACRE_ID] = 1;
    m_host->addDevice(plan);
  }
  return true;
}

ZrRunOutcome ZrScenarioRunner::run() {
  const auto start = std::chrono::steady_clock::now();
  ZrRunOutcome outcome;
  m_out << "scenario: " << m_scenario.name << " (" << m_scenario.devices.size() << " devices, "
        << m_scenario.steps.size() << " steps)\n";
  const int scale = m_options.clockScale > 0 ? m_options.clockScale : m_scenario.clockScale;
  m_clock.reset(new ZrCompressedClock(scale));
  ZrScopedClock clock(m_clock.get());
  std::string error;
  if (!setUp(&error)) {
    outcome.setupError = error;
  } else {
    m_out << "plug-in: "
          << fs::path(m_host->plugin().path()).lexically_proximate(fs::current_path()).string()
          << "\n";
    if (!m_host->plugin().missing().empty()) {
      m_out << "  not exported:";
      for (const std::string& n : m_host->plugin().missing()) m_out << " " << n;
      m_out << "\n";
    }
    m_out << "work directory: " << m_options.workDir << "\n";
    if (m_clock->scale() > 1)
      m_out << "host clock: waits of a second or more pass " << m_clock->scale()
            << " times faster\n";
    for (size_t i = 0; i < m_scenario.steps.size(); ++i) runStep(i, outcome);

    const ccisim::State end = loadOrEmpty(m_statePath);
    std::vector<int> none;
    outcome.finalFailures = zrCheckExpectation(m_scenario.final, -1, *m_host, none, end);
    std::vector<ZrDeviceState> states;
    for (size_t i = 0; i < m_host->deviceCount(); ++i) states.push_back(m_host->device(i).state());
    for (const std::string& f : zrInvariantFailures(end, states))
      outcome.finalFailures.push_back(f);
    // Every job of a scenario ends: what it made is on record in the
    // devices' metadata or gone, so no intent record stays.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(ZrPaths::intentDir(), ec)) {
      outcome.finalFailures.push_back("intent record left: " + e.path().filename().string());
    }
    m_out << "final checks: " << (outcome.finalFailures.empty() ? "held" : "FAILED") << "\n";
    for (const std::string& f : outcome.finalFailures) m_out << "  - " << f << "\n";
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m_out << outcome.verdict() << "\n";
  return outcome;
}

// What the host and the array do before the call: changes behind the
// plug-in's back, metadata the host copies between its objects, faults.
void ZrScenarioRunner::applyActions(const ZrScenarioStep& step) {
  for (const ZrArrayChange& c : step.arrayChanges) {
    m_sim->update([&](ccisim::State& s) {
      ccisim::Array* a = s.array(c.serial);
      if (a == nullptr) return;
      std::vector<ccisim::SnapPair> kept;
      for (ccisim::SnapPair& p : a->pairs) {
        if (p.pvol == c.ldev && c.kind == "setPairState") p.state = c.state;
        if (p.pvol != c.ldev || c.kind != "removePair") kept.push_back(p);
      }
      a->pairs.swap(kept);
    });
    m_out << "      behind the plug-in's back: " << c.kind << " LDEV " << c.ldev
          << (c.state.empty() ? "" : " " + c.state) << " on " << c.serial << "\n";
  }
  for (const ZrMetadataCopy& c : step.metadataCopies) {
    ZrDeviceState from = m_host->device(static_cast<size_t>(c.from)).state();
    ZrHostDevice& to = m_host->device(static_cast<size_t>(c.to));
    ZrDeviceState target = to.state();
    if (c.ids.empty()) {
      for (const auto& kv : from.metadata) target.metadata[kv.first] = kv.second;
    }
    for (size_t k = 0; k < c.ids.size(); ++k) {
      auto it = from.metadata.find(c.ids[k]);
      const int id = k < c.as.size() ? c.as[k] : c.ids[k];
      if (it != from.metadata.end())
        target.metadata[id] = it->second;
      else
        target.metadata.erase(id);
    }
    to.setState(target);
    m_out << "      the host copies metadata of "
          << m_host->device(static_cast<size_t>(c.from)).plan().name << " to " << to.plan().name
          << "\n";
  }
  if (step.clearFaults) m_sim->clearFaults();
  for (const ccisim::Fault& f : step.faults) m_sim->addFault(f);
}

void ZrScenarioRunner::runStep(size_t index, ZrRunOutcome& outcome) {
  const ZrScenarioStep& step = m_scenario.steps[index];
  ZrStepOutcome o;
  o.title = step.title;
  std::vector<int> devices = step.devices;
  if (devices.empty())
    for (size_t i = 0; i < m_host->deviceCount(); ++i) devices.push_back(static_cast<int>(i));
  for (int i : devices) {
    if (static_cast<size_t>(i) < m_host->deviceCount()) continue;
    o.ran = true;
    o.failures.push_back("device " + std::to_string(i) + " does not exist: the host has " +
                         std::to_string(m_host->deviceCount()));
  }
  if (!o.failures.empty()) {
    m_out << "\n[" << index + 1 << "/" << m_scenario.steps.size() << "] " << step.title
          << ": NOT RUN\n";
    for (const std::string& f : o.failures) m_out << "      - " << f << "\n";
    outcome.steps.push_back(o);
    return;
  }
  m_out << "\n[" << index + 1 << "/" << m_scenario.steps.size() << "] " << step.title << ": "
        << step.call << " on " << devices.size() << " device(s) ..." << std::endl;

  applyActions(step);
  const ccisim::State before = loadOrEmpty(m_statePath);
  std::vector<ZrDeviceState> statesBefore;
  for (size_t i = 0; i < m_host->deviceCount(); ++i)
    statesBefore.push_back(m_host->device(i).state());
  const int remoteBefore = m_host->remoteRequests();
  const size_t commandsBefore = ccisim::readJournal(m_sim->journalPath()).size();
  const size_t devicesBefore = m_host->deviceCount();
  bool found = false;
  const auto start = std::chrono::steady_clock::now();
  o.result = step.call.empty() ? 0 : m_host->call(step.call, devices, &found);
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  o.ran = step.call.empty() || found;
  const ccisim::State after = loadOrEmpty(m_statePath);
  if (!o.ran) {
    m_out << "      NOT RUN: the plug-in does not export " << step.call << "\n";
    outcome.steps.push_back(o);
    return;
  }
  // Devices the host made during the call (GAD clones) are reported too.
  std::vector<int> reported = devices;
  for (size_t i = devicesBefore; i < m_host->deviceCount(); ++i) {
    reported.push_back(static_cast<int>(i));
    statesBefore.push_back(ZrDeviceState());
  }
  report(reported, statesBefore, before, after);
  m_out << "      CCI commands run: "
        << ccisim::readJournal(m_sim->journalPath()).size() - commandsBefore;
  if (m_host->remoteRequests() != remoteBefore)
    m_out << ", remote requests: " << m_host->remoteRequests() - remoteBefore;
  m_out << "\n";
  o.failures = zrCheckExpectation(step.expect, o.result, *m_host, devices, after);
  const int remote = m_host->remoteRequests() - remoteBefore;
  if (step.expect.remoteRequests >= 0 && remote != step.expect.remoteRequests)
    o.failures.push_back("remote requests: " + std::to_string(remote) + ", expected " +
                         std::to_string(step.expect.remoteRequests));
  o.passed = o.failures.empty();
  char took[32];
  std::snprintf(took, sizeof took, "%.1f s", o.seconds);
  m_out << "      result " << o.result;
  if (step.expect.hasResult) m_out << " (expected " << step.expect.result << ")";
  m_out << " in " << took;
  m_out << " -> " << (o.passed ? "as expected" : "NOT AS EXPECTED") << "\n";
  for (const std::string& f : o.failures) m_out << "      - " << f << "\n";
  outcome.steps.push_back(o);
}

void ZrScenarioRunner::report(const std::vector<int>& devices,
                              const std::vector<ZrDeviceState>& statesBefore,
                              const ccisim::State& before, const ccisim::State& after) {
  for (int i : devices) {
    ZrHostDevice& d = m_host->device(static_cast<size_t>(i));
    const ZrDeviceState s = d.state();
    const ZrDeviceState& was = statesBefore.at(static_cast<size_t>(i));
    m_out << "      " << d.plan().name << "  status " << s.status << " " << zrStatusName(s.status);
    if (s.errorCode != 0) m_out << "  error " << s.errorCode << ": " << s.errorText;
    m_out << "\n";
    // Only what the step stored: the rest is as the previous report showed.
    for (int id : {6, 65, 68, 75, 90}) {
      auto it = s.metadata.find(id);
      if (it == s.metadata.end() || it->second.empty()) continue;
      auto old = was.metadata.find(id);
      if (old != was.metadata.end() && old->second == it->second) continue;
      std::string brief = zrMetadataBrief(it->second);
      if (!m_options.verbose && brief.size() > 110) brief = brief.substr(0, 107) + "...";
      m_out << "          metadata " << id << ": " << brief << "\n";
    }
  }
  const std::vector<std::string> changes = zrArrayChanges(before, after);
  if (changes.empty()) m_out << "      array: no change\n";
  for (size_t k = 0; k < changes.size(); ++k)
    m_out << (k == 0 ? "      array: " : "             ") << changes[k] << "\n";
  m_out << "      host devices: " << m_host->util().visibleDevices().size() << "\n";
}
