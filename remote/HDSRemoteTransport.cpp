// Remote execution transport through metadata 61 and 60 of the sending
// device and the host's executeOnRemoteMA.
#include "remote/HDSRemoteTransport.h"

#include <cstdio>
#include <string>
#include <vector>

#include "records/HDSConstants.h"
#include "remote/HDSRemoteMessages.h"
#include "util/HDSCLIUtils.h"

namespace ZRHDSCLIUtils {
namespace {

const char kExecFn[] = "ZRHDSCLIUtils::ExecuteOnRemoteMA";
const char kSetting[] = "Setting Metadata : Type-[%d], Metadata-[%s]";

// Records 62012 with text, whose %s is the function name and %d (if any)
// the metadata id.
void exchangeFailed(ZRSO::SnapInfo* device, const char* format, int id = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, kExecFn, id);
  SetError(device, ZR_HDS_ERR_REMOTE_EXECUTION, text);
}

// Longest message id text: two decimal digits.
constexpr size_t kMessageIdDigits = 2;
// Bytes granted for reading metadata 61: room for more than an id, so that
// a longer text is seen whole and refused rather than cut into an id.
constexpr short kMessageIdGrant = 15;

// A message id as metadata 61 holds it: the whole text, one or two decimal
// digits, naming a known operation; -1 for anything else.
short parseMessageId(const std::string& text) {
  if (text.empty() || text.size() > kMessageIdDigits) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return isRemoteMessageId(value) ? static_cast<short>(value) : -1;
}

}  // namespace

int ExecuteOnRemoteMA(ZRSO::SnapInfo* device, short /*count*/, ZRSO::ZROSUtil* util,
                      std::string mediaAgentName, unsigned int messageId, std::string& request,
                      std::string& response) {
  if (device == nullptr || util == nullptr) return 1;
  char idText[16];
  std::snprintf(idText, sizeof idText, "%d", static_cast<int>(messageId));
  device->log(1, kExecFn, kSetting, HDS_METADATA_REMOTE_MESSAGE_ID, idText);
  device->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE_ID, idText);
  if (!request.empty()) {
    device->log(1, kExecFn, kSetting, HDS_METADATA_REMOTE_MESSAGE, request.c_str());
    device->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE, request.c_str());
  } else {
    // An older request must not travel with this id.
    device->log(1, kExecFn, kSetting, HDS_METADATA_REMOTE_MESSAGE, "");
    device->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE, nullptr);
  }

  device->log(1, kExecFn, "<<<< BEGIN EXEC_ON_REMOTE_MA [%s]. >>>>", mediaAgentName.c_str());
  const bool sent = util->executeOnRemoteMA(mediaAgentName);
  device->log(1, kExecFn, "<<<< END EXEC_ON_REMOTE_MA [%s], Return [%s] >>>>",
              mediaAgentName.c_str(), sent ? "SUCCESS" : "FAIL");
  if (!sent) {
    exchangeFailed(device, "%s: Failed to execute on remote MA.");
    return 1;
  }

  std::string text;
  switch (readRemoteMessage(device, text)) {
    case HDS_REMOTE_READ_OK:
      response = text;
      device->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE_ID, nullptr);
      device->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE, nullptr);
      return 0;
    case HDS_REMOTE_READ_EMPTY:
      exchangeFailed(device, "%s: Empty response received from remote MA.");
      return 1;
    default:
      exchangeFailed(device, "%s: Failed to get remote metadata type [%d].",
                     HDS_METADATA_REMOTE_MESSAGE);
      return 1;
  }
}

int readRemoteMessage(ZRSO::SnapInfo* device, std::string& text) {
  if (device == nullptr) return HDS_REMOTE_READ_FAILED;
  int length = 0;
  // The result of the length query is not what counts: a host that cannot
  // tell leaves the length at 0.
  device->getMetadataBlob(HDS_METADATA_REMOTE_MESSAGE, nullptr, &length);
  if (length == 0) return HDS_REMOTE_READ_EMPTY;
  if (length < 0 || length > HDS_REMOTE_MESSAGE_MAX_LENGTH) return HDS_REMOTE_READ_FAILED;
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  int capacity = length;
  if (device->getMetadataBlob(HDS_METADATA_REMOTE_MESSAGE, buffer.data(), &capacity) != 0)
    return HDS_REMOTE_READ_FAILED;
  buffer[static_cast<std::size_t>(length)] = '\0';
  if (buffer[0] == '\0') return HDS_REMOTE_READ_EMPTY;
  text.assign(buffer.data());
  return HDS_REMOTE_READ_OK;
}

int findRemoteMessageDevice(ZRSO::SnapInfo** devices, short count, short& id) {
  if (devices == nullptr) return -1;
  for (short i = 0; i < count; ++i) {
    if (devices[i] == nullptr) continue;
    char text[kMessageIdGrant + 1] = {0};
    short capacity = kMessageIdGrant;
    devices[i]->getMetadata(HDS_METADATA_REMOTE_MESSAGE_ID, text, &capacity);
    text[kMessageIdGrant] = '\0';
    if (text[0] == '\0') continue;
    id = parseMessageId(text);
    return i;
  }
  return -1;
}

}  // namespace ZRHDSCLIUtils
