// The operation frame shared by the exported functions.
#include "plugin/ZRSOFrame.h"

#include <cstdarg>
#include <cstdio>
#include <set>
#include <vector>

#include "host/EvDebug.h"
#include "remote/HDSRemoteTransport.h"
#include "util/HDSCLIUtils.h"

namespace zrso_frame {

std::string format(const char* fmt, ...) {
  char buffer[kMessageSize] = {0};
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buffer, sizeof(buffer), fmt, ap);
  va_end(ap);
  return std::string(buffer);
}

void logText(ZRSO::SnapInfo* device, int level, const char* function, const std::string& text) {
  if (device != nullptr) device->log(level, function, "%s", text.c_str());
}

void appendMetadataEntry(std::string& text, const char* key, const std::string& value) {
  text += key;
  text += ':';
  text += value;
  text += "**";
}

int recordedError(ZRSO::SnapInfo* device, std::string* text) {
  if (device == nullptr) return 0;
  int code = 0;
  char buffer[kMessageSize] = {0};
  device->getError(&code, buffer, kErrorTextCapacity);
  if (text != nullptr) *text = buffer;
  return code;
}

void recordUnlessErrored(ZRSO::SnapInfo* device, int code, const std::string& text,
                         ZRSO::SnapInfo* logDevice, const char* function) {
  if (recordedError(device) == 0) {
    SetError(device, code, text.c_str());
  } else {
    logText(logDevice, 0, function, text);
  }
}

bool refuseRepeatedDevices(ZRSO::SnapInfo** snaps, short count, int code, const char* function) {
  std::set<ZRSO::SnapInfo*> seen;
  bool refused = false;
  for (short i = 0; i < count; ++i) {
    if (seen.insert(snaps[i]).second) continue;
    char name[kMessageSize] = {0};
    short length = static_cast<short>(sizeof(name) - 1);
    if (snaps[i]->getSnapName(name, &length) != 0) name[0] = '\0';
    name[sizeof(name) - 1] = '\0';
    const std::string text =
        format("%s: The device object of snap [%s] is handed more than once in one call. Nothing "
               "was done.",
               function, name);
    logText(snaps[i], 2, function, text);
    SetError(snaps[i], code, text.c_str());
    refused = true;
  }
  return refused;
}

void groupByControlHost(ZRSO::SnapInfo** snaps, short count, int pendingStatus,
                        SnapGroupMap& groups) {
  for (short i = 0; i < count; ++i) {
    if (pendingStatus != 0) snaps[i]->setStatus(pendingStatus);
    groups[snaps[i]->getControlHostId()].push_back(snaps[i]);
  }
}

void onException(const char* function, ZRSO::SnapInfo** snaps, short count, int code,
                 const char* what) noexcept {
  try {
    const std::string text =
        format("%s: Unexpected failure [%s]", function, what != nullptr ? what : "");
    EvDebug::DebugLvl(function, -1, "%s", text.c_str());
    if (snaps == nullptr) return;
    bool logged = false;
    for (short i = 0; i < count; ++i) {
      ZRSO::SnapInfo* device = snaps[i];
      if (device == nullptr) continue;
      // Each device on its own: one host object that throws again must not
      // keep the others from getting their error.
      try {
        if (!logged) {
          logText(device, 2, function, text);
          logged = true;
        }
        if (code != 0 && recordedError(device) == 0) SetError(device, code, text.c_str());
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

GroupOutcome runGroup(const GroupRunner& runner, SnapGroup& group, short count,
                      ZRSO::ZROSUtil* util) {
  ZRSO::SnapInfo* rep = group.front();
  std::string mediaAgent;
  ZRHDSCLIUtils::getRemoteMAName(rep, mediaAgent);
  if (mediaAgent.empty()) {
    return runner.local(group, static_cast<short>(group.size()), util) == 0
               ? GroupOutcome::kDone
               : GroupOutcome::kLocalFailure;
  }
  std::string request;
  std::string response;
  if (!runner.buildRequest || !runner.exchange || !runner.readResponse) {
    SetError(rep, ZR_HDS_ERR_REMOTE_EXECUTION,
             format("No remote execution for media agent [%s].", mediaAgent.c_str()).c_str());
    return GroupOutcome::kRemoteFailure;
  }
  if (runner.buildRequest(rep, request) != 1) return GroupOutcome::kRemoteFailure;
  if (runner.exchange(rep, count, util, mediaAgent, runner.messageId, request, response) != 0) {
    return GroupOutcome::kRemoteFailure;
  }
  return runner.readResponse(rep, response) == 1 ? GroupOutcome::kRemoteFailure
                                                 : GroupOutcome::kDone;
}

LoopResult runGroupLoop(const LoopRules& rules, const GroupRunner& runner, SnapGroupMap& groups,
                        ZRSO::SnapInfo* first, short count, ZRSO::ZROSUtil* util) {
  LoopResult result;
  for (auto it = groups.begin(); it != groups.end(); ++it) {
    SnapGroup& group = it->second;
    const GroupOutcome outcome = runGroup(runner, group, count, util);
    if (outcome == GroupOutcome::kDone) continue;
    result.completed = false;
    result.failedDevices += static_cast<int>(group.size());
    if (outcome == GroupOutcome::kLocalFailure) {
      recordUnlessErrored(group.front(), rules.code,
                          format(rules.failureFormat, rules.function, it->first), first,
                          rules.function);
      if (rules.goOnAfterLocalFailure) continue;
    } else {
      result.remoteFailed = true;
    }
    // The loop ends here: the groups after this one are never reached.
    for (auto rest = std::next(it); rest != groups.end(); ++rest) {
      result.failedDevices += static_cast<int>(rest->second.size());
    }
    break;
  }
  return result;
}

}  // namespace zrso_frame
