// Parsers of the host-group listings: the LU paths of one host group
// ("raidcom get lun"), the host groups of a port ("raidcom get host_grp")
// and the WWNs registered in one host group ("raidcom get hba_wwn", or
// "get hba_iscsi"). Columns are found by the header's words (see
// HDSTextColumns.h); a refused answer adds nothing.
#ifndef ZR_ARRAY_HDSPARSEHOSTGROUP_H
#define ZR_ARRAY_HDSPARSEHOSTGROUP_H

#include <string>
#include <string_view>
#include <vector>

#include "array/HDSTextColumns.h"
#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends one HDSLunInfo per data line: PORT port, GID hostGroupId, HMD
// hostMode, LUN lun, LDEV ldevId. Refused: a header without one of them, or a
// row in which one is missing or ends the line.
hdscols::ListingRead parseLunList(std::string_view output, std::vector<HDSLunInfo>& luns);

// Number of header columns between GROUP_NAME and Serial# of a host-group
// listing: 0 on a Fibre Channel port, 3 (IQN, AMD, D) on an iSCSI port.
size_t hostGroupColumnsBeforeSerial(std::string_view output);

// True when the host-group listing is an iSCSI port's (an IQN column).
bool isIscsiHostGroupListing(std::string_view output);

// Appends one HDSHostGroupInfo per data line of the host-group listing of a
// port: GID hostGroupId; hostGroupName runs from the start of GROUP_NAME to
// the last character that is neither blank nor tab before the columns that
// the header puts between GROUP_NAME and Serial# (none on Fibre Channel, IQN
// AMD D on iSCSI), counted back from the serial column, found as the first
// whole column after GROUP_NAME that equals serial (a name may hold blanks,
// and the serial's digits inside a name such as "db412345" do not end it).
// When no later column equals serial the name is the GROUP_NAME column
// alone. port and wwns stay empty. Refused: a header without GID, GROUP_NAME
// or Serial# (GROUP_NAME after GID, Serial# after GROUP_NAME), or a row that
// does not reach the serial column or whose GID or GROUP_NAME ends the line.
hdscols::ListingRead parseHostGroupList(std::string_view output, const std::string& serial,
                                        std::vector<HDSHostGroupInfo>& groups);

// Fills group from the WWN listing of one host group ("get hba_wwn", WWN
// column HWWN), or the initiator listing of an iSCSI host group ("get
// hba_iscsi", IQN), one initiator per data line. Each line is first
// stripped of trailing blanks and carriage returns; PORT is the port and
// GID the GID (read from the left); the initiator is read from the right,
// as many columns from the end as the header puts it (Serial# and NICK_NAME
// follow it), because the name before it may hold blanks; the name runs
// from the start of GROUP_NAME to the end of the column before the
// initiator. Port, GID and name are overwritten by every line; each line
// appends one WWN (the list is not cleared here). Refused, group untouched:
// a header without PORT, GID, GROUP_NAME and HWWN or IQN in this order, or a
// row with fewer columns than the header.
hdscols::ListingRead parseHostGroupWwnList(std::string_view output, HDSHostGroupInfo& group);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEHOSTGROUP_H
