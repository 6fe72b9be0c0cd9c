// HDSDiscoveryTestBed: one CCI implementer wired for tests of the pool,
// replication, host-group and port operations.
//
// recording(): answers come from a HDSRecordingRunner (golden command
// lines, exit codes, hostile output). simulator(): the real command runner
// runs the simulator's tools from a ccisim::Fixture (array "412345", HORCM
// instance 3532 running and logged in), so the operations' lines and the
// tools' own output meet for real.
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSDISCOVERYTESTBED_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSDISCOVERYTESTBED_H

#include <memory>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRecordingRunner.h"
#include "array/tests/support/HDSTestDefaults.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "records/HDSRecords.h"
#include "sim/ccisim_fixture.h"

class HDSDiscoveryTestBed {
 public:
  static constexpr const char* kSerial = hdstest::kSerial;
  static constexpr const char* kInstance = hdstest::kInstance;
  // The directory the recording tests give as the CCI command directory.
  static constexpr const char* kCciDir = hdstest::kCciDir;

  // Options: CCI directory kCciDir, instance kInstance, serial kSerial,
  // resource group "meta_resource", array id kSerial.
  HDSDiscoveryTestBed();
  ~HDSDiscoveryTestBed();

  // An implementer that runs through recorder (initialize() skipped, the
  // members it would set filled in). Rebuilt on every call.
  ZRHDSRaidcomImplementer& recording();
  // An implementer that runs the simulator's tools through the production
  // runner against sim (which must outlive it). The options point at the
  // simulator's tool directory; the fixture gets array kSerial and instance
  // kInstance running and logged in, and its state is exported.
  ZRHDSRaidcomImplementer& simulator(ccisim::Fixture& sim);

  int errorCode();
  std::string errorText();
  // The common options of -IM / -IH lines, as the array layer composes them.
  static std::string im() { return std::string(" -IM") + kInstance + " -s " + kSerial; }
  static std::string ih() { return std::string(" -IH") + kInstance + " -s " + kSerial; }
  static std::string ihOnly() { return std::string(" -IH") + kInstance; }
  // A raidcom line as recording() runs it: "/cci/raidcom  <verbAndArgs> -IM..".
  static std::string raidcom(const std::string& verbAndArgs) {
    return std::string(kCciDir) + "raidcom  " + verbAndArgs + im();
  }

  // The command-status listing of a run without errors.
  static constexpr const char* kStatusOk =
      "HANDLE  SSB1  SSB2  ERR_CNT  Serial#  Description\n"
      "00c3    -     -     0        412345   -\n";
  // Answers the status reset and the status check around each synchronised
  // command with success (no errors counted).
  void answerStatus() {
    recorder.on(" reset command_status ", HDSRecordingRunner::ok());
    recorder.on(" get command_status ", HDSRecordingRunner::ok(kStatusOk));
  }
  // A status row that counts one error (the array refused the command it
  // carried out after the tool returned).
  static constexpr const char* kStatusError =
      "HANDLE  SSB1  SSB2  ERR_CNT  Serial#  Description\n"
      "00c3    2e31  9100  1        412345   [EX_CMDRJE] The requested LDEV is already defined\n";
  // Answers the status reset with success and the status check with
  // kStatusError (exit 1, as the tool does when errors are counted).
  void answerStatusError() {
    recorder.on(" reset command_status ", HDSRecordingRunner::ok());
    recorder.on(" get command_status ", HDSRecordingRunner::exit(1, kStatusError));
  }
  // The lines of one command run with the command-status check.
  static std::vector<std::string> withStatusCheck(const std::string& verbAndArgs) {
    return {raidcom("reset command_status  "), raidcom(verbAndArgs),
            raidcom("get command_status  ")};
  }

  ScopedTempDir tmp;
  FakeSnapInfo log;
  ZRSO::SnapInfo* logPtr = &log;
  ZRSO::ZROSUtil* util = nullptr;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;
  ZRHDSCommandHandlerInputParams params;
  HDSRecordingRunner recorder;
  std::unique_ptr<ZRHDSRaidcomImplementer> impl;
};

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSDISCOVERYTESTBED_H
