// LDEV queries: one LDEV at a time (getLdevInfo), filtered listings
// (getLdevList) and the highest LDEV id of the array (getMaxLdevNumber),
// with the member forms of the LDEV listing parser.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>

#include "array/HDSParseLdev.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"

namespace {

const char kGetLdev[] = "raidcom  get ldev ";
// One listing of listLdevsAt spans fewer ids than this (a CU's worth), so
// that scattered ids never list long stretches of ids nobody asked for.
constexpr long kListedIdGap = 256;
// Exit code of an LDEV listing that matched nothing.
constexpr int kExitNoDevice = ZR_HDS_EXIT_NO_DEVICE;
constexpr int kCciMinorWithModelCode = 31;
// Ids one listing may span ("-cnt" of the array).
constexpr int kMaxListedIds = 65280;

// Reads "<hex>-<hex>" strictly (both parts non-empty hexadecimal, no sign or
// blanks); false otherwise or when a part exceeds the LDEV id space.
bool parseHexRange(const std::string& text, long& first, long& last) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == text.size()) return false;
  auto hex = [](const std::string& s, long& out) {
    if (s.empty() || s.size() > 6) return false;
    for (char c : s) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
        return false;
      }
    }
    out = std::strtol(s.c_str(), nullptr, 16);
    return true;
  };
  return hex(text.substr(0, dash), first) && hex(text.substr(dash + 1), last);
}

}  // namespace

int ZRHDSRaidcomImplementer::parseGetLdevOutput(const std::string& output,
                                                std::vector<HDSLdevInfo>& ldevs,
                                                const std::map<int, std::string>& filter) {
  std::string_view label;
  auto it = filter.find(HDS_LDEV_FILTER_LABEL);
  if (it != filter.end()) label = it->second;
  hdsparse::parseGetLdevOutput(output, ldevs, label);
  return 1;
}

int ZRHDSRaidcomImplementer::parsePortList(const std::string& line, std::vector<HDSLunInfo>& luns) {
  return hdsparse::parsePortList(line, luns);
}

int ZRHDSRaidcomImplementer::volumeAttributeMap(const std::string& attribute) {
  return hdsparse::volumeAttributeMap(attribute);
}

int ZRHDSRaidcomImplementer::getLdevInfo(std::vector<HDSLdevInfo>& ldevs) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getLdevInfo";
  if (ldevs.size() > 1) return getLdevInfoListed(ldevs);
  int read = 0;
  for (HDSLdevInfo& entry : ldevs) {
    if (!HDSShell::isDecimal(entry.ldevId)) {
      refuseInvalidInput(kFn, "LDEV", entry.ldevId);
      continue;
    }
    std::string output;
    int exitCode = 0;
    if (executeCommandMain(kGetLdev, " -ldev_id " + entry.ldevId + getCommonParams(true, true),
                           output, exitCode) != 0) {
      logMessage(2, kFn, "Failed to query info for LDEV-[%s]", entry.ldevId.c_str());
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to query LDEV info.");
      continue;
    }
    std::vector<HDSLdevInfo> parsed;
    hdsparse::parseGetLdevOutput(output, parsed, std::string_view());
    // An output without any LDEV block counts as not read.
    const HDSLdevInfo empty;
    const HDSLdevInfo& got = parsed.empty() ? empty : parsed.front();
    // The command names the physical LDEV and array, which the parser puts
    // in ldevId and serial in both forms of the listing.
    if (got.ldevId != entry.ldevId || got.serial != entry.serial) {
      logMessage(2, kFn, "Failed to query info for LDEV-[%s]. Got LDEV-[%s:%s]",
                 entry.ldevId.c_str(), got.ldevId.c_str(), got.serial.c_str());
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to query LDEV info.");
      continue;
    }
    entry = std::move(parsed.front());
    ++read;
  }
  logMessage(0, kFn, "Successfully queried [%d/%d] LDEV information.", read,
             static_cast<int>(ldevs.size()));
  if (read == 0) {
    if (ldevs.empty()) setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to query LDEV info.");
    return 1;
  }
  return read == static_cast<int>(ldevs.size()) ? 0 : 2;
}

int ZRHDSRaidcomImplementer::getLdevSpan(int first, int count, std::vector<HDSLdevInfo>& ldevs) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getLdevSpan";
  const long last = static_cast<long>(first) + count - 1;
  if (first < 0 || count < 1 || count > kMaxListedIds || last > ZR_HDS_DEFAULT_MAX_LDEV_NUMBER) {
    return refuseInvalidInput(kFn, "LDEV span", std::to_string(first) + "+" + std::to_string(count));
  }
  const std::string failure =
      "Failed to list the LDEVs " + std::to_string(first) + " to " + std::to_string(last) + ".";
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(kGetLdev,
                         " -ldev_id " + std::to_string(first) + " -cnt " + std::to_string(count) +
                             getCommonParams(true, true),
                         output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn, "%s Exit-[%d]", failure.c_str(),
                      exitCode);
  }
  std::vector<HDSLdevInfo> listed;
  hdsparse::parseGetLdevOutput(output, listed, std::string_view());
  // Every block names an id of the span on the bound array, once.
  std::set<std::string> seen;
  for (const HDSLdevInfo& row : listed) {
    const bool inSpan = HDSShell::isDecimal(row.ldevId) && row.ldevId.size() <= 5 &&
                        std::stol(row.ldevId) >= first && std::stol(row.ldevId) <= last;
    if (!inSpan || row.serial != m_oSnapOptions.baseSerialNum || !seen.insert(row.ldevId).second) {
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn, "%s LDEV-[%s:%s] %s",
                        failure.c_str(), row.serial.c_str(), row.ldevId.c_str(),
                        hdscols::kNotTheListing);
    }
  }
  if (listed.empty()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn, "%s %s Output-[%s]",
                      failure.c_str(), hdscols::kNotTheListing, output.c_str());
  }
  ldevs.insert(ldevs.end(), std::make_move_iterator(listed.begin()),
               std::make_move_iterator(listed.end()));
  return 0;
}

int ZRHDSRaidcomImplementer::getLdevList(std::vector<HDSLdevInfo>& ldevs,
                                         const std::map<int, std::string>& filter) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getLdevList";
  std::string options;

  // The kind of LDEV, first present key wins; without one the listing names
  // ids (range mode).
  static const struct {
    int key;
    const char* option;
  } kKinds[] = {
      {HDS_LDEV_FILTER_UNDEFINED, " -ldev_list undefined "},
      {HDS_LDEV_FILTER_UNMAPPED, " -ldev_list unmapped "},
      {HDS_LDEV_FILTER_MAPPED, " -ldev_list mapped "},
      {HDS_LDEV_FILTER_DEFINED, " -ldev_list defined"},
      {HDS_LDEV_FILTER_QUORUM, " -ldev_list quorum"},
  };
  bool rangeMode = true;
  for (const auto& kind : kKinds) {
    if (filter.count(kind.key) != 0) {
      options = kind.option;
      rangeMode = false;
      break;
    }
  }

  if (rangeMode) {
    auto range = filter.find(HDS_LDEV_FILTER_RANGE);
    // A listing of nothing in particular is no command the tool takes.
    if (range == filter.end()) return refuseInvalidInput(kFn, "LDEV range", "");
    const std::string& value = range->second;
    if (value.find('-') == std::string::npos) {
      if (!HDSShell::isDecimal(value) || value.size() > 5) {
        return refuseInvalidInput(kFn, "CU", value);
      }
      const long cu = std::strtol(value.c_str(), nullptr, 10);
      options += " -ldev_id " + std::to_string(cu * 256) + " -cnt 256 ";
    } else {
      long first = 0;
      long last = 0;
      if (!parseHexRange(value, first, last) || last < first) {
        return refuseInvalidInput(kFn, "LDEV range", value);
      }
      options +=
          " -ldev_id " + std::to_string(first * 256) + " -cnt " + std::to_string(last - first + 1);
    }
  }

  auto pool = filter.find(HDS_LDEV_FILTER_POOL);
  if (pool != filter.end()) {
    if (pool->second.empty() || !HDSShell::isLineSafe(pool->second)) {
      return refuseInvalidInput(kFn, "Pool", pool->second);
    }
    if (rangeMode) options += " pool ";
    options += " -pool_id " + HDSShell::quote(pool->second);
  }
  auto resource = filter.find(HDS_LDEV_FILTER_RESOURCE);
  if (resource != filter.end()) {
    if (resource->second.empty() || !HDSShell::isLineSafe(resource->second)) {
      return refuseInvalidInput(kFn, "Resource Group", resource->second);
    }
    options += " -resource " + HDSShell::quote(resource->second);
  }

  std::string output;
  int exitCode = 0;
  if (executeCommandMain(kGetLdev, options + getCommonParams(true, true), output, exitCode) == 0) {
    std::vector<HDSLdevInfo> listed;
    size_t blocks = 0;
    auto label = filter.find(HDS_LDEV_FILTER_LABEL);
    hdsparse::parseGetLdevOutput(output, listed,
                                 label == filter.end() ? std::string_view() : label->second,
                                 &blocks);
    if (blocks == 0 && !hdscols::isBlankText(output)) {
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the LDEV list form the array.",
                        kFn, "%s Output-[%s]", hdscols::kNotTheListing, output.c_str());
    }
    ldevs.insert(ldevs.end(), std::make_move_iterator(listed.begin()),
                 std::make_move_iterator(listed.end()));
    return 0;
  }
  if (exitCode == kExitNoDevice) {
    // Nothing matched: an empty listing, not a failure.
    setErrorCodeString(0, "");
    return 0;
  }
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the LDEV list form the array.", kFn,
                    "Failed to get the LDEV list from the array.");
}

// Several LDEVs are read with the listings of listLdevsAt (one per run of
// nearby ids) instead of one query each; the outcome is as getLdevInfo's.
int ZRHDSRaidcomImplementer::getLdevInfoListed(std::vector<HDSLdevInfo>& ldevs) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getLdevInfo";
  std::vector<std::string> ids;
  for (const HDSLdevInfo& entry : ldevs) {
    if (HDSShell::isDecimal(entry.ldevId) && entry.ldevId.size() <= 5) {
      ids.push_back(entry.ldevId);
    } else {
      refuseInvalidInput(kFn, "LDEV", entry.ldevId);
    }
  }
  std::map<std::string, HDSLdevInfo> listed;
  const SavedError before = saveError();
  if (!ids.empty()) listLdevsAt(ids, listed);  // a failed run leaves its ids out
  int read = 0;
  for (HDSLdevInfo& entry : ldevs) {
    const auto it = listed.find(entry.ldevId);
    // The listing names the physical LDEV and array in ldevId and serial.
    if (it == listed.end() || it->second.serial != entry.serial) {
      logMessage(2, kFn, "Failed to query info for LDEV-[%s]", entry.ldevId.c_str());
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to query LDEV info.");
      continue;
    }
    entry = it->second;
    ++read;
  }
  logMessage(0, kFn, "Successfully queried [%d/%d] LDEV information.", read,
             static_cast<int>(ldevs.size()));
  if (read == static_cast<int>(ldevs.size())) restoreError(before);
  return read == 0 ? 1 : read == static_cast<int>(ldevs.size()) ? 0 : 2;
}

int ZRHDSRaidcomImplementer::listLdevsAt(const std::vector<std::string>& ids,
                                         std::map<std::string, HDSLdevInfo>& listed) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::listLdevsAt";
  std::set<long> wanted;
  for (const std::string& id : ids) {
    if (!HDSShell::isDecimal(id) || id.size() > 5) return refuseInvalidInput(kFn, "LDEV", id);
    wanted.insert(std::strtol(id.c_str(), nullptr, 10));
  }
  int result = 0;
  for (auto next = wanted.begin(); next != wanted.end();) {
    const long first = *next;
    long last = first;
    while (next != wanted.end() && *next - first < kListedIdGap) last = *next++;
    std::vector<HDSLdevInfo> rows;
    if (getLdevSpan(static_cast<int>(first), static_cast<int>(last - first + 1), rows) != 0) {
      result = 1;  // the other runs are still read
      continue;
    }
    for (HDSLdevInfo& row : rows) listed[row.ldevId] = std::move(row);
  }
  return result;
}

int ZRHDSRaidcomImplementer::getMaxLdevNumber(int& maxLdev) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getMaxLdevNumber";
  maxLdev = ZR_HDS_FALLBACK_MAX_LDEV_NUMBER;

  int candidate = ZR_HDS_DEFAULT_MAX_LDEV_NUMBER;
  if (getCCIMinorVersion() > kCciMinorWithModelCode) {
    std::map<std::string, ResourceGroupInfo> groups;
    if (getResourceGroupInfo(groups, true) != 0) return 1;
    // With the key option the owner column holds the model code.
    auto meta = groups.find(ZR_HDS_META_RESOURCE);
    const std::string code = meta == groups.end() ? std::string() : meta->second.lockOwner;
    const HDSArrayTypes* row = findHDSArrayType(code);
    if (row == nullptr) {
      return failLogged(
          ZR_HDS_ERR_ARRAY_COMMAND,
          "Max LDEV number is not specified in the local table for Array Code-[" + code + "].", kFn,
          "Max LDEV number is not specified in the local table for Array Code-[%s].", code.c_str());
    }
    if (row->maxLdevNumber != 0) candidate = row->maxLdevNumber;
  }

  char number[32];
  std::snprintf(number, sizeof(number), "%d ", candidate);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(kGetLdev,
                         std::string(" -ldev_id ") + number + " " + getCommonParams(true, true),
                         output, exitCode) == 0) {
    logMessage(0, kFn, "Maximum LDEV number-[%d]", candidate);
    maxLdev = candidate;
    return 0;
  }
  // The fallback never lies beyond the model's own highest id.
  const int fallback =
      candidate < ZR_HDS_FALLBACK_MAX_LDEV_NUMBER ? candidate : ZR_HDS_FALLBACK_MAX_LDEV_NUMBER;
  logMessage(1, kFn, "Failed to query ldev [%d]. Will use [%d] as maximum ldev number.", candidate,
             fallback);
  maxLdev = fallback;
  return 0;
}
