#include "testhost/ZrTestHost.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

#include "host/ZrPaths.h"
#include "host/testing/ZrFakeClock.h"
#include "testhost/ZrCompressedClock.h"

extern char** environ;

#ifndef ZRTESTHOST_PROGRAM
#define ZRTESTHOST_PROGRAM "zrtesthost"
#endif

namespace {

const char kRemoteSnapMA[] = "SMCONFIG_NAME_REMOTE_SNAP_MA";

bool readText(const std::string& path, std::string& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

bool writeText(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

void makeParent(const std::string& path) {
  for (size_t p = 1; p < path.size(); ++p) {
    if (path[p] == '/') ::mkdir(path.substr(0, p).c_str(), 0755);
  }
}

// Runs program with args and waits for it; the exit code, or -1 when it
// could not be started or did not exit normally.
int runChild(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ZrTestHost::ZrTestHost(const ZrTestHostConfig& config)
    : m_config(config), m_util(new ZrSimOSUtil(config.statePath, config.initiators, config.iscsi)) {
  if (m_config.pluginPath.empty()) m_config.pluginPath = ZrPluginLoader::defaultPluginPath();
  if (m_config.remoteProgram.empty()) m_config.remoteProgram = defaultProgram();
  if (m_config.logFile.empty()) m_config.logFile = ZrPaths::logDir() + "/zrtesthost.log";
  m_util->setHostNumber(config.hostNumber);
  m_util->setRemoteHandler([this](const std::string& name) { return runRemote(name); });
  m_util->setCloneHandler(
      [this](const std::vector<ZRSO::SnapInfo*>& snaps, std::vector<ZRSO::SnapInfo*>* clones) {
        return cloneDevices(snaps, clones);
      });
  m_previousTree = ZrDeviceTree::setProvider(m_util.get());
}

ZrTestHost::~ZrTestHost() { ZrDeviceTree::setProvider(m_previousTree); }

std::string ZrTestHost::defaultProgram() {
  const char* env = std::getenv("ZRTESTHOST_PROGRAM");
  if (env != nullptr && env[0] != '\0') return env;
  return zrBuiltOrInstalled(ZRTESTHOST_PROGRAM, "zrtesthost");
}

bool ZrTestHost::open(std::string* error) { return m_plugin.open(m_config.pluginPath, error); }

int ZrTestHost::addDevice(const ZrDeviceSpec& plan) {
  m_devices.emplace_back(new ZrHostDevice(plan));
  return static_cast<int>(m_devices.size()) - 1;
}

int ZrTestHost::call(const std::string& op, const std::vector<int>& indices, bool* found) {
  if (op == "zrso_isSupported") return probeDevices(indices, found);
  ZrsoDeviceOp fn = m_plugin.deviceOp(op);
  if (found != nullptr) *found = fn != nullptr;
  if (fn == nullptr) return 1;
  std::vector<ZRSO::SnapInfo*> array;
  for (int i : indices) {
    // Each call starts without an error: the host reads it back after
    // the call, and the plug-in records a code only on a device without one.
    device(static_cast<size_t>(i)).object().setErrorPair(0, "");
    array.push_back(device(static_cast<size_t>(i)).snapInfo());
  }
  m_call = indices;
  const int rc =
      fn(array.empty() ? nullptr : array.data(), static_cast<short>(array.size()), m_util.get());
  if (m_onReturn) m_onReturn(rc);
  m_call.clear();
  flushLogs();
  return rc;
}

int ZrTestHost::cloneDevices(const std::vector<ZRSO::SnapInfo*>& snaps,
                             std::vector<ZRSO::SnapInfo*>* clones) {
  if (clones == nullptr) return 0;
  std::vector<size_t> originals;
  for (ZRSO::SnapInfo* snap : snaps) {
    size_t found = m_devices.size();
    for (size_t i = 0; i < m_devices.size(); ++i)
      if (m_devices[i]->snapInfo() == snap) found = i;
    if (found == m_devices.size()) return 0;  // not one of this host's objects
    originals.push_back(found);
  }
  clones->clear();
  for (size_t i : originals) {
    ZrDeviceSpec plan = m_devices[i]->plan();
    plan.name += "_secondary";
    // A clone carries what its original stored, and starts unprepared.
    ZrDeviceState state = m_devices[i]->state();
    state.status = 0;
    state.errorCode = 0;
    state.errorText.clear();
    const int k = addDevice(plan);
    device(static_cast<size_t>(k)).setState(state);
    clones->push_back(device(static_cast<size_t>(k)).snapInfo());
  }
  return 1;
}

int ZrTestHost::probeDevices(const std::vector<int>& indices, bool* found) {
  ZrsoIsSupportedFn probe = m_plugin.isSupported();
  if (found != nullptr) *found = probe != nullptr;
  if (probe == nullptr) return 1;
  int result = 0;
  for (int i : indices) {
    const std::string path = device(static_cast<size_t>(i)).plan().sourcePath;
    if (probe(path.c_str(), 0, nullptr, nullptr, 0) != 0) result = 1;
  }
  return result;
}

void ZrTestHost::flushLogs() {
  makeParent(m_config.logFile);
  std::ofstream out(m_config.logFile, std::ios::app);
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::gmtime(&now));
  for (auto& d : m_devices) {
    for (const FakeSnapInfo::LogLine& l : d->object().logs()) {
      out << stamp << " " << ::getpid() << " [" << m_config.hostName << "] " << d->plan().name
          << " L" << l.level << " " << l.function << ": " << l.text << "\n";
    }
    d->object().clearLogs();
  }
}

bool ZrTestHost::runRemote(const std::string& mediaAgentName) {
  const ZrRemoteAgent* agent = nullptr;
  for (const ZrRemoteAgent& a : m_config.remoteAgents) {
    if (a.name == mediaAgentName) agent = &a;
  }
  if (agent == nullptr) return false;
  flushLogs();  // the sender's lines before the receiver's

  zrjson::Object x;
  x.import("agent", zrjson::Value(agent->name));
  x.import("plugin", zrjson::Value(m_config.pluginPath));
  x.import("statePath", zrjson::Value(m_config.statePath));
  x.import("initiators", zrJsonTextArray(agent->initiators));
  x.import("iscsi", zrJsonBoolean(m_config.iscsi));
  x.import("hostNumber", zrJsonNumber(agent->hostNumber));
  x.import("logFile", zrjson::Value(m_config.logFile));
  x.import("clockScale", zrJsonNumber(m_config.clockScale));
  zrjson::Array devices;
  for (int i : m_call) {
    ZrHostDevice& d = device(static_cast<size_t>(i));
    ZrDeviceSpec plan = d.plan();
    plan.configTexts.erase(kRemoteSnapMA);  // there the group runs locally
    zrjson::Object entry;
    entry.import("plan", zrjson::Value(zrSpecToJson(plan)));
    entry.import("state", zrjson::Value(zrStateToJson(d.state())));
    devices << zrjson::Value(entry);
  }
  x.import("devices", zrjson::Value(devices));

  const std::string path = ZrPaths::tempDir() + "/zrtesthost-remote-" + std::to_string(::getpid()) +
                           "-" + std::to_string(++m_exchanges) + ".json";
  if (!writeText(path, x.json())) return false;
  const int rc = runChild(m_config.remoteProgram, {"remote-serve", path});
  std::string text;
  zrjson::Object back;
  const bool read = readText(path, text) && back.parse(text);
  std::remove(path.c_str());
  if (rc != 0 || !read || !zrJsonBool(back, "served")) return false;

  std::vector<const zrjson::Object*> after = zrJsonObjects(back, "devicesAfter");
  for (size_t k = 0; k < after.size() && k < m_call.size(); ++k) {
    device(static_cast<size_t>(m_call[k])).setState(zrStateFromJson(*after[k]));
  }
  return zrJsonInt(back, "result", 1) == 0;
}

int ZrTestHost::serveRemote(const std::string& exchangePath) {
  std::string text;
  zrjson::Object x;
  if (!readText(exchangePath, text) || !x.parse(text) || x.empty()) return 2;

  ZrTestHostConfig config;
  config.hostName = zrJsonText(x, "agent", "remote");
  config.pluginPath = zrJsonText(x, "plugin");
  config.statePath = zrJsonText(x, "statePath");
  config.initiators = zrJsonTexts(x, "initiators");
  config.iscsi = zrJsonBool(x, "iscsi");
  config.hostNumber = static_cast<long>(zrJsonInt(x, "hostNumber", 0x2F));
  config.logFile = zrJsonText(x, "logFile");
  config.clockScale = static_cast<int>(zrJsonInt(x, "clockScale", 1));
  ZrCompressedClock clock(config.clockScale);
  ZrScopedClock installed(&clock);
  ZrTestHost host(config);
  std::string error;
  if (!host.open(&error)) return 3;
  std::vector<int> all;
  for (const zrjson::Object* entry : zrJsonObjects(x, "devices")) {
    zrjson::Object plan, state;
    if (entry->has<zrjson::Object>("plan")) plan = entry->get<zrjson::Object>("plan");
    if (entry->has<zrjson::Object>("state")) state = entry->get<zrjson::Object>("state");
    const int i = host.addDevice(zrSpecFromJson(plan));
    host.device(static_cast<size_t>(i)).setState(zrStateFromJson(state));
    all.push_back(i);
  }
  bool found = false;
  const int rc = host.call("zrso_execSnapEngineOp", all, &found);
  zrjson::Array after;
  for (int i : all)
    after << zrjson::Value(zrStateToJson(host.device(static_cast<size_t>(i)).state()));
  x.import("served", zrJsonBoolean(found));
  x.import("result", zrJsonNumber(rc));
  x.import("devicesAfter", zrjson::Value(after));
  return writeText(exchangePath, x.json()) ? 0 : 4;
}
