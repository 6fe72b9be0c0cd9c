// Helpers shared by the handler's operation files. Internal to handler/.
#ifndef ZR_HANDLER_HDSCOMMANDHANDLERINTERNAL_H
#define ZR_HANDLER_HDSCOMMANDHANDLERINTERNAL_H

#include <string>

#include "records/HDSRecords.h"

namespace zrhds_handler {

// Section of the plug-in's settings.
constexpr const char kSettingsSection[] = "~Tessavon";

// Key of a snapshot pair within one group: LDEV "-" MU (for example 256-3).
inline std::string pairKey(const std::string& ldev, const std::string& mu) {
  return ldev + "-" + mu;
}
inline std::string pairKey(const HDSSnapshotGroupInfo& row) {
  return pairKey(row.ldevId, row.muNumber);
}

}  // namespace zrhds_handler

#endif  // ZR_HANDLER_HDSCOMMANDHANDLERINTERNAL_H
