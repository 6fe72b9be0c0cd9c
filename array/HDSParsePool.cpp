#include "array/HDSParsePool.h"

#include "array/HDSTextColumns.h"

namespace hdsparse {

size_t parsePoolList(std::string_view output, std::vector<HDSPoolInfo>& pools) {
  const size_t before = pools.size();
  HDSPoolInfo pool;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    hdscols::Field f[8];
    const size_t n = hdscols::splitLeft(line, f, 8);
    pool.init();
    auto taken = [&](size_t col) { return n >= col && f[col - 1].followed; };
    if (taken(1)) pool.poolId.assign(f[0].text);
    if (taken(2)) pool.status.assign(f[1].text);
    if (taken(3)) pool.usagePercent = hdscols::atoiView(f[2].text);
    if (taken(4)) pool.poolName.assign(f[3].text);
    if (taken(8)) pool.thresholdPercent = hdscols::atoiView(f[7].text);
    pools.push_back(pool);
  });
  return pools.size() - before;
}

}  // namespace hdsparse
