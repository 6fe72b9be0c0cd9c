// HDSContainerTestBed: containers over test-double host devices against the
// simulator. One array "412345" (model M8S) with a Thin Image pool 5
// "tipool", command device /dev/sdc (LDEV 2047), port CL1-A with host group
// 1 "client01", and user cciuser/secret. Every device the test adds is a
// FakeSnapInfo whose array details and snap configuration name that array;
// its stored metadata is whatever the test puts there.
#ifndef ZR_CONTAINER_TESTS_SUPPORT_HDSCONTAINERTESTBED_H
#define ZR_CONTAINER_TESTS_SUPPORT_HDSCONTAINERTESTBED_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "container/HDSInfoContainer.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFakeDeviceTree.h"
#include "sim/ccisim_fixture.h"

// Reaches the container's records and options, as the handler does.
class ZRHDSInfoContainerTestPeer {
 public:
  static std::vector<ZRHDSSnapInfo>& snaps(ZRHDSInfoContainer& c) { return c.m_oSnapInfoList; }
  static ZRHDSSnapOptions& options(ZRHDSInfoContainer& c) { return c.m_oSnapOptions; }
  static bool writeMapRecord(ZRHDSInfoContainer& c, const ZRHDSSnapInfo& snap, int id,
                             bool withHostGroups, const std::string& hostGroups) {
    return c.writeMapRecord(snap, id, withHostGroups, hostGroups, nullptr);
  }
};

class HDSContainerTestBed : public ::testing::Test {
 protected:
  using Peer = ZRHDSInfoContainerTestPeer;
  static constexpr const char* kSerial = "412345";
  static constexpr int kPool = 5;
  static constexpr int kSubclient = 12;

  HDSContainerTestBed();
  ~HDSContainerTestBed() override;

  // The array-details text of the job's array.
  static std::string details(const std::string& password = "secret", int engine = 73);
  // Starts the job's HORCM instance as a prepare would (a prepare container
  // over a scratch device) and returns its number; devices added from then
  // on store it as their metadata 75, as prepared devices do.
  std::string startInstance();

  // A device of the batch (device, when given, else a new FakeSnapInfo):
  // array details, snap configuration (pool, CCI directory), subclient id
  // and snap name "snap<n>" set; no metadata.
  FakeSnapInfo& addDevice(std::unique_ptr<FakeSnapInfo> device = nullptr);
  // A device whose unique metadata names source LDEV ldev of the array
  // (defined on the simulator with 2097152 blocks when not yet there).
  FakeSnapInfo& addSource(int ldev, std::unique_ptr<FakeSnapInfo> device = nullptr);
  // Sources (256 and 257 unless named), presented to the client through
  // CL1-A-1 (LUN = LDEV - 256), with a job that creates its S-VOLs and maps
  // them to CL1-A-1 (client and mount host are the same, snap action flags
  // 0).
  void addMappableSources(const std::vector<int>& ldevs = {256, 257});
  // Prepare (with its metadata) and create over the batch.
  void prepareAndCreate();
  std::vector<ZRSO::SnapInfo*> batch();
  // The batch as the host's device array (valid until the next call) and
  // its count; the devices' statuses in batch order.
  ZRSO::SnapInfo** snaps();
  short count() const { return static_cast<short>(devices.size()); }
  std::vector<int> statuses() const;
  std::unique_ptr<ZRHDSInfoContainer> make(OperationType type);
  std::unique_ptr<ZRHDSInfoContainer> make(OperationType type,
                                           std::vector<ZRSO::SnapInfo*> devices);

  std::pair<int, std::string> error(ZRHDSInfoContainer& c);
  int setting(const std::string& key);
  void setSetting(const std::string& key, int value);
  void setStringSetting(const std::string& key, const std::string& value);
  // Array journal lines of raidcom containing every word of match.
  size_t raidcomCount(const std::string& match) const;

  ScopedTempDir tmp;  // first: the fixture reads its locations
  ccisim::Fixture fx;
  FakeOSUtil os;
  ZrFakeDeviceTree tree;
  ZrFakeClock clock;  // every wait of the handler runs on it
  std::vector<std::unique_ptr<FakeSnapInfo>> devices;

 private:
  ZrScopedDeviceTree m_scopedTree;
  ZrScopedClock m_scopedClock;
  std::string m_instance;
  std::vector<ZRSO::SnapInfo*> m_array;
};

#endif  // ZR_CONTAINER_TESTS_SUPPORT_HDSCONTAINERTESTBED_H
