// The array every array-layer test bed assumes: CCI directory "/cci/",
// HORCM instance 3532, serial "412345", resource group "meta_resource", and
// a fixed local host name and CCI version, so no test depends on the
// machine's own settings.
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSTESTDEFAULTS_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSTESTDEFAULTS_H

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"

namespace hdstest {

constexpr const char* kSerial = "412345";
constexpr const char* kInstance = "3532";
constexpr const char* kCciDir = "/cci/";

// Sets the options above; the base constructor resolves the local host name
// once per process, which is why it is fixed here too.
inline void applyTestDefaults(ZRHDSSnapOptions& options) {
  options.horcmInstPath = kCciDir;
  options.horcmInst = kInstance;
  options.baseSerialNum = kSerial;
  options.resourceGroup = "meta_resource";
  ZRHDSRaidcomTestPeer::setLocalHostName("mahost01");
  ZRHDSRaidcomTestPeer::setCCIVersion("01-40-03/01");
}

}  // namespace hdstest

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSTESTDEFAULTS_H
