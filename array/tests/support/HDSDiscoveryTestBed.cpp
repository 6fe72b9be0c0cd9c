#include "array/tests/support/HDSDiscoveryTestBed.h"

#include "array/tests/support/HDSRaidcomTestPeer.h"

HDSDiscoveryTestBed::HDSDiscoveryTestBed() : params(util, options, snaps) {
  options.horcmInstPath = kCciDir;
  options.horcmInst = kInstance;
  options.baseSerialNum = kSerial;
  options.arrayId = kSerial;
  options.resourceGroup = "meta_resource";
  // The base constructor resolves the local host name once per process;
  // give it one so no test depends on the machine's settings.
  ZRHDSRaidcomTestPeer::setLocalHostName("mahost01");
  ZRHDSRaidcomTestPeer::setCCIVersion("01-40-03/01");
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
  impl.reset(new ZRHDSRaidcomImplementer(logPtr, params,
                                         ZRHDSCommandHelperRunner::instance(), false));
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
