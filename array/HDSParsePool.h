// Parser of the pool listing ("raidcom get pool -key opt").
#ifndef ZR_ARRAY_HDSPARSEPOOL_H
#define ZR_ARRAY_HDSPARSEPOOL_H

#include <string_view>
#include <vector>

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends one HDSPoolInfo per data line of the listing: column 1 pool id,
// 2 status, 3 usage percent (atoi), 4 pool name, 8 threshold percent (atoi);
// a column is read only when a blank or tab follows it, otherwise its field
// keeps the default (empty, 0). Returns the number of records appended.
size_t parsePoolList(std::string_view output, std::vector<HDSPoolInfo>& pools);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEPOOL_H
