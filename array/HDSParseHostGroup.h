// Parsers of the host-group listings: the LU paths of one host group
// ("raidcom get lun"), the host groups of a port ("raidcom get host_grp")
// and the WWNs registered in one host group ("raidcom get hba_wwn").
#ifndef ZR_ARRAY_HDSPARSEHOSTGROUP_H
#define ZR_ARRAY_HDSPARSEHOSTGROUP_H

#include <string>
#include <string_view>
#include <vector>

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends one HDSLunInfo per data line: column 1 port, 2 hostGroupId,
// 3 hostMode, 4 lun, 6 ldevId, each only when a blank or tab follows it.
// Returns the number appended.
size_t parseLunList(std::string_view output, std::vector<HDSLunInfo>& luns);

// Number of header columns between GROUP_NAME and Serial# of a host-group
// listing: 0 on a Fibre Channel port, 3 (IQN, AMD, D) on an iSCSI port.
size_t hostGroupColumnsBeforeSerial(std::string_view output);

// True when the host-group listing is an iSCSI port's (an IQN column).
bool isIscsiHostGroupListing(std::string_view output);

// Appends one HDSHostGroupInfo per data line of the host-group listing of a
// port: column 2 hostGroupId; hostGroupName runs from the start of column 3
// to the last character that is neither blank nor tab before the columns
// that the header puts between GROUP_NAME and Serial# (none on Fibre
// Channel, IQN AMD D on iSCSI), counted back from the serial column, found
// as the first whole column after column 3 that equals serial (a name may
// hold blanks, and the serial's digits inside a name such as "db412345" do
// not end it). When no later column equals serial the name is
// column 3 alone, taken when a blank or tab follows it. Trailing blanks and
// carriage returns never hide the serial column. port and wwns stay empty.
size_t parseHostGroupList(std::string_view output, const std::string& serial,
                          std::vector<HDSHostGroupInfo>& groups);

// Fills group from the WWN listing of one host group ("get hba_wwn"), or
// the initiator listing of an iSCSI host group ("get hba_iscsi": the IQN in
// the WWN's place), one initiator per data line.
// Each line is first stripped of trailing blanks and carriage returns; from
// the left column 1 is the port and column 2 the GID (each only when a blank
// or tab follows it); from the right the third column from the end is the
// WWN (appended; the list is not cleared here) and the name runs from the
// start of column 3 to the end of the fourth column from the end. A line with
// fewer than six columns carries no WWN and leaves the name as it was.
// Port, GID and name are overwritten by every line that has them.
void parseHostGroupWwnList(std::string_view output, HDSHostGroupInfo& group);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEHOSTGROUP_H
