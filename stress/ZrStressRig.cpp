#include "stress/ZrStressRig.h"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/ZRPlatformInfo.h"
#include "host/ZrPaths.h"
#include "testhost/ZrArrayReport.h"
#include "testhost/ZrPluginLoader.h"
#include "testhost/ZrSimOSUtil.h"
#include "util/ZRHDSHolderCount.h"

namespace fs = std::filesystem;

namespace {

const char kUser[] = "cciuser";
const char kPassword[] = "secret";
const char kHostName[] = "mahost01";
const char kPort[] = "CL1-A";
const char kSvolLabelPrefix[] = "QB_SVOL_";
const char kHolderPrefix[] = "zrholders_";
const char kHolderSuffix[] = ".list";
constexpr int kCommandDeviceLdev = 2047;
// The settings every job of the rig runs with (besides the defaults).
const char kBusRefreshDelayKey[] = "nZRHDSMapUnmapSystemBusRefreshDelayInSecs";
const char* const kToolNames[] = {"raidcom",      "raidqry",       "raidscan",
                                  "pairsyncwait", "horcmstart.sh", "horcmshutdown.sh"};
// The parts of a work directory that a job changes.
const char* const kSavedParts[] = {"cci/state", "etc", "locks", "tmp", "intent", "settings.ini"};

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '\n' || c == '\t' || c == '\r') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) out.push_back(field);
  return out;
}

}  // namespace

const std::vector<ZrStressOp>& zrStressOps() {
  static const std::vector<ZrStressOp> ops = {
      ZrStressOp::kPrepare, ZrStressOp::kSnap,      ZrStressOp::kMap,   ZrStressOp::kUnmap,
      ZrStressOp::kRevert,  ZrStressOp::kReconcile, ZrStressOp::kDelete};
  return ops;
}

std::string zrStressOpName(ZrStressOp op) {
  static const char* const names[] = {"prepare", "snap",      "map",   "unmap",
                                      "revert",  "reconcile", "delete"};
  return names[static_cast<int>(op)];
}

std::string zrStressOpExport(ZrStressOp op) {
  static const char* const names[] = {
      "zrso_prepareDevices", "zrso_snapDevices",    "zrso_mapSnaps",   "zrso_unmapSnaps",
      "zrso_revertSnaps",    "zrso_reconcileSnaps", "zrso_deleteSnaps"};
  return names[static_cast<int>(op)];
}

int zrStressOpStatus(ZrStressOp op) {
  // prepared, created, mapped, unmapped, reverted, (as before), deleted
  static const int statuses[] = {1, 5, 12, 14, 22, -1, 20};
  return statuses[static_cast<int>(op)];
}

void zrFinishReport(const std::string& report, const std::string& text, std::ostream& out) {
  out << text;
  if (!report.empty()) std::ofstream(report, std::ios::app) << text;
}

std::string zrStressStatePath(const std::string& dir) { return dir + "/cci/state/ccisim.state"; }

void zrStressUseDir(const std::string& dir) {
  ::setenv("ZRHOST_SETTINGS_FILE", (dir + "/settings.ini").c_str(), 1);
  ::setenv("ZRHOST_LOCK_DIR", (dir + "/locks").c_str(), 1);
  ::setenv("ZRHOST_LOG_DIR", (dir + "/logs").c_str(), 1);
  ::setenv("ZRHOST_TEMP_DIR", (dir + "/tmp").c_str(), 1);
  ::setenv("ZRHOST_HORCM_ETC_DIR", (dir + "/etc/").c_str(), 1);
  ::setenv("ZRHOST_CCI_DIR", (dir + "/cci/bin/").c_str(), 1);
  ::setenv("ZRHOST_INTENT_DIR", (dir + "/intent").c_str(), 1);
  ::setenv("CCISIM_STATE", zrStressStatePath(dir).c_str(), 1);
}

void zrStressUseHostDir(const std::string& dir, const std::string& hostDir) {
  zrStressUseDir(dir);
  std::error_code ec;
  for (const char* sub : {"locks", "logs", "tmp", "intent"})
    fs::create_directories(fs::path(hostDir) / sub, ec);
  fs::permissions(fs::path(hostDir) / "locks", fs::perms::owner_all, ec);
  fs::permissions(fs::path(hostDir) / "intent", fs::perms::owner_all, ec);
  ::setenv("ZRHOST_SETTINGS_FILE", (hostDir + "/settings.ini").c_str(), 1);
  ::setenv("ZRHOST_LOCK_DIR", (hostDir + "/locks").c_str(), 1);
  ::setenv("ZRHOST_LOG_DIR", (hostDir + "/logs").c_str(), 1);
  ::setenv("ZRHOST_TEMP_DIR", (hostDir + "/tmp").c_str(), 1);
  ::setenv("ZRHOST_INTENT_DIR", (hostDir + "/intent").c_str(), 1);
  ZRPlatformInfo().setRegString("~Tessavon", kBusRefreshDelayKey, "0");
}

std::unique_ptr<ccisim::Fixture> zrStressMakeArray(const std::string& dir, int sources,
                                                   std::string* error) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  for (const char* sub : {"cci/bin", "cci/state", "etc", "locks", "logs", "tmp"})
    fs::create_directories(fs::path(dir) / sub, ec);
  fs::permissions(fs::path(dir) / "locks", fs::perms::owner_all, ec);
  if (ec) {
    *error = "cannot make " + dir + ": " + ec.message();
    return nullptr;
  }
  zrStressUseDir(dir);
  const std::string tools = zrBuiltOrInstalled(ccisim::ccisimBinary(), "ccisim");
  for (const char* tool : kToolNames) {
    fs::create_symlink(tools, fs::path(dir) / "cci/bin" / tool, ec);
    if (ec) {
      *error = "cannot link " + std::string(tool) + ": " + ec.message();
      return nullptr;
    }
  }
  std::unique_ptr<ccisim::Fixture> sim;
  try {
    sim.reset(new ccisim::Fixture(dir + "/cci/state"));
    ccisim::Fixture& f = *sim;
    f.setStrictHorcm(false, kHostName);
    f.addArray(kZrStressSerial);
    f.addUser(kUser, kPassword);
    ccisim::Pool ti;
    ti.id = 5;
    ti.name = "TIPOOL01";
    ti.usage = 12;
    f.addPool(kZrStressSerial, ti);
    ccisim::Pool dp;
    dp.id = 6;
    dp.name = "DPPOOL01";
    dp.pt = "HDP";
    dp.usage = 40;
    f.addPool(kZrStressSerial, dp);
    f.addPort(kZrStressSerial, kPort, "50060e8007dd3300");
    f.addHostGroup(kZrStressSerial, kPort, 0, "1A-G00");
    f.addHostGroup(kZrStressSerial, kPort, kZrStressHostGroup, "mahost01_hg");
    f.addHostGroupWwn(kZrStressSerial, kPort, kZrStressHostGroup, kZrStressInitiator);
    f.addLoginWwn(kZrStressSerial, kPort, kZrStressInitiator);
    for (int i = 0; i < sources; ++i) {
      f.addSourceLdev(kZrStressSerial, kZrStressFirstLdev + i, 2097152, 6,
                      "src_" + std::to_string(i));
      f.addLun(kZrStressSerial, kPort, kZrStressHostGroup, i, kZrStressFirstLdev + i);
    }
    f.addLun(kZrStressSerial, kPort, 0, 5, kCommandDeviceLdev);
    f.addCommandDevice("/dev/sdc", kZrStressSerial, kCommandDeviceLdev);
  } catch (const std::exception& e) {
    *error = std::string("array set-up: ") + e.what();
    return nullptr;
  }
  ZRPlatformInfo settings;
  if (settings.setRegString("~Tessavon", kBusRefreshDelayKey, "0") != 0) {
    *error = "cannot write the settings store";
    return nullptr;
  }
  return sim;
}

void zrStressSaveDir(const std::string& dir, const std::string& copy) {
  std::error_code ec;
  fs::remove_all(copy, ec);
  fs::create_directories(copy, ec);
  for (const char* part : kSavedParts) {
    const fs::path from = fs::path(dir) / part;
    if (!fs::exists(from, ec)) continue;
    fs::create_directories((fs::path(copy) / part).parent_path(), ec);
    fs::copy(from, fs::path(copy) / part, fs::copy_options::recursive, ec);
  }
}

void zrStressRestoreDir(const std::string& copy, const std::string& dir) {
  std::error_code ec;
  for (const char* part : kSavedParts) {
    const fs::path to = fs::path(dir) / part;
    fs::remove_all(to, ec);
    const fs::path from = fs::path(copy) / part;
    if (fs::exists(from, ec)) fs::copy(from, to, fs::copy_options::recursive, ec);
  }
  fs::permissions(fs::path(dir) / "locks", fs::perms::owner_all, ec);
}

std::string ZrDeviceObjects::text() const {
  return std::to_string(pairs) + " pair(s)" + (states.empty() ? "" : " " + states) + ", " +
         std::to_string(svols) + " S-VOL(s), " + std::to_string(lunPaths) + " LU path(s)";
}

std::string ZrArrayObjects::text() const {
  return std::to_string(pairs) + " pairs, " + std::to_string(groups) + " groups, " +
         std::to_string(svols) + " S-VOLs, " + std::to_string(lunPaths) + " LU paths, " +
         std::to_string(hostGroups) + " host groups";
}

ccisim::State zrStressLoad(const std::string& dir) {
  ccisim::State s;
  ZrSimOSUtil::loadState(zrStressStatePath(dir), s, nullptr);
  return s;
}

ZrDeviceObjects zrDeviceObjects(const ccisim::State& s, int sourceLdev) {
  ZrDeviceObjects o;
  const ccisim::Array* a = s.array(kZrStressSerial);
  if (a == nullptr) return o;
  for (const ccisim::SnapPair& p : a->pairs) {
    if (p.pvol != sourceLdev) continue;
    ++o.pairs;
    o.states += (o.states.empty() ? "" : ",") + p.state;
    if (p.svol < 0 || !a->ldev(p.svol).defined) continue;
    ++o.svols;
    for (const auto& port : a->ports)
      for (const auto& g : port.second.hostGroups)
        for (const auto& lun : g.second.luns) o.lunPaths += lun.second == p.svol ? 1 : 0;
  }
  return o;
}

ZrArrayObjects zrArrayObjects(const ccisim::State& s) {
  ZrArrayObjects o;
  const ccisim::Array* a = s.array(kZrStressSerial);
  if (a == nullptr) return o;
  std::vector<std::string> groups;
  for (const ccisim::SnapPair& p : a->pairs) {
    ++o.pairs;
    bool known = false;
    for (const std::string& g : groups) known = known || g == p.group;
    if (!known) groups.push_back(p.group);
  }
  o.groups = static_cast<int>(groups.size());
  a->loadLdevs();
  for (const auto& l : a->ldevs)
    o.svols += l.second.defined && l.second.label.rfind(kSvolLabelPrefix, 0) == 0 ? 1 : 0;
  for (const auto& port : a->ports) {
    o.hostGroups += static_cast<int>(port.second.hostGroups.size());
    for (const auto& g : port.second.hostGroups)
      o.lunPaths += static_cast<int>(g.second.luns.size());
  }
  return o;
}

std::vector<std::string> zrStressIdleFailures(const ccisim::State& s,
                                              const std::vector<ZrDeviceState>& devices) {
  std::vector<std::string> out = zrInvariantFailures(s, devices);
  const std::string dir = ZrPaths::lockDir();
  const std::string prefix = kHolderPrefix, suffix = kHolderSuffix;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string file = e.path().filename().string();
    if (file.rfind(prefix, 0) != 0 || file.size() <= prefix.size() + suffix.size() ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string name =
        file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
    ZRHDSHolderCount holders(name);
    int live = 0, scope = 0;
    if (holders.live(&live, &scope) != 0)
      out.push_back("holder list " + name + " unreadable: " + holders.lastError());
    else if (live != 0)
      out.push_back("holder list " + name + " has " + std::to_string(live) + " live holder(s)");
  }
  return out;
}

// ---- jobs ----

ZrStressJob::ZrStressJob(const ZrStressJobSpec& plan) : m_spec(plan) {}

ZrStressJob::~ZrStressJob() {
  m_host.reset();
  m_scoped.reset();
}

namespace {

// The CUs (hexadecimal) the job's S-VOLs are made in: from the first CU above
// the sources, one more than the job needs ("2-3" for up to 256 sources from
// LDEV 256), so that the sources never take the S-VOLs' room.
std::string svolCuRange(int firstLdev, int count) {
  constexpr int kLdevsPerCu = 256;
  const int first = std::max(2, (firstLdev + count + kLdevsPerCu - 1) / kLdevsPerCu);
  const int last = first + std::max(1, (count + kLdevsPerCu - 1) / kLdevsPerCu);
  char text[32];
  std::snprintf(text, sizeof(text), "%X-%X", first, last);
  return text;
}

}  // namespace

bool ZrStressJob::open(std::string* error) {
  m_clock.reset(new ZrCompressedClock(m_spec.clockScale));
  m_scoped.reset(new ZrScopedClock(m_clock.get()));
  ZrTestHostConfig config;
  config.statePath = ::getenv("CCISIM_STATE") != nullptr ? ::getenv("CCISIM_STATE") : "";
  config.hostName = kHostName;
  config.initiators = {m_spec.initiator};
  config.hostNumber = m_spec.hostNumber;
  config.clockScale = m_spec.clockScale;
  config.logFile = m_spec.logFile;
  m_host.reset(new ZrTestHost(config));
  if (!m_host->open(error)) return false;
  addDevices(m_spec);
  return true;
}

int ZrStressJob::addJob(const ZrStressJobSpec& plan) {
  addDevices(plan);
  return static_cast<int>(m_jobs.size()) - 1;
}

void ZrStressJob::addDevices(const ZrStressJobSpec& plan) {
  Devices job;
  job.first = m_host->deviceCount();
  job.count = plan.count;
  m_jobs.push_back(job);
  ccisim::State state;
  ZrSimOSUtil::loadState(m_host->config().statePath, state, nullptr);
  for (int i = 0; i < plan.count; ++i) {
    ZrDeviceSpec d;
    d.name = "dev" + std::to_string(plan.firstLdev + i);
    d.sourcePath = ZrSimOSUtil::devicePath(state, kZrStressSerial, plan.firstLdev + i);
    d.arrayDetails = zrArrayDetailsText(kZrStressSerial, kUser, kPassword);
    d.snapId = static_cast<int>(job.first) + i + 1;
    d.configTexts["SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS"] = "5";
    d.configTexts["SMCONFIG_NAME_CU_RANGE_FOR_SVOLS"] = svolCuRange(m_spec.firstLdev, m_spec.count);
    d.configInts["SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI"] = 1;
    d.configInts["SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION"] = 1;
    d.arrays[kZrStressSerial].details = d.arrayDetails;
    d.values[ZRSO::GET_VALUE_SUBCLINET_ID] = plan.subclient;
    d.values[ZRSO::GET_SNAP_ACTION_FLAGS] = 0;
    d.values[ZRSO::GET_VALUE_SOURCE_CLIENT_ID] = 101;
    d.values[ZRSO::GET_VALUE_PROXY_CLIENT_ID] = 0;
    d.values[ZRSO::GET_VALUE_MOUNT_HOST_ID] = 101;
    d.values[ZRSO::GET_VALUE_VOL_HOLACRE_ID] = 1;
    m_host->addDevice(d);
  }
}

int ZrStressJob::run(ZrStressOp op, int job) {
  const Devices& j = m_jobs.at(static_cast<size_t>(job));
  std::vector<int> devices;
  const int count = op == ZrStressOp::kRevert ? 1 : j.count;
  for (int i = 0; i < count; ++i) devices.push_back(static_cast<int>(j.first) + i);
  bool found = false;
  const int result = m_host->call(zrStressOpExport(op), devices, &found);
  return found ? result : 1;
}

int ZrStressJob::runFrom(ZrStressOp from, std::string* failed) {
  for (ZrStressOp op : zrStressOps()) {
    if (static_cast<int>(op) < static_cast<int>(from)) continue;
    const int result = run(op);
    if (result != 0) {
      if (failed != nullptr) *failed = zrStressOpName(op);
      return result;
    }
  }
  return 0;
}

void ZrStressJob::setOnReturn(std::function<void(int)> onReturn) {
  m_host->setOnReturn(std::move(onReturn));
}

std::vector<ZrDeviceState> ZrStressJob::states(int job) const {
  const Devices& j = m_jobs.at(static_cast<size_t>(job));
  std::vector<ZrDeviceState> out;
  for (int i = 0; i < j.count; ++i) out.push_back(m_host->device(j.first + i).state());
  return out;
}

void ZrStressJob::setStates(const std::vector<ZrDeviceState>& states, int job) {
  const Devices& j = m_jobs.at(static_cast<size_t>(job));
  for (size_t i = 0; i < states.size() && i < static_cast<size_t>(j.count); ++i)
    m_host->device(j.first + i).setState(states[i]);
}

// ---- device states as text ----

std::string zrStateLine(const ZrDeviceState& s) {
  std::string line = std::to_string(s.status) + "\t" + std::to_string(s.errorCode) + "\t" +
                     escape(s.errorText) + "\t" + std::to_string(s.replicationType);
  for (const auto& m : s.metadata) line += "\t" + std::to_string(m.first) + "=" + escape(m.second);
  return line;
}

bool zrStateFromLine(const std::string& line, ZrDeviceState& out) {
  const std::vector<std::string> f = splitTabs(line);
  if (f.size() < 4) return false;
  out = ZrDeviceState();
  out.status = std::atoi(f[0].c_str());
  out.errorCode = std::atoi(f[1].c_str());
  out.errorText = unescape(f[2]);
  out.replicationType = std::atoi(f[3].c_str());
  for (size_t i = 4; i < f.size(); ++i) {
    const size_t eq = f[i].find('=');
    if (eq == std::string::npos) return false;
    out.metadata[std::atoi(f[i].substr(0, eq).c_str())] = unescape(f[i].substr(eq + 1));
  }
  return true;
}

std::string zrStatesText(const std::vector<ZrDeviceState>& states) {
  std::string text;
  for (const ZrDeviceState& s : states) text += zrStateLine(s) + "\n";
  return text;
}

std::string zrRunOpPayload(ZrStressJob& job, const std::vector<ZrDeviceState>& states,
                           ZrStressOp op) {
  job.setStates(states);
  const int result = job.run(op);
  return "R " + std::to_string(result) + "\n" + zrStatesText(job.states());
}

bool zrReadOpPayload(const std::string& text, int* result, std::vector<ZrDeviceState>* states,
                     std::string* word) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line.rfind("R ", 0) != 0) return false;
  std::istringstream head(line.substr(2));
  head >> *result;
  if (word != nullptr) head >> *word;
  states->clear();
  while (std::getline(in, line)) {
    ZrDeviceState s;
    if (!zrStateFromLine(line, s)) return false;
    states->push_back(s);
  }
  return true;
}

// ---- child processes ----

bool zrRunWorkers(int workers, const std::string& dir,
                  const std::function<int(int w, const std::string& workerDir)>& worker) {
  std::vector<pid_t> pids;
  for (int w = 0; w < workers; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(worker(w, dir + "/w" + std::to_string(w)));
    pids.push_back(pid);
  }
  bool ok = true;
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return ok;
}

std::vector<std::vector<std::string>> zrReadWorkerRows(int workers, const std::string& dir,
                                                        const std::string& file) {
  std::vector<std::vector<std::string>> rows;
  for (int w = 0; w < workers; ++w) {
    std::ifstream in(dir + "/w" + std::to_string(w) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> f;
      std::istringstream fields(line);
      std::string x;
      while (std::getline(fields, x, '\t')) f.push_back(x);
      rows.push_back(std::move(f));
    }
  }
  return rows;
}

std::string zrOpTableHead(const std::string& first) {
  std::string head = "| " + first + " |";
  for (ZrStressOp op : zrStressOps()) head += " " + zrStressOpName(op) + " |";
  head += "\n|---|";
  for (size_t i = 0; i < zrStressOps().size(); ++i) head += "---|";
  return head + "\n";
}

namespace {

// The pipe a child of zrRunChild hands its text back through (-1: none).
int g_handBackFd = -1;

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

void zrChildHandBack(const std::string& text) {
  if (g_handBackFd >= 0) writeAll(g_handBackFd, text);
}

ZrChildResult zrRunChild(const std::function<std::string()>& body, int timeoutMs, int killAfterMs) {
  ZrChildResult r;
  int fds[2];
  if (::pipe(fds) != 0) return r;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return r;
  }
  if (pid == 0) {
    ::close(fds[0]);
    g_handBackFd = fds[1];
    writeAll(fds[1], body());
    ::close(fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  // The pipe is read on a thread so that a full pipe never blocks the child.
  std::string text;
  std::thread reader([&text, fd = fds[0]] {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) text.append(buf, static_cast<size_t>(n));
  });
  int status = 0;
  bool killed = false;
  for (;;) {
    const pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    const double ms = secondsSince(start) * 1000;
    if (!killed && killAfterMs >= 0 && ms >= killAfterMs) {
      ::kill(pid, SIGKILL);
      killed = true;
    } else if (!killed && ms >= timeoutMs) {
      ::kill(pid, SIGKILL);
      killed = true;
      r.timedOut = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs >= 0 ? 1 : 5));
  }
  reader.join();
  ::close(fds[0]);
  r.seconds = secondsSince(start);
  r.text = text;
  r.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  r.signaled = WIFSIGNALED(status);
  r.signal = r.signaled ? WTERMSIG(status) : 0;
  return r;
}

void zrBecomeSubreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

std::vector<int> zrChildrenOf(int parent) {
  std::vector<int> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    // pid (comm) state ppid ...: comm may hold blanks, so read after ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && state != "Z") out.push_back(std::atoi(name.c_str()));
  }
  return out;
}

int zrReapOrphans(int graceMs, int* left) {
  const auto start = Clock::now();
  const int initial = static_cast<int>(zrChildrenOf(::getpid()).size());
  std::vector<int> alive;
  for (;;) {
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
    alive = zrChildrenOf(::getpid());
    if (alive.empty() || secondsSince(start) * 1000 >= graceMs) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (left != nullptr) *left = static_cast<int>(alive.size());
  // What is still running was started by the measured job: ended by its id.
  for (int pid : alive) ::kill(pid, SIGKILL);
  for (int pid : alive) ::waitpid(pid, nullptr, 0);
  return initial;
}
