// The runners' remote side: how a group's request and response are built,
// carried and read.
#include "plugin/ZRSOFrame.h"

namespace zrso_frame {

GroupRunner basicRunner(std::function<int(SnapGroup&, short, ZRSO::ZROSUtil*)> local,
                        unsigned int messageId) {
  GroupRunner r;
  r.local = std::move(local);
  r.messageId = messageId;
  return r;
}

GroupRunner mapUnmapRunner(std::function<int(SnapGroup&, short, ZRSO::ZROSUtil*)> local,
                           unsigned int messageId, ZRMapInitiatorParams&) {
  return basicRunner(std::move(local), messageId);
}

}  // namespace zrso_frame
