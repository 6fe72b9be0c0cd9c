// Every reader of a received remote message on arbitrary bytes: no crash,
// no abort, no leak. A refusal leaves the record as it was; what a reader
// accepts survives being written again and read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/json_invariants.h"
#include "remote/HDSRemoteMessages.h"

namespace {

using namespace ZRHDSCLIUtils;

bool sameSnaps(const std::vector<ZRHDSMapDiscoveryInfo>& a,
               const std::vector<ZRHDSMapDiscoveryInfo>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].MSName != b[i].MSName || a[i].MSNum != b[i].MSNum || a[i].MSNumVSM != b[i].MSNumVSM)
      return false;
  }
  return true;
}

void requests(const std::string& text) {
  int id = -7;
  const int accepted = parseRemoteReqfromJson(nullptr, text, id);
  FUZZ_CHECK(accepted == 0 || accepted == 1);
  FUZZ_CHECK(accepted == 0 || id >= 1);

  ZRMapInitiatorParams params;
  params.localInitiators = {"held"};
  const int lists = parseRemoteReqFromJsonForMapUnmap(nullptr, text, params);
  FUZZ_CHECK(lists == 0 || lists == 1);
  if (lists == 0) {
    FUZZ_CHECK(params.localInitiators.size() == 1 && params.vmInitiators.empty());
    return;
  }
  // Accepted lists go out again unchanged.
  ZRMapInitiatorParams again;
  again.localInitiators.assign(params.localInitiators.begin() + 1, params.localInitiators.end());
  again.vmInitiators = params.vmInitiators;
  std::string written;
  buildRemoteReqWithJsonForMapUnmap(nullptr, again, written);
  ZRMapInitiatorParams back;
  FUZZ_CHECK(parseRemoteReqFromJsonForMapUnmap(nullptr, written, back) == 1);
  FUZZ_CHECK(back.localInitiators == again.localInitiators);
  FUZZ_CHECK(back.vmInitiators == again.vmInitiators);
}

void responses(const std::string& text) {
  const int result = getDetailsFromJSONResp(nullptr, text);
  FUZZ_CHECK(result >= 0 && result <= 2);

  ZRMapInitiatorParams params;
  params.mapDiscoveryInfo.resize(1);
  const int mapped = getMapUnmapDetailsFromJSONResp(nullptr, text, params);
  FUZZ_CHECK(mapped >= 0 && mapped <= 2);
  // Only a list that was read can make the map reader differ.
  FUZZ_CHECK(mapped == result || mapped == HDS_REMOTE_RESULT_FAILURE);
  if (params.mapDiscoveryInfo.size() == 1) return;

  ZRMapInitiatorParams read;
  read.mapDiscoveryInfo.assign(params.mapDiscoveryInfo.begin() + 1, params.mapDiscoveryInfo.end());
  std::string written;
  buildRemoteRespWithJson(nullptr, static_cast<unsigned int>(mapped), read, written);
  ZRMapInitiatorParams back;
  FUZZ_CHECK(getMapUnmapDetailsFromJSONResp(nullptr, written, back) == mapped);
  FUZZ_CHECK(sameSnaps(back.mapDiscoveryInfo, read.mapDiscoveryInfo));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  requests(text);
  responses(text);
  return 0;
}
