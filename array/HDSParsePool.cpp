#include "array/HDSParsePool.h"

namespace hdsparse {

hdscols::ListingRead parsePoolList(std::string_view output, std::vector<HDSPoolInfo>& pools) {
  if (hdscols::isBlankText(output)) return {};
  enum { kId, kStatus, kUsage, kName, kThreshold, kCount };
  size_t col[kCount];
  if (!hdscols::findColumns(hdscols::firstLine(output), {"PID", "POLS", "U(%)", "POOL_NAME", "H(%)"},
                            col)) {
    return hdscols::refused(hdscols::kNotTheListing);
  }
  std::vector<HDSPoolInfo> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.takesAll(col)) return false;
    HDSPoolInfo pool;
    pool.poolId.assign(row.text(col[kId]));
    pool.status.assign(row.text(col[kStatus]));
    pool.usagePercent = hdscols::atoiView(row.text(col[kUsage]));
    pool.poolName.assign(row.text(col[kName]));
    pool.thresholdPercent = hdscols::atoiView(row.text(col[kThreshold]));
    fresh.push_back(std::move(pool));
    return true;
  });
  return hdscols::appendRead(read, fresh, pools);
}

bool samePoolId(std::string_view a, std::string_view b) {
  if (!hdscols::isDecimalDigits(a) || !hdscols::isDecimalDigits(b)) return a == b;
  auto significant = [](std::string_view id) {
    const size_t first = id.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view("0") : id.substr(first);
  };
  return significant(a) == significant(b);
}

}  // namespace hdsparse
