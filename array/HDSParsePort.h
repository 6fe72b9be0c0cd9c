// Parsers of the port listings: every port of the array ("raidcom get
// port"), the initiators logged in to one port ("raidcom get port -port P")
// and the scan of the command device ("raidscan -CLI -pdg <device>").
#ifndef ZR_ARRAY_HDSPARSEPORT_H
#define ZR_ARRAY_HDSPARSEPORT_H

#include <string>
#include <string_view>
#include <vector>

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Reads column 1 port, 2 type, 10 serial and 11 wwn of each data line (each
// only when a blank or tab follows it) and appends the record unless ports
// already holds an entry with the same port (entries the caller put there
// included): the first line of a port wins. Returns the number appended.
size_t parsePortListing(std::string_view output, std::vector<HDSPortInfo>& ports);

// Fills port from the login listing of one port: per data line column 1 to
// port.port, column 2 appended to port.loginWwns (not cleared here), column 3
// to port.serial, each only when a blank or tab follows it; a column not
// taken leaves its field as it was. Returns the number of WWNs appended.
size_t parsePortLoginList(std::string_view output, HDSPortInfo& port);

// The first column of the first data line of the command device's scan
// ("<port>-<host group>"), taken when a blank or tab follows it and not
// empty. False when there is none; hostGroup is then untouched.
bool parseCommandDeviceHostGroup(std::string_view output, std::string& hostGroup);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEPORT_H
