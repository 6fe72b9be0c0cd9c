// ZRHDSRaidcomTestPeer: test-only access to the CCI implementer's private
// state and helpers. Tests construct the implementer with
// (snapInfo, params, runner, false), which skips initialize(), and then set
// here what initialize() would have set.
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSRAIDCOMTESTPEER_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSRAIDCOMTESTPEER_H

#include <set>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"

class ZRHDSRaidcomTestPeer {
 public:
  using Impl = ZRHDSRaidcomImplementer;

  // What initialize() sets, in one call: temporary directory, CCI command
  // time-out 300, retry limit 50, raidcom lock time-out 30, keep flag off.
  static void setReady(Impl& i, const std::string& tempDir) {
    i.m_sTempDir = tempDir;
    i.m_nCCICommandTimeout = 300;
    i.m_nRaidcomMaxRetryCount = 50;
    i.m_nRaidcomTimeoutInSecs = 30;
    i.m_bKeepCmdOutput = false;
    i.m_bIsInitialized = true;
  }
  static void setTempDir(Impl& i, const std::string& d) { i.m_sTempDir = d; }
  static void setKeepOutput(Impl& i, bool keep) { i.m_bKeepCmdOutput = keep; }
  static void setCommandTimeout(Impl& i, int s) { i.m_nCCICommandTimeout = s; }
  static void setRetryCount(Impl& i, int n) { i.m_nRaidcomMaxRetryCount = n; }
  static void setRaidcomTimeout(Impl& i, int s) { i.m_nRaidcomTimeoutInSecs = s; }
  static std::vector<std::string>& commandDevices(Impl& i) { return i.m_vCommandDevices; }

  static bool keepOutput(const Impl& i) { return i.m_bKeepCmdOutput; }
  static int commandTimeout(const Impl& i) { return i.m_nCCICommandTimeout; }
  static int retryCount(const Impl& i) { return i.m_nRaidcomMaxRetryCount; }
  static int raidcomTimeout(const Impl& i) { return i.m_nRaidcomTimeoutInSecs; }
  static const std::string& tempDir(const Impl& i) { return i.m_sTempDir; }

  // Process-wide values (CCI version text, local host name).
  static void setCCIVersion(const std::string& v) { Impl::storeCCIVersion(v); }
  static void setLocalHostName(const std::string& n) {
    ZRHDSCommandImplementer::setLocalHostNameForTesting(n);
  }

  // Private helpers, for tests of the execution layer.
  static std::string commonParams(Impl& i, bool im, bool serial) {
    return i.getCommonParams(im, serial);
  }
  static int executeCommand(Impl& i, const std::string& c, const std::string& a, std::string& out,
                            int& ec) {
    return i.executeCommand(c, a, out, ec);
  }
  static int executeCommandMain(Impl& i, const std::string& c, const std::string& a,
                                std::string& out, int& ec) {
    return i.executeCommandMain(c, a, out, ec);
  }
  static int executeScriptFile(Impl& i, const std::string& s, std::string& out, int& ec) {
    return i.executeScriptFile(s, out, ec);
  }
  static int getCommandStatus(Impl& i, bool& hasError, std::string& text) {
    return i.getCommandStatus(hasError, text);
  }
  static int parseCommandStatus(const std::string& out, bool& hasError, std::string& text,
                                std::string& row) {
    return Impl::parseCommandStatus(out, hasError, text, row);
  }
  static std::string outputFileName(Impl& i) { return i.formatOutputFileName(); }
  static std::string inputFileName(Impl& i) { return i.formatInputFileName(); }
  static int getCCIVersionInstalled(Impl& i, std::string& v) { return i.getCCIVersionInstalled(v); }
  static bool parseRaidqry(const std::string& out, HDSRaidqryInfo& info) {
    return Impl::parseRaidqryOutput(out, info);
  }
  static int getCommandDeviceList(Impl& i, std::vector<std::string>& d) {
    return i.getCommandDeviceList(d);
  }
  static int formatCommandDeviceName(Impl& i) { return i.formatCommandDeviceName(); }
  static int checkIfCommandDeviceExist(Impl& i) { return i.CheckIfCommandDeviceExist(); }
  static int createHorcmFiles(Impl& i, const std::string& serial, bool force) {
    return i.createRaidcomHorcmFiles(serial, force);
  }
  static int readHorcmFiles(Impl& i, int n, std::set<std::string>& serials) {
    return i.readRaidcomHorcmFiles(n, serials);
  }
  static int horcmStart(Impl& i, const char* inst) { return i.horcmStart(inst); }
  static int horcmShutdown(Impl& i, const char* inst) { return i.horcmShutdown(inst); }
  static int removeHorcmFiles(Impl& i) { return i.removeHorcmFiles(); }
  static int saveFileAsLog(Impl& i, const std::string& p) { return i.saveFileAsLog(p); }
  static std::string horcmFilePath(int n) { return Impl::horcmFilePath(n); }
  static std::string horcmFileContent(const Impl& i, int n) { return i.buildHorcmFileContent(n); }
  static void scanSerials(const std::string& text, std::set<std::string>& s) {
    Impl::scanHorcmSerials(text, s);
  }
  static int validateInputParams(Impl& i) { return i.validateInputParams(); }
};

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSRAIDCOMTESTPEER_H
