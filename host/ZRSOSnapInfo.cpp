#include "host/ZRSOSnapInfo.h"

namespace ZRSO {
SnapInfo::~SnapInfo() = default;
ZROSUtil::~ZROSUtil() = default;
}  // namespace ZRSO
