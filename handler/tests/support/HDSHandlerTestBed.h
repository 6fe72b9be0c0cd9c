// HDSHandlerTestBed: a snapshot command handler over the simulator.
//
// The bed owns a temporary host (settings, locks, temporary files), a
// ccisim fixture with array kSerial (user cciuser/secret, HORCM instance
// 3532 with its file and running, pool 5 "tipool"), the job's options and records (one fake
// host object per record) and builds handlers whose CCI implementation runs
// the simulator's tools through the production command runner; the
// implementation's own initialisation (command devices, instance file) is
// replaced by the state it would have left.
#ifndef ZR_HANDLER_TESTS_SUPPORT_HDSHANDLERTESTBED_H
#define ZR_HANDLER_TESTS_SUPPORT_HDSHANDLERTESTBED_H

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "records/HDSRecords.h"
#include "sim/ccisim_fixture.h"

class HDSHandlerTestBed {
 public:
  static constexpr const char* kSerial = "412345";
  static constexpr int kInstance = 3532;
  static constexpr int kPool = 5;

  HDSHandlerTestBed();
  ~HDSHandlerTestBed();

  // Appends one record per source LDEV (serial kSerial, a fake host object
  // each); the LDEVs are defined on the array as DP-VOLs of 2 GiB unless
  // defineOnArray is false.
  void addSources(const std::vector<int>& ldevs, bool defineOnArray = true);
  // A handler of this operation type over the simulator.
  std::unique_ptr<ZRHDSCommandHandler> handler(int operationType = 1);
  // The factory the handlers above use (for tests that build their own).
  ZRHDSImplementerFactory simulatorFactory();

  // The handler's error pair.
  static std::pair<int, std::string> error(ZRHDSCommandHandler& h);
  // Journal entries of raidcom (or another tool) holding every word of match.
  size_t count(const std::string& match, const std::string& tool = "raidcom") const;
  std::vector<std::string> lines(const std::string& tool = "raidcom") const;
  void setSetting(const std::string& key, int value);
  void setStringSetting(const std::string& section, const std::string& key,
                        const std::string& value);
  // Captured logs of every host object, joined.
  std::string logs() const;
  FakeSnapInfo& device(size_t i) { return devices[i]; }

  ScopedTempDir tmp;  // first: the fixture reads its locations
  ccisim::Fixture sim;
  std::deque<FakeSnapInfo> devices;
  FakeOSUtil os;
  ZRSO::ZROSUtil* osUtil = &os;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;
  ZRHDSCommandHandlerInputParams params;
};

#endif  // ZR_HANDLER_TESTS_SUPPORT_HDSHANDLERTESTBED_H
