// The installed CCI version (raidqry -h, cached per process) and the first
// row of the CCI host listing (raidqry -l).
#include <cstdlib>
#include <mutex>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSParseStatus.h"
#include "host/ZRSOSnapInfo.h"

namespace {

std::mutex& versionMutex() {
  static std::mutex m;
  return m;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "NN-NN-NN/NN", such as 01-40-03/01.
bool hasVersionShape(const std::string& v) {
  if (v.size() != 11) return false;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i == 2 || i == 5) {
      if (v[i] != '-') return false;
    } else if (i == 8) {
      if (v[i] != '/') return false;
    } else if (!isDigit(v[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ZRHDSRaidcomImplementer::m_sCCIVersion;

std::string ZRHDSRaidcomImplementer::getCCIVersion() {
  std::lock_guard<std::mutex> g(versionMutex());
  return m_sCCIVersion;
}

void ZRHDSRaidcomImplementer::storeCCIVersion(const std::string& version) {
  std::lock_guard<std::mutex> g(versionMutex());
  m_sCCIVersion = version;
}

int ZRHDSRaidcomImplementer::getCCIMinorVersion() {
  std::string v = getCCIVersion();
  if (!hasVersionShape(v)) return 0;
  return (v[3] - '0') * 10 + (v[4] - '0');
}

int ZRHDSRaidcomImplementer::getCCIVersionInstalled(std::string& version) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getCCIVersionInstalled";
  std::string cached = getCCIVersion();
  if (!cached.empty()) {
    version = cached;
    logMessage(0, kFn, "CCI Version-[%s] is installed", cached.c_str());
    return 0;
  }
  std::string output;
  int exitCode = 0;
  if (executeCommand("raidqry ", " -h ", output, exitCode) != 0) {
    logMessage(2, kFn, "Failed to get the CCI version installed.");
    return 1;
  }
  size_t p = output.find("Ver&Rev");
  if (p == std::string::npos) {
    const std::string text =
        "Failed to get version of CCI command installed. Please check output of 'raidqry -h' "
        "command. Output doesn't contain 'Ver&Rev' string.";
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, kFn, "%s", text.c_str());
  }
  std::string found = p + 9 <= output.size() ? output.substr(p + 9, 11) : std::string();
  // Every reader takes the minor version from fixed positions: only a text
  // of the NN-NN-NN/NN shape is kept.
  if (!hasVersionShape(found)) {
    const std::string text =
        "Failed to get version of CCI command installed. Please check output of 'raidqry -h' "
        "command. The version after 'Ver&Rev' is not of the form NN-NN-NN/NN.";
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, kFn, "%s Found-[%s]", text.c_str(),
                      found.c_str());
  }
  {
    // Two threads may both have missed the cache; both read the same tools.
    std::lock_guard<std::mutex> g(versionMutex());
    if (m_sCCIVersion.empty()) m_sCCIVersion = found;
    version = m_sCCIVersion;
  }
  logMessage(0, kFn, "Found CCI version-[%s] installed.", version.c_str());
  return 0;
}

bool ZRHDSRaidcomImplementer::parseRaidqryOutput(const std::string& output, HDSRaidqryInfo& info) {
  return hdsparse::parseRaidqryList(output, info);
}

int ZRHDSRaidcomImplementer::getCCIRaidqryInfo(HDSRaidqryInfo& info) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getCCIRaidqryInfo";
  const std::string text = "Failed to get Hostname used by the CCI";
  // The host the CCI names and the array's microcode stay as they are for
  // the length of a job.
  if (m_bRaidqryKnown) {
    info = m_oRaidqry;
    return 0;
  }
  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidqry ", " -l " + getCommonParams(true, true), output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, kFn, "%s", text.c_str());
  }
  if (!parseRaidqryOutput(output, info)) {
    // Without a data row there is neither a host name nor a microcode
    // version to check.
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, kFn, "%s. No data row in the output-[%s]",
                      text.c_str(), output.c_str());
  }
  m_oRaidqry = info;
  m_bRaidqryKnown = true;
  return 0;
}
