// Parser of the resource-group listing ("raidcom get resource", plain or
// with "-key opt").
#ifndef ZR_ARRAY_HDSPARSERESOURCEGROUP_H
#define ZR_ARRAY_HDSPARSERESOURCEGROUP_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Offset of the header line ("RS_GROUP RGID ...") in output, which lines
// printed before it (a credential prompt, a warning) may precede; npos when
// there is none.
size_t resourceGroupHeaderAt(std::string_view output);

// Adds one map entry per data line after the header line (lines before it
// are ignored; no header, no rows), keyed by
// the group name; a later line with the same name replaces an earlier one.
// A row is cut from its right end, because the name on its left may hold
// blanks: serial (the last column, cut to 6 characters when longer), then
// lockHost (one token, or exactly "Storage Navigator", "User Program" or
// "RMI User Program"), lockOwner, lockStatus and resourceGroupId (atoi);
// the name is what stands left of the id, without leading and trailing
// blanks. With the key option the same columns hold the virtual serial
// (lockStatus), the virtual model code (lockOwner) and the third virtual
// column (lockHost). Blanks, tabs and CR at a line's end are not a column.
// A line without a name and all five columns is no group. Returns the
// number of rows read.
size_t parseResourceGroupList(std::string_view output,
                              std::map<std::string, ResourceGroupInfo>& groups);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSERESOURCEGROUP_H
