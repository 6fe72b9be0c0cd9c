#include "records/HDSConstants.h"

// Highest LDEV numbers are ids, not counts: 65279 is 0xFEFF (255 CUs),
// 16383 is 0x3FFF (64 CUs). "R9" is a row of its own, distinct from "R9G"
// and "R9F"; lookup is by exact code, so row order only matters for
// duplicates, of which there are none.
const HDSArrayTypes HDSArrayMaxLdevTable[HDSArrayMaxLdevTableSize] = {
    {"R9G", "VSP 5100H/5500H", 65279},
    {"R9F", "VSP 5100/5500", 65279},
    {"R9", "VSP 5000", 65279},
    {"R8", "VSP G1000", 65279},
    {"R7", "VSP", 65279},
    {"M7", "HUS VM", 16383},
    {"M8S", "VSP G200", 2047},
    {"M8M", "VSP G400/G600", 4095},
    {"M8H", "VSP G800", 16383},
    {"M850S1", "VSP G350", 16383},
    {"M850S1F", "VSP F350", 16383},
    {"M850S2", "VSP G370", 32767},
    {"M850S2F", "VSP F370", 32767},
    {"M850M3", "VSP G700", 49151},
    {"M850M3F", "VSP F700", 49151},
    {"M850H", "VSP G900", 65279},
    {"M850HF", "VSP F900", 65279},
};

const HDSArrayTypes* findHDSArrayType(const std::string& modelCode) {
  for (const HDSArrayTypes& row : HDSArrayMaxLdevTable) {
    if (row.modelCode == modelCode) {
      return &row;
    }
  }
  return nullptr;
}

bool getHDSArrayMaxLdevNumber(const std::string& modelCode, int& maxLdev) {
  const HDSArrayTypes* row = findHDSArrayType(modelCode);
  if (row == nullptr) {
    return false;
  }
  maxLdev = row->maxLdevNumber;
  return true;
}
