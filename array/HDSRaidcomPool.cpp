// Pool list of the CCI implementer.
#include <string>
#include <vector>

#include "array/HDSParsePool.h"
#include "array/HDSRaidcomImplementer.h"

// Runs "raidcom get pool -key opt" and returns one HDSPoolInfo per pool row
// (the vector is cleared first, so a failure returns it empty). Judging a
// pool's status or usage is the caller's business. Failure: 62601
// "Failed to get Pool list".
int ZRHDSRaidcomImplementer::getPoolList(std::vector<HDSPoolInfo>& pools) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getPoolList";
  pools.clear();
  const std::string command = std::string("raidcom ") + " get pool ";
  const std::string arguments = std::string(" -key opt ") + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get Pool list", kFn,
                      "Failed to get Pool list");
  }
  return checkListing(kFn, output, hdsparse::parsePoolList(output, pools), "Failed to get Pool list");
}
