// Parser of the pool listing ("raidcom get pool -key opt").
#ifndef ZR_ARRAY_HDSPARSEPOOL_H
#define ZR_ARRAY_HDSPARSEPOOL_H

#include <string_view>
#include <vector>

#include "array/HDSTextColumns.h"
#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends one HDSPoolInfo per data line of the listing, its columns found by
// the header's words: PID pool id, POLS status, U(%) usage percent (atoi),
// POOL_NAME pool name, H(%) threshold percent (atoi). Refused, adding
// nothing: a header without one of them (the plain "get pool" and
// "get dp_pool" listings have no POOL_NAME), or a row in which one of them is
// missing or ends the line (cut short). A blank answer lists no pool.
hdscols::ListingRead parsePoolList(std::string_view output, std::vector<HDSPoolInfo>& pools);

// True when a and b name the same pool: both decimal ids of the same value
// ("001" and "1"; the pool listing pads ids, other listings and the job's
// settings do not), or, when either is not a decimal id, the same text.
bool samePoolId(std::string_view a, std::string_view b);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEPOOL_H
