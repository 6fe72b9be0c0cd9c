#pragma once
// Common ground of the entry-layer tests: every host location in a private
// temporary directory, the device tree double and the fake clock installed,
// and a set of test-double devices handed out as the host's device array.
#include <deque>
#include <string>
#include <vector>

#include "host/ZRPlatformInfo.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFakeDeviceTree.h"

namespace plugin_test {

class Env {
 public:
  Env() : m_treeGuard(&tree), m_clockGuard(&clock) {}
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // Adds n devices with the given control-host ids (one per id).
  void addDevices(const std::vector<int>& controlHostIds) {
    for (int id : controlHostIds) {
      devices.emplace_back();
      devices.back().setControlHostId(id);
      m_array.push_back(&devices.back());
    }
  }
  ZRSO::SnapInfo** array() { return m_array.data(); }
  short count() const { return static_cast<short>(m_array.size()); }
  FakeSnapInfo& at(size_t i) { return devices[i]; }
  // The statuses of every device, in array order.
  std::vector<int> statuses() {
    std::vector<int> out;
    for (FakeSnapInfo& d : devices) out.push_back(d.getStatus());
    return out;
  }
  std::vector<int> errorCodes() {
    std::vector<int> out;
    for (FakeSnapInfo& d : devices) out.push_back(d.errorCode());
    return out;
  }
  // Makes device i's group run on the named remote media agent.
  void runRemotely(size_t i, const std::string& mediaAgent) {
    devices[i].setSnapConfigText("SMCONFIG_NAME_REMOTE_SNAP_MA", mediaAgent);
  }
  // Answers every remote request with answer, stored as the response of the
  // device that carries the request; messageIds receives each request's id.
  void answerRemote(const std::string& answer) {
    util.setRemoteHandler([this, answer](const std::string&) {
      for (FakeSnapInfo& d : devices) {
        if (!d.hasMetadata(61)) continue;
        messageIds.push_back(d.metadata(61));
        d.setMetadataText(60, answer);
      }
      return true;
    });
  }
  void setSetting(const char* key, const std::string& value) {
    ZRPlatformInfo info;
    info.setRegString("~Tessavon", key, value.c_str());
  }

  ScopedTempDir dir;
  ZrFakeDeviceTree tree;
  ZrFakeClock clock;
  FakeOSUtil util;
  std::deque<FakeSnapInfo> devices;  // stable addresses
  std::vector<std::string> messageIds;

 private:
  ZrScopedDeviceTree m_treeGuard;
  ZrScopedClock m_clockGuard;
  std::vector<ZRSO::SnapInfo*> m_array;
};

}  // namespace plugin_test
