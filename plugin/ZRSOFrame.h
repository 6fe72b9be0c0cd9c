#pragma once
// The shared shape of the exported operations: the exception barrier, the
// grouping of devices by control host, the per-group choice between the
// local worker and a remote media agent, the recording of a group's failure
// and the fold of the devices' statuses.
#include <cstddef>
#include <exception>
#include <functional>
#include <string>

#include "plugin/ZRSOZrHDSCLI.h"
#include "util/ZRHDSIntentRecord.h"

namespace zrso_frame {

// Size of the message buffers of the entry layer (texts are cut to fit).
constexpr std::size_t kMessageSize = 2048;
// Capacity granted to the host when it hands out a recorded error text.
constexpr int kErrorTextCapacity = 2047;

// printf into a text of at most kMessageSize - 1 bytes.
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs text through device (may be null) as data, never as a format.
void logText(ZRSO::SnapInfo* device, int level, const char* function, const std::string& text);

// Longest unique-metadata text stored on a device.
constexpr std::size_t kMaxMetadataText = 4095;

// Appends one stored-metadata entry: key, ":", value, "**".
void appendMetadataEntry(std::string& text, const char* key, const std::string& value);

// The error code the device holds (0: none recorded yet); text (may be null)
// receives the recorded text.
int recordedError(ZRSO::SnapInfo* device, std::string* text = nullptr);

// Records (code, text) on device when it holds no error code yet; otherwise
// the earlier, more precise error stays and text is logged at level 0
// through logDevice.
void recordUnlessErrored(ZRSO::SnapInfo* device, int code, const std::string& text,
                         ZRSO::SnapInfo* logDevice, const char* function);

// Refuses a call that hands one device object more than once (its work
// would be done twice, or one record would stand for two sources): each
// such device gets code and a text naming function and the device, before
// anything else is done. True when the call is refused.
bool refuseRepeatedDevices(ZRSO::SnapInfo** snaps, short count, int code, const char* function);

// Appends each device, in array order, to its control host's group; sets
// pendingStatus first unless it is 0.
void groupByControlHost(ZRSO::SnapInfo** snaps, short count, int pendingStatus,
                        SnapGroupMap& groups);

// Called by the barrier for an exception that reached an exported function:
// records code with a text naming function and what on every device of the
// array that holds no error code yet (code 0: only logs). Never throws.
void onException(const char* function, ZRSO::SnapInfo** snaps, short count, int code,
                 const char* what) noexcept;

// The exception barrier of every exported function: body's result, or 1
// after onException when anything is thrown. The call's jobs close their
// intent records as it ends, right before it returns.
template <class Body>
int guarded(const char* function, ZRSO::SnapInfo** snaps, short count, int code,
            Body&& body) noexcept {
  ZRHDSIntentCallScope records;
  try {
    return body();
  } catch (const std::exception& e) {
    onException(function, snaps, count, code, e.what());
  } catch (...) {
    onException(function, snaps, count, code, "unknown exception");
  }
  return 1;
}

// How one group runs: the local worker, or the exchange with a remote media
// agent (request built from the representative, response read back).
struct GroupRunner {
  std::function<int(SnapGroup& group, short count, ZRSO::ZROSUtil* util)> local;
  unsigned int messageId = 0;
  // 1 when the request was built.
  std::function<int(ZRSO::SnapInfo* rep, std::string& request)> buildRequest;
  // 0 done, 1 failed or unreadable, 2 partly done.
  std::function<int(ZRSO::SnapInfo* rep, const std::string& response)> readResponse;
  // Carries request to the media agent and back: 0 with a response, 1 after
  // recording the transport's failure on rep.
  std::function<int(ZRSO::SnapInfo* rep, short count, ZRSO::ZROSUtil* util,
                    const std::string& mediaAgent, unsigned int messageId, std::string& request,
                    std::string& response)>
      exchange;
};

// The runner with the basic request and response of messageId, carried by
// the remote execution transport.
GroupRunner basicRunner(
    std::function<int(SnapGroup& group, short count, ZRSO::ZROSUtil* util)> local,
    unsigned int messageId);

// The runner of a map or unmap: the map/unmap request from params, and a
// response that extends params' mapped-snap list. params must outlive it.
GroupRunner mapUnmapRunner(
    std::function<int(SnapGroup& group, short count, ZRSO::ZROSUtil* util)> local,
    unsigned int messageId, ZRMapInitiatorParams& params);

enum class GroupOutcome { kDone, kLocalFailure, kRemoteFailure };

// Runs group here, or on the remote media agent configured for its
// representative (its first device). count is the call's whole count, handed
// to the transport.
GroupOutcome runGroup(const GroupRunner& runner, SnapGroup& group, short count,
                      ZRSO::ZROSUtil* util);

// What an entry point does with a failing group.
struct LoopRules {
  const char* function;       // the export's name, for messages and logs
  const char* failureFormat;  // "%s: Failed to ... for the Control Host [%d]"
  int code;                   // recorded on the representative
  bool goOnAfterLocalFailure = false;
};

struct LoopResult {
  bool completed = true;  // every group ran and none failed
  bool remoteFailed = false;
  // Devices of failed groups, plus those of the groups never reached.
  int failedDevices = 0;
};

// Runs the groups in ascending control-host id. A failing local group gets
// rules.code and the failure message on its representative (unless it holds
// an error already) and ends the loop unless goOnAfterLocalFailure; a failing
// remote group always ends the loop (the transport recorded its error).
LoopResult runGroupLoop(const LoopRules& rules, const GroupRunner& runner, SnapGroupMap& groups,
                        ZRSO::SnapInfo* first, short count, ZRSO::ZROSUtil* util);

}  // namespace zrso_frame
