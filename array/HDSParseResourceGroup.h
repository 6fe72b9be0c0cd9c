// Parser of the resource-group listing ("raidcom get resource", plain or
// with "-key opt").
#ifndef ZR_ARRAY_HDSPARSERESOURCEGROUP_H
#define ZR_ARRAY_HDSPARSERESOURCEGROUP_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "array/HDSTextColumns.h"
#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Offset of the header line in output, which lines printed before it (a
// credential prompt, a warning) may precede; npos when there is none. The
// header is "RS_GROUP RGID" and four more columns, the last "Serial#"
// (plain: stat Lock_owner Lock_host; with the key option: V_Serial# V_ID
// V_IF), letter case not compared.
size_t resourceGroupHeaderAt(std::string_view output);

// Adds one map entry per data line after the header line (lines before it
// are ignored), keyed by the group name; a later line with the same name
// replaces an earlier one. A row is cut from its right end, because the name
// on its left may hold blanks: serial (the last column, cut to 6 characters
// when longer), then lockHost (one token, or exactly "Storage Navigator",
// "User Program" or "RMI User Program"), lockOwner, lockStatus and
// resourceGroupId (atoi); the name is what stands left of the id, without
// leading and trailing blanks. With the key option the same columns hold the
// virtual serial (lockStatus), the virtual model code (lockOwner) and the
// third virtual column (lockHost). Blanks, tabs and CR at a line's end are
// not a column. A blank answer lists no group. Refused, adding nothing: no
// header line, or a row without a name and all five columns (cut short).
hdscols::ListingRead parseResourceGroupList(std::string_view output,
                                            std::map<std::string, ResourceGroupInfo>& groups);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSERESOURCEGROUP_H
