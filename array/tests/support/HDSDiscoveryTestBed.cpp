#include "array/tests/support/HDSDiscoveryTestBed.h"

#include "array/tests/support/HDSRaidcomTestPeer.h"

HDSDiscoveryTestBed::HDSDiscoveryTestBed() : params(util, options, snaps) {
  hdstest::applyTestDefaults(options);
  options.arrayId = kSerial;
}

HDSDiscoveryTestBed::~HDSDiscoveryTestBed() { impl.reset(); }

ZRHDSRaidcomImplementer& HDSDiscoveryTestBed::recording() {
  impl.reset();
  logPtr = &log;
  impl.reset(new ZRHDSRaidcomImplementer(logPtr, params, recorder, false));
  ZRHDSRaidcomTestPeer::setReady(*impl, tmp.path() + "/tmp");
  return *impl;
}

ZRHDSRaidcomImplementer& HDSDiscoveryTestBed::simulator(ccisim::Fixture& sim) {
  impl.reset();
  logPtr = &log;
  sim.exportEnv();
  sim.addArray(kSerial);
  sim.setInstanceRunning(3532, kSerial);
  sim.setLoggedIn(3532, "cciuser");
  options.horcmInstPath = ccisim::toolDir();
  impl.reset(
      new ZRHDSRaidcomImplementer(logPtr, params, ZRHDSCommandHelperRunner::instance(), false));
  ZRHDSRaidcomTestPeer::setReady(*impl, tmp.path() + "/tmp");
  // Real children: keep a stuck tool from holding a test for minutes.
  ZRHDSRaidcomTestPeer::setCommandTimeout(*impl, 30);
  return *impl;
}

int HDSDiscoveryTestBed::errorCode() {
  int code = 0;
  std::string text;
  impl->getErrorCodeString(code, text);
  return code;
}

std::string HDSDiscoveryTestBed::errorText() {
  int code = 0;
  std::string text;
  impl->getErrorCodeString(code, text);
  return text;
}
