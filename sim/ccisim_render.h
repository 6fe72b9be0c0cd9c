// ccisim's renderers: pure functions from the state to the exact text each
// tool prints, and the SCSI inquiry pages of the array's LDEVs.
#ifndef CCISIM_RENDER_H
#define CCISIM_RENDER_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "sim/ccisim_model.h"

namespace ccisim {

// ---------------------------------------------------------------------------
// Renderers: pure functions from state to the exact text of each output.
// Every output ends with "\n"; no data line has leading or trailing blanks
// unless noted.

// `raidcom get ldev`: one block per id (defined or not), each starting "Serial#".
std::string renderGetLdev(const Array& a, const std::vector<int>& ids,
                          bool undefinedVolAttr = false);
std::string renderLdevBlock(const Array& a, const Ldev& l, bool undefinedVolAttr = false);
// `raidcom get resource [-key opt]`.
std::string renderGetResource(const Array& a, bool keyOpt);
// `raidcom get snapshot ...`: header and one P-VOL row per pair (an empty
// selection prints the header alone). svolView: a listing by that LDEV id,
// where a pair whose S-VOL it is shows as an S-VOL row (LDEV# the S-VOL,
// P-LDEV# the P-VOL, PSUS shown as SSUS).
std::string renderGetSnapshot(const Array& a, const std::vector<SnapPair>& rows, int svolView = -1);
// `raidcom get snapshot` of the whole array: one row per snapshot group, its
// pair columns "-" (nothing at all without groups).
std::string renderGetSnapshotGroups(const Array& a);
// `raidcom get pool -key opt`; pool ids with three digits ("005").
std::string renderGetPool(const Array& a);
// `raidqry -l`: one row per array serial given; rows begin with blanks as the
// real tool's do.
std::string renderRaidqryList(const State& s, const std::vector<std::string>& serials,
                              const std::string& host);
// `raidqry -h`; instance: the HORCM instance the usage line names.
std::string renderRaidqryHelp(const std::string& cciVersion, const std::string& instance = "0");
// `raidcom get command_status`.
std::string renderCommandStatus(const CommandStatus& st, const std::string& serial);
// `raidscan -p <port>-<gid> -CLI -m <mu>`: header "PORT# ...", one row per
// LUN of the group; external (-fe): E-Seq# and E-LDEV# instead of the pair's
// P-Seq# and P-LDEV#.
std::string renderRaidscanPort(const Array& a, const std::string& port, int gid, int mu,
                               bool external = false);
// `raidscan -CLI -pdg <dev>`: one row per LU path of the LDEV.
std::string renderRaidscanPdg(const Array& a, int ldev);
// `raidcom get copy_grp`: one row per device group of each copy group.
std::string renderCopyGroups(const Array& a);
// `pairsyncwait`: header and one right-aligned row (it begins with blanks);
// status NOWAIT, DONE, TIMEOUT, BROKEN or CHANGED; withCount: the -fq
// column QM-Cnt.
std::string renderPairsyncwait(const CopyGroup& g, uint64_t marker, const std::string& status,
                               bool withCount = false);
// `raidcom get lun -port P-G`.
std::string renderGetLun(const Array& a, const std::string& port, int gid);
// `raidcom get host_grp -port P [-resource id]...`; filter null: every group.
// An iSCSI port adds the IQN, AMD and D columns.
std::string renderGetHostGrp(const Array& a, const std::string& port, const std::set<int>* rsgids);
// `raidcom get hba_wwn -port P-G` (Fibre Channel ports).
std::string renderGetHbaWwn(const Array& a, const std::string& port, int gid);
// `raidcom get hba_iscsi -port P-G` (iSCSI ports).
std::string renderGetHbaIscsi(const Array& a, const std::string& port, int gid);
// `raidcom get port`.
std::string renderGetPort(const Array& a);
// `raidcom get port -port P`.
std::string renderGetPortLogins(const Array& a, const std::string& port);
// `raidscan -x findcmddev 0-N`.
std::string renderFindCmdDev(const State& s);

// The HORCM instance file exactly as the plug-in writes it.
std::string horcmFileText(const std::string& host, int instance, const std::string& serial,
                          const std::vector<std::string>& devices);

// ---------------------------------------------------------------------------
// SCSI inquiry pages (255-byte replies) of an LDEV as the host would read it:
// standard page (vendor "HITACHI", product "OPEN-V" or "OPEN-V-CM" for an
// LDEV with attribute CMD, serial and LDEV number of the standard page: the
// virtual ones inside a virtual storage machine) and page 0xE2 (physical
// serial and LDEV, model code at offset 138).
std::vector<uint8_t> inquiryStandard(const Array& a, int ldev);
std::vector<uint8_t> inquiryE2(const Array& a, int ldev);
// Serial field of the pages: "50" + digit + 5 hex digits (serial < 1000000).
std::string encodeInquirySerial(const std::string& serial);

}  // namespace ccisim

#endif  // CCISIM_RENDER_H
