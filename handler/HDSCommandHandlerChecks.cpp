// Checks of the job's source LDEVs and of its Thin Image pool.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"

namespace {

using zrhds_handler::upper;

using namespace zrhds_handler;

// Pool usage (percent) from which a pool is refused.
constexpr int kPoolUsageLimit = 95;
// A pool text of fewer characters than this, all digits, is a pool id.
constexpr size_t kPoolIdMaxLength = 4;
constexpr int kErrorLdevInfo = 4;
constexpr int kErrorPool = 6;

bool isPoolId(const std::string& text) {
  return !text.empty() && text.size() < kPoolIdMaxLength &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Decimal value of an all-digit id text; -1 when it is not one.
long idValue(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
  }
  return std::stol(text);
}

}  // namespace

bool ZRHDSCommandHandler::checkAndVerifySourceDevices(std::vector<HDSLdevInfo>& ldevs) {
  static const char* const kFn = "checkAndVerifySourceDevices";
  std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  const size_t first = ldevs.size();
  for (const ZRHDSSnapInfo& snap : snaps) {
    HDSLdevInfo ldev;
    ldev.serial = snap.baseSerialNo;
    ldev.ldevId = snap.baseDevNo;
    ldevs.push_back(ldev);
  }
  // The query fills the records it is given; only this call's are passed.
  std::vector<HDSLdevInfo> query(ldevs.begin() + first, ldevs.end());
  if (m_pImplementer->getLdevInfo(query) != 0) {
    return copyImplementerErrorOr(kErrorLdevInfo, "Failed to get LDEV information for devices");
  }
  std::copy(query.begin(), query.end(), ldevs.begin() + first);

  const int unmask = readSetting("nZRHDSSourceLdevUnmask", 0);
  const int mask = readSetting("nZRHDSSourceLdevMask", 0);
  for (const HDSLdevInfo& ldev : query) {
    if ((ldev.volAttr & kLdevAttrUndefined) != 0 || ldev.volType == kVolTypeUndefined) {
      logMessage(2, kFn, "Unable to find the LDEV-[%s] in the array-[%s]", ldev.ldevId.c_str(),
                 ldev.serial.c_str());
      return fail(ZR_HDS_ERR_PREPARE, "Unable to find the LDEV-[" + ldev.ldevId +
                                          "] in the array [" + ldev.serial + "]");
    }
    const int attributes = ldev.volAttr & ~unmask;
    if ((attributes & (kLdevAttrRefusedSource | mask)) != 0) {
      logMessage(2, kFn,
                 "Snap/Clone of Command, LUSE, V-VOL, Journal, Pool or System Volume [%s] is not "
                 "supported",
                 ldev.ldevId.c_str());
      return fail(ZR_HDS_ERR_PREPARE,
                  "Snap / Clone of Command, LUSE, V - VOL, Journal, Pool or System Volume[" +
                      ldev.ldevId + "] is not supported");
    }
    if ((attributes & kLdevAttrGad) != 0) {
      logMessage(1, kFn, "The LDEV-[%s] is part of a GAD pair.", ldev.ldevId.c_str());
    }
    for (ZRHDSSnapInfo& snap : snaps) {
      if (snap.baseDevNo == ldev.ldevId) snap.capacity = ldev.capacityBlocks;
    }
  }

  ZRHDSSnapOptions& options = *m_pSnapOptions;
  if (options.preSnapPort.empty() && !query.empty() && !query.front().ports.empty()) {
    const std::string& port = query.front().ports.front().port;
    logMessage(1, kFn, "Using port-[%s] for PreSnap-HostGroup.", port.c_str());
    options.preSnapPort = port;
  }
  return true;
}

bool ZRHDSCommandHandler::checkAndVerifyPoolStatus() {
  static const char* const kFn = "checkAndVerifyPoolStatus";
  std::string& pool = m_pSnapOptions->pool;
  if (pool.empty()) return true;
  pool.erase(std::remove_if(pool.begin(), pool.end(),
                            [](unsigned char c) { return std::isspace(c) != 0; }),
             pool.end());
  if (pool.empty()) {
    logMessage(2, kFn, "Invalid Pool name was entered.");
    return fail(kErrorPool, "Invalid Pool name was entered.");
  }

  std::vector<HDSPoolInfo> pools;
  if (m_pImplementer->getPoolList(pools) != 0) {
    return copyImplementerErrorOr(kErrorPool, "Failed to get Pool-" + pool + " information.");
  }

  // An id is matched against the ids of the whole list before any name, so
  // a pool named like another pool's id cannot take its place.
  const HDSPoolInfo* found = nullptr;
  if (isPoolId(pool)) {
    const long wanted = idValue(pool);
    for (const HDSPoolInfo& p : pools) {
      if (idValue(p.poolId) == wanted) {
        found = &p;
        break;
      }
    }
  }
  if (found == nullptr) {
    pool = upper(pool);
    for (const HDSPoolInfo& p : pools) {
      if (upper(p.poolName) == pool) {
        found = &p;
        break;
      }
    }
  }
  if (found == nullptr) {
    logMessage(2, kFn, "Pool-[%s] was not found.", pool.c_str());
    return fail(kErrorPool, "Pool " + pool + " was not found.");
  }
  const long id = idValue(found->poolId);
  pool = id < 0 ? found->poolId : std::to_string(id);

  if (found->status != ZR_HDS_POOL_STATUS_NORMAL) {
    logMessage(2, kFn, "Pool-[%s] with status-[%s] cannot be used.", pool.c_str(),
               found->status.c_str());
    return fail(kErrorPool, "Pool " + pool + " with status " + found->status + " cannot be used.");
  }
  if (readSetting("nZRHDSDoNotCheckForPoolUsage", 0) == 0 &&
      found->usagePercent >= kPoolUsageLimit) {
    logMessage(2, kFn, "Pool-[%s] with Usage-[%d] cannot be used. ThreshHold-[%d]", pool.c_str(),
               found->usagePercent, found->thresholdPercent);
    return fail(kErrorPool, "Pool " + pool + " with Usage " + std::to_string(found->usagePercent) +
                                "cannot be used");
  }
  return true;
}
