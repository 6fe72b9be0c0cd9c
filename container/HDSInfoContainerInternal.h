#pragma once
// Helpers shared by the container's units. Internal to container/.
#include <cstddef>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"
#include "records/HDSConstants.h"

// Logs through the container's logger (the first device) under
// "ZRHDSInfoContainer::" + method; method must be a string literal.
#define ZRHDS_CONTAINER_LOG(level, method, ...)                                                    \
  do {                                                                                             \
    if (m_pLogger != nullptr) m_pLogger->log((level), "ZRHDSInfoContainer::" method, __VA_ARGS__); \
  } while (0)

namespace zrhds_container {

// Longest text the host keeps of a unique (6) or snap map (65 / 68) record:
// it is read back through a 4097-byte buffer of which 4096 bytes are granted.
constexpr size_t kMaxRecordText = 4095;
// Longest replication record (90): read back through a 1025-byte buffer.
constexpr size_t kMaxReplicationText = 1023;
// Longest HORCM instance text stored in metadata 75.
constexpr size_t kMaxHorcmInstanceText = 16;

// Snap action flag that asks for a search of the array for the host groups
// presenting the targets, instead of trusting the recorded ones.
constexpr int kSnapActionSearchHostGroups = 0x10000000;
// Snap flags the remote replication discovery sets (asynchronous, post-snap).
constexpr unsigned int kSnapFlagAsync = 0x8000000;
constexpr unsigned int kSnapFlagPostSnap = 0x2000000;

// The stored Q-marker to wait for is missing.
constexpr int kErrEmptyQMarker = 60505;
// Container codes of the target operations.
constexpr int kErrMapMetadata = 14;

// Snap engine id of Thin Image targetless snapshots.
constexpr short kEngineThinImage = 73;

// "No host group recorded" in "17HG".
constexpr const char* kNoHostGroups = ZR_HDS_NO_HOST_GROUPS;

// One stored metadata text: entries of key, ":", value and "**" in the order
// added. A value that the codec cannot give back unchanged (one holding
// "**" or ending in "*", which would run into the separator) is refused, as
// is a text longer than the host keeps.
class MetadataText {
 public:
  explicit MetadataText(size_t maxLength) : m_max(maxLength) {}
  void add(const char* key, const std::string& value);
  void add(const char* key, long long value) { add(key, std::to_string(value)); }
  // True when every value was accepted and the text fits.
  bool ok() const { return m_refusedKey.empty() && m_text.size() <= m_max; }
  const std::string& text() const { return m_text; }
  // Why ok() is false, for the log; "" when ok.
  std::string why() const;

 private:
  size_t m_max;
  std::string m_text;
  std::string m_refusedKey;
};

// A text the host fills in through one of its (buffer, length) getters into a
// zeroed 1024-byte buffer: 1023 bytes are granted and the last byte stays 0,
// so the text is terminated even when the host fills all it was granted.
// "" when the getter fails.
std::string readHostText(ZRSO::SnapInfo* device, int (ZRSO::SnapInfo::*get)(char*, short*));

// Union of host-group lists: first, then each item of second not already
// present, in order.
void uniteHostGroups(std::vector<std::string>& first, const std::vector<std::string>& second);

}  // namespace zrhds_container
