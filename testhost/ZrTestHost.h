#pragma once
// One test host: the plug-in loaded by name, this machine's OS utility over
// the simulated array (also the process's device tree), and the job's device
// objects. call() hands a set of the devices to one export, as the host's
// media agent does, and writes every log line the plug-in made on them to
// the host's log file.
//
// Remote execution: a request that the plug-in sends to another media agent
// (executeOnRemoteMA) is run by a second test host in a child process
// ("<program> remote-serve <exchange file>"), with its own device objects
// and OS utility built from the same job, the other agent's initiators and
// the devices' current state. The child calls zrso_execSnapEngineOp; the
// devices' resulting states (status, error, metadata, the response in
// metadata 60) are brought back onto this host's objects.
//
// GAD backups: the plug-in asks the host to clone the device set
// (cloneSnaps); the clones join this host's devices after the originals,
// named after them with "_secondary".
//
// Thread-safety: one thread at a time.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "testhost/ZrHostDevice.h"
#include "testhost/ZrPluginLoader.h"
#include "testhost/ZrSimOSUtil.h"

// A media agent that the test host can run remote requests on.
struct ZrRemoteAgent {
  std::string name;
  std::vector<std::string> initiators;
  long hostNumber = 0x2F;
};

struct ZrTestHostConfig {
  std::string pluginPath;  // libzrhdscli.so
  std::string statePath;   // the simulator's state file
  std::string hostName = "mahost01";
  std::vector<std::string> initiators;
  bool iscsi = false;
  long hostNumber = 0x1F;
  std::vector<ZrRemoteAgent> remoteAgents;
  // The test host program that serves remote requests; default: the
  // build's zrtesthost.
  std::string remoteProgram;
  // Waits of a second or more pass this many times faster in the child
  // hosts of remote requests (1: real time), as in this host.
  int clockScale = 1;
  // Where the device log lines go; "" for ZrPaths::logDir()/zrtesthost.log.
  std::string logFile;
};

class ZrTestHost {
 public:
  explicit ZrTestHost(const ZrTestHostConfig& config);
  ~ZrTestHost();
  ZrTestHost(const ZrTestHost&) = delete;
  ZrTestHost& operator=(const ZrTestHost&) = delete;

  // Loads the plug-in; false with *error set when it cannot be loaded.
  bool open(std::string* error);
  ZrPluginLoader& plugin() { return m_plugin; }
  ZrSimOSUtil& util() { return *m_util; }
  const ZrTestHostConfig& config() const { return m_config; }

  // Adds a device of the job; returns its index.
  int addDevice(const ZrDeviceSpec& plan);
  size_t deviceCount() const { return m_devices.size(); }
  ZrHostDevice& device(size_t i) { return *m_devices.at(i); }

  // Calls the export named op with the devices of indices in that order,
  // each with its error cleared first. "zrso_isSupported" probes the source
  // path of each device instead: 0 when every one is supported, else 1.
  // *found is false (and the result 1) when the plug-in lacks the export.
  int call(const std::string& op, const std::vector<int>& indices, bool* found);
  // Called with a device export's result the moment it returns, before this
  // host writes the call's log lines: from then on the host keeps what the
  // call stored (a crash rig hands the devices' states back from here).
  void setOnReturn(std::function<void(int result)> onReturn) { m_onReturn = std::move(onReturn); }

  // Remote requests run so far (each one child host).
  int remoteRequests() const { return m_exchanges; }

  // Child side of a remote request: runs the exchange file's request and
  // writes the outcome into it. Returns the process exit code.
  static int serveRemote(const std::string& exchangePath);

  // The test host program of the build.
  static std::string defaultProgram();

 private:
  bool runRemote(const std::string& mediaAgentName);
  // cloneSnaps: one new device object per device, with its job settings and
  // its state, for the other side of a GAD pair; owned by this host.
  int cloneDevices(const std::vector<ZRSO::SnapInfo*>& snaps, std::vector<ZRSO::SnapInfo*>* clones);
  int probeDevices(const std::vector<int>& indices, bool* found);
  void flushLogs();

  ZrTestHostConfig m_config;
  ZrPluginLoader m_plugin;
  std::unique_ptr<ZrSimOSUtil> m_util;
  ZrDeviceProvider* m_previousTree = nullptr;
  std::vector<std::unique_ptr<ZrHostDevice>> m_devices;
  std::vector<int> m_call;  // indices of the call in progress
  int m_exchanges = 0;
  std::function<void(int)> m_onReturn;
};
