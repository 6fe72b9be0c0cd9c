#pragma once
// Remote execution transport: a request travels in metadata 61 (the message
// id as decimal text) and 60 (the request JSON) of the sending device; the
// host's ZROSUtil::executeOnRemoteMA has the plug-in on the named media
// agent run it (zrso_execSnapEngineOp there), and the response comes back
// in metadata 60 of the same device. Which media agent a group goes to is
// ZRHDSCLIUtils::getRemoteMAName (util/HDSCLIUtils.h); an empty name runs
// the group here.
//
// The receiving side uses findRemoteMessageDevice and readRemoteMessage to
// take the request off its own devices.
#include <string>

#include "host/ZRSOSnapInfo.h"

// Every failure of an exchange is recorded on the sending device with this
// code.
constexpr int ZR_HDS_ERR_REMOTE_EXECUTION = 62012;

// A message text the host reports as longer than this is refused before
// anything is allocated for it. The largest real message, the map response
// of a full device array, stays far below.
constexpr int HDS_REMOTE_MESSAGE_MAX_LENGTH = 16 << 20;

// Results of readRemoteMessage.
constexpr int HDS_REMOTE_READ_OK = 0;
constexpr int HDS_REMOTE_READ_EMPTY = 1;   // nothing stored
constexpr int HDS_REMOTE_READ_FAILED = 2;  // the host refused, or the length is out of bounds

namespace ZRHDSCLIUtils {

// Sends request with messageId to the media agent and reads the response.
// 0: the response (not empty) is in response and metadata 61 and 60 of the
// device are cleared. 1: the exchange failed; 62012 is recorded on the
// device (nothing when device or util is null) and metadata 61 and 60 keep
// what was last written. An empty request clears metadata 60, so that no
// earlier request goes out again. count is not used.
int ExecuteOnRemoteMA(ZRSO::SnapInfo* device, short count, ZRSO::ZROSUtil* util,
                      std::string mediaAgentName, unsigned int messageId, std::string& request,
                      std::string& response);

// The text of metadata 60 of device, up to its first zero byte, into text
// (replaced only on HDS_REMOTE_READ_OK). The length the host reports is
// checked (1 to HDS_REMOTE_MESSAGE_MAX_LENGTH) before the buffer is made.
int readRemoteMessage(ZRSO::SnapInfo* device, std::string& text);

// Index of the first of count devices whose metadata 61 is not empty, with
// id := its message id; -1 when none carries one. Only the whole text of
// one or two decimal digits naming a known operation is an id: any other
// text ("1234", "0012", "100", "13", "-1") gives id -1, which no receiver
// accepts.
int findRemoteMessageDevice(ZRSO::SnapInfo** devices, short count, short& id);

}  // namespace ZRHDSCLIUtils
