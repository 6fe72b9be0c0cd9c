// Common set-up of the array layer's unit tests: a temporary directory with
// every host location in it, a fake logging device, the job records, a
// recording runner and an implementer built without initialize() and made
// ready as initialize() would have left it.
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSARRAYTESTBASE_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSARRAYTESTBASE_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "array/tests/support/HDSRecordingRunner.h"
#include "array/tests/support/HDSTestDefaults.h"
#include "host/ZRPlatformInfo.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "util/ZRHDSHolderCount.h"

class HDSArrayTestBase : public ::testing::Test {
 protected:
  using Peer = ZRHDSRaidcomTestPeer;
  static constexpr const char* kSerial = hdstest::kSerial;
  static constexpr const char* kDir = hdstest::kCciDir;

  HDSArrayTestBase() : params(osUtil, options, snaps) {
    hdstest::applyTestDefaults(options);
    options.userName = "cciuser";
    options.password = "secret";
    params.operationType = 1;
  }

  // Builds the implementer (without initialize) and makes it ready.
  void makeImpl() {
    // Destroying an implementer nulls the pointer variables it was bound to.
    ZRSO::ZROSUtil* keep = osUtil;
    impl.reset();
    log = &device;
    osUtil = keep;
    impl.reset(new ZRHDSRaidcomImplementer(log, params, runner, false));
    ::mkdir(tempDir().c_str(), 0700);
    Peer::setReady(*impl, tempDir());
  }
  void SetUp() override { makeImpl(); }

  std::string tempDir() const { return tmp.path() + "/tmp"; }
  std::string etcDir() const { return tmp.path() + "/etc/"; }

  void setSetting(const std::string& key, int value) {
    ZRPlatformInfo p;
    ASSERT_EQ(0, p.setRegInt("~Tessavon", key.c_str(), value));
  }
  // INT_MIN when missing.
  int setting(const std::string& key) {
    ZRPlatformInfo p;
    int v = 0;
    return p.getRegInt("~Tessavon", key.c_str(), &v) ? v : -2147483647 - 1;
  }
  std::string loginKey() const { return std::string("sZRHDSRaidcomLockCount_") + kSerial; }
  // n live holders of this process (and nothing else) and the key saying n.
  void setHolders(int n) {
    heldLogins.clear();
    ::unlink(ZRHDSHolderCount::listPath(holderName()).c_str());
    for (int i = 0; i < n; ++i) {
      // An entry lasts as long as the object that added it.
      heldLogins.emplace_back(new ZRHDSHolderCount(holderName(), loginKey()));
      int live = 0;
      ASSERT_EQ(0, heldLogins.back()->add(1, &live)) << heldLogins.back()->lastError();
    }
    setSetting(loginKey(), n);
  }
  static std::string holderName() { return std::string("RAIDCOM_LOGIN_") + kSerial; }

  std::pair<int, std::string> error() {
    int code = 0;
    std::string text;
    impl->getErrorCodeString(code, text);
    return {code, text};
  }

  // Every captured log text joined, for "never logged" checks.
  std::string allLogs() const {
    std::string all;
    for (const std::string& t : device.logTexts(-1)) all += t + "\n";
    return all;
  }

  ScopedTempDir tmp;
  FakeSnapInfo device;
  ZRSO::SnapInfo* log = &device;
  ZRSO::ZROSUtil* osUtil = nullptr;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;
  ZRHDSCommandHandlerInputParams params;
  HDSRecordingRunner runner;
  std::unique_ptr<ZRHDSRaidcomImplementer> impl;
  // Login holders that setHolders added (an entry lasts as long as these).
  std::vector<std::unique_ptr<ZRHDSHolderCount>> heldLogins;
};

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSARRAYTESTBASE_H
