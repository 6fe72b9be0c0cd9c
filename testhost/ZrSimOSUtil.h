#pragma once
// The test host's operating-system utility, answering from the simulated
// array instead of a real machine. This host owns a set of initiators
// (Fibre Channel WWNs or iSCSI names); a LUN of the simulator is "attached"
// to it when the LUN belongs to a host group that holds one of them. The
// command devices of the simulator's command-device table are attached to
// every host, as a command device given to the machine would be.
//
// What the host sees follows a real machine: a bus rescan makes the LUNs
// attached now visible and forgets the ones no longer attached; a LUN whose
// path was deleted on the array disappears from the device list and stops
// answering inquiries at once, while a new LUN appears only after a rescan.
// The object is also the device tree of the process (ZrDeviceProvider): the
// plug-in's SCSI inquiries of those paths get the simulator's inquiry pages
// (standard page and vendor page 0xE2) of the LDEV behind the path.
//
// Thread-safety: every member takes the object's mutex; the remote handler
// runs without it.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"
#include "host/ZrDevice.h"
#include "sim/ccisim_fixture.h"

// One OS device of the host: the path and the LDEV behind it.
struct ZrSimDevice {
  std::string path;
  std::string serial;
  int ldev = 0;
  bool commandDevice = false;
  bool operator<(const ZrSimDevice& o) const { return path < o.path; }
};

class ZrSimOSUtil : public ZRSO::ZROSUtil, public ZrDeviceProvider {
 public:
  // statePath: the simulator's state file. initiators: this host's
  // initiator names as the array lists them (WWNs in 16 hexadecimal digits),
  // iscsi: whether they are iSCSI names. Scans once.
  ZrSimOSUtil(const std::string& statePath, const std::vector<std::string>& initiators,
              bool iscsi = false);
  ~ZrSimOSUtil() override;

  // The OS path under which this host shows the LDEV (serial, ldev):
  // "/dev/zrsim/<serial>/<ldev>", or the command-device table's path.
  static std::string devicePath(const ccisim::State& s, const std::string& serial, int ldev);
  // Every LDEV attached to a host with these initiators, by path.
  static std::vector<ZrSimDevice> attachedDevices(const ccisim::State& s,
                                                  const std::vector<std::string>& initiators);
  // Reads the state file; false with *error set when it cannot be read.
  static bool loadState(const std::string& path, ccisim::State& out, std::string* error);

  // Devices visible now (seen at the last rescan and still attached).
  std::vector<ZrSimDevice> visibleDevices();
  // Rescans without a caller (what the host does when it starts).
  void rescan();
  int rescanCount();

  void setHostNumber(long n);
  // Runs for executeOnRemoteMA; without one the call fails.
  void setRemoteHandler(std::function<bool(const std::string&)> handler);
  // Runs for cloneSnaps; without one the call fails.
  void setCloneHandler(
      std::function<int(const std::vector<ZRSO::SnapInfo*>&, std::vector<ZRSO::SnapInfo*>*)>
          handler);
  const std::vector<std::string>& initiators() const { return m_initiators; }
  const std::string& statePath() const { return m_statePath; }

  // ---- ZRSO::ZROSUtil ----
  int refreshSystemBus(const char* option, const char* const* first,
                       const char* const* second) override;
  int getDeviceList(const char* hostId, const char* vendor, char separator, int bufferSize,
                    char* buffer) override;
  bool detectHbaList(const char* reserved, const char* second, char* names, short* namesLength,
                     char* types, short* typesLength, short* third) override;
  bool detectHba(const char* host, const char* second, char* buffer, short* length,
                 bool& isIscsi) override;
  long getHostNumber() override;
  bool executeOnRemoteMA(const std::string& mediaAgentName) override;
  int getPageInfoForVMwareDevice(const char* sourceHostPath, const char* lunUuid,
                                 const char* pageKind, int applicationId, int installationId,
                                 int pageCount, char separator, int bufferSize,
                                 char* buffer) override;
  bool detectHbaListForHost(const char* hostName, const char* second, char* names,
                            short* namesLength, char* types, short* typesLength,
                            short* third) override;
  int cloneSnaps(const std::vector<ZRSO::SnapInfo*>& snaps,
                 std::vector<ZRSO::SnapInfo*>* clones) override;

  // ---- ZrDeviceProvider ----
  SP<ZrDevice> getDevice(const char* path, CNqError* error) override;

  // Inquiry reply for a visible path: page -1 the standard page, else that
  // vital-product page (only 0xE2 exists). False when the path is not
  // visible or the page does not exist.
  bool inquiry(const std::string& path, int page, std::vector<uint8_t>& reply);

 private:
  // Takes the state as it is now and, when it changed, the devices
  // attached in it. False when it cannot be read. REQUIRES: m_mu held.
  bool refreshLocked();
  // Visible devices against the state as it is now. REQUIRES: m_mu held.
  const std::vector<ZrSimDevice>& visibleLocked();
  bool hbaList(char* names, short* namesLength, char* types, short* typesLength);

  std::mutex m_mu;
  std::string m_statePath;
  std::vector<std::string> m_initiators;
  bool m_iscsi;
  std::set<std::string> m_seen;  // paths found by the last rescan
  // The state last read, the devices attached in it, and the visible ones
  // (valid while m_visibleKnown: until the state or the rescan changes).
  std::shared_ptr<const ccisim::State> m_state;
  std::vector<ZrSimDevice> m_attached;
  bool m_visibleKnown = false;
  std::vector<ZrSimDevice> m_visible;
  std::map<std::string, size_t> m_visibleByPath;
  int m_rescans = 0;
  long m_hostNumber = 0x1F;
  std::function<bool(const std::string&)> m_remote;
  std::function<int(const std::vector<ZRSO::SnapInfo*>&, std::vector<ZRSO::SnapInfo*>*)> m_clone;
};
