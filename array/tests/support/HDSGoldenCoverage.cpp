#include "array/tests/support/HDSGoldenCoverage.h"

namespace hdsgolden {

namespace {

constexpr Verdict kRead = Verdict::kRead;
constexpr Verdict kRefused = Verdict::kRefused;
constexpr Verdict kNotSent = Verdict::kNotSent;

const char kAbbreviated[] = "abbreviated fixture: no Serial# line, so no LDEV block";
const char kDummy[] = "fixture with DUMMY in place of the header line";
const char kNoBlock[] = "form not sent (-key front_end): a column listing, no LDEV block";

}  // namespace

const std::vector<Coverage>& coverage() {
  static const std::vector<Coverage> rows = {
      {"errors/11", Reader::kFailedCommand, kRead, "extend ldev is not sent; exit 237 fails any"},
      {"errors/12", Reader::kFailedCommand, kRead, "a refused port command (SSB B980,B902)"},
      {"errors/14", Reader::kFailedCommand, kRead, "-check_status_not is not sent; exit 233"},
      {"errors/15", Reader::kFailedCommand, kRead, "-check_status is not sent; exit 1"},
      {"exit_codes/3", Reader::kNone, kNotSent,
       "a table of exit codes, not an answer; checked against the codes the plug-in judges by"},
      {"get_command_status/1", Reader::kCommandStatus, kRead, ""},
      {"get_command_status/2", Reader::kCommandStatus, kRefused,
       "form not sent (-request_id): its header has no ERR_CNT"},
      {"get_command_status/3", Reader::kCommandStatus, kRead, ""},
      {"get_copy_grp/1", Reader::kCopyGroup, kRead, ""},
      {"get_copy_grp/2", Reader::kCopyGroup, kRead, ""},
      {"get_copy_grp/3", Reader::kCopyGroup, kRead, ""},
      {"get_copy_grp/4", Reader::kCopyGroup, kRefused, kDummy},
      {"get_hba_wwn/1", Reader::kHostGroupWwn, kRead, ""},
      {"get_hba_wwn/2", Reader::kHostGroupWwn, kRead, ""},
      {"get_hba_wwn/3", Reader::kHostGroupWwn, kRead, "host group by name: not sent, same layout"},
      {"get_hba_wwn/4", Reader::kHostGroupWwn, kRefused, kDummy},
      {"get_hba_wwn/5", Reader::kHostGroupWwn, kRead, ""},
      {"get_host_grp/4", Reader::kHostGroup, kRead, ""},
      {"get_host_grp/5", Reader::kHostGroup, kRead, "-key host_grp: not sent, same layout"},
      {"get_host_grp/6", Reader::kHostGroup, kRead, ""},
      {"get_host_grp/7", Reader::kHostGroup, kRead, ""},
      {"get_host_grp/8", Reader::kHostGroup, kRead, ""},
      {"get_host_grp/9", Reader::kHostGroup, kRefused, kDummy},
      {"get_ldev/10", Reader::kLdev, kRead, ""},
      {"get_ldev/11", Reader::kLdev, kRefused, kAbbreviated},
      {"get_ldev/12", Reader::kLdev, kRefused, kAbbreviated},
      {"get_ldev/13", Reader::kLdev, kRefused, kAbbreviated},
      {"get_ldev/14", Reader::kLdev, kRefused, kAbbreviated},
      {"get_ldev/15", Reader::kLdev, kRead, ""},
      {"get_ldev/16", Reader::kLdev, kRead, ""},
      {"get_ldev/17", Reader::kLdev, kRead, ""},
      {"get_ldev/18", Reader::kLdev, kRead, ""},
      {"get_ldev/19", Reader::kLdev, kRead, ""},
      {"get_ldev/20", Reader::kLdev, kRead, ""},
      {"get_ldev/21", Reader::kLdev, kRefused, "form not sent (-check_status_not): exit 233"},
      {"get_ldev/22", Reader::kLdev, kRefused, "form not sent (-check_status): exit 1"},
      {"get_ldev_key_front_end/1", Reader::kLdev, kRefused, kNoBlock},
      {"get_ldev_key_front_end/2", Reader::kLdev, kRefused, kNoBlock},
      {"get_ldev_key_front_end/3", Reader::kLdev, kRefused, kNoBlock},
      {"get_ldev_list/1", Reader::kLdevList, kRefused, kAbbreviated},
      {"get_ldev_list/2", Reader::kLdevList, kRefused, kAbbreviated},
      {"get_ldev_list/3", Reader::kLdevList, kRefused, kAbbreviated},
      {"get_ldev_list/4", Reader::kLdevList, kRefused, kAbbreviated},
      {"get_lun/1", Reader::kLun, kRead, ""},
      {"get_lun/2", Reader::kLun, kRead, "-key opt: not sent, same columns"},
      {"get_lun/3", Reader::kLun, kRead, "-key opt_page1: not sent, same columns"},
      {"get_lun/4", Reader::kLun, kRead, ""},
      {"get_lun/5", Reader::kLun, kRefused, kDummy},
      {"get_pool_key_opt/1", Reader::kPool, kRead, ""},
      {"get_pool_key_opt/2", Reader::kPool, kRefused,
       "form not sent (get pool without -key opt): no POOL_NAME column"},
      {"get_pool_key_opt/3", Reader::kPool, kRead, ""},
      {"get_pool_key_opt/4", Reader::kPool, kRefused,
       "form not sent (get dp_pool): no POOL_NAME column"},
      {"get_port/1", Reader::kPort, kRead, ""},
      {"get_port/2", Reader::kPort, kRead, ""},
      {"get_port/3", Reader::kPortLogin, kRead, ""},
      {"get_port/4", Reader::kPort, kRead, ""},
      {"get_port/5", Reader::kPort, kRefused, kDummy},
      {"get_port/6", Reader::kPortLogin, kRefused, kDummy},
      {"get_port/7", Reader::kPort, kRefused, "form not sent (-key opt): key/value lines"},
      {"get_resource/3", Reader::kResourceGroup, kRead, ""},
      {"get_resource/4", Reader::kResourceGroup, kRead, ""},
      {"get_resource/5", Reader::kResourceGroup, kRead, ""},
      {"get_snapshot/16", Reader::kSnapshot, kRead, ""},
      {"get_snapshot/17", Reader::kSnapshot, kRead, ""},
      {"get_snapshot/18", Reader::kSnapshot, kRead, ""},
      {"get_snapshot/19", Reader::kSnapshot, kRead, ""},
      {"get_snapshot/20", Reader::kSnapshot, kRefused,
       "form not sent (-format_time): its header prints SPLTTIME"},
      {"get_snapshot/21", Reader::kSnapshot, kRead, ""},
      {"get_snapshot/22", Reader::kSnapshot, kRead, ""},
      {"get_snapshot/23", Reader::kSnapshot, kRefused, kDummy},
      {"horcm_and_login/3", Reader::kChangeCommand, kRead, "login and logout print nothing"},
      {"pairdisplay/1", Reader::kNone, kNotSent, "the plug-in never runs pairdisplay"},
      {"pairdisplay/2", Reader::kNone, kNotSent, "the plug-in never runs pairdisplay"},
      {"pairdisplay/3", Reader::kNone, kNotSent, "the plug-in never runs pairdisplay"},
      {"pairdisplay/4", Reader::kNone, kNotSent, "the plug-in never runs pairdisplay"},
      {"pairsyncwait/1", Reader::kQMarker, kRead, ""},
      {"pairsyncwait/2", Reader::kPairSyncWait, kRead, ""},
      {"pairsyncwait/3", Reader::kPairSyncWait, kRead, ""},
      {"pairsyncwait/4", Reader::kPairSyncWait, kRead, ""},
      {"pairsyncwait/5", Reader::kPairSyncWait, kRead, ""},
      {"pairsyncwait/6", Reader::kPairSyncWait, kRead, ""},
      {"pairsyncwait/7", Reader::kQMarker, kRead, "-fq: not sent, one more column"},
      {"pairsyncwait/8", Reader::kQMarker, kRead, "-m with -nowait -fq: not sent"},
      {"pairsyncwait/9", Reader::kPairSyncWait, kRead, "-fq: not sent, one more column"},
      {"raidcom_change_outputs/1", Reader::kChangeCommand, kRead, "add lun: exit 0 is success"},
      {"raidcom_change_outputs/2", Reader::kChangeCommand, kRead,
       "add host_grp: exit 0 is success"},
      {"raidqry/1", Reader::kRaidqryList, kRead, ""},
      {"raidqry/3", Reader::kRaidqryList, kRefused, "form not sent (-lm): Micro_version column"},
      {"raidqry/4", Reader::kRaidqryList, kRead, "-r: not sent, same layout"},
      {"raidqry/5", Reader::kRaidqryList, kRefused, "form not sent (-f): no Hostname column"},
      {"raidqry/6", Reader::kRaidqryList, kRefused, "form not sent (-g): another listing"},
      {"raidqry/7", Reader::kVersion, kRead, ""},
      {"raidqry/8", Reader::kVersion, kRead, "fixture: the version line alone"},
      {"raidscan/1", Reader::kPairScan, kRead, "bare-port layout"},
      {"raidscan/2", Reader::kPairScan, kRead, "-fe: E-Seq# E-LDEV# for the last columns"},
      {"raidscan/3", Reader::kPairScan, kRefused, "form not sent (-fw): LUN-WWN, no P-Seq#"},
      {"raidscan/4", Reader::kPairScan, kRefused, "form not sent (-IM -fw): no Fence, no P-Seq#"},
      {"raidscan/5", Reader::kPairScan, kRefused, "form not sent (no -CLI): comma-joined header"},
      {"raidscan/6", Reader::kPairScan, kRefused, "form not sent (no -CLI): comma-joined header"},
      {"raidscan/7", Reader::kPairScan, kRefused, "form not sent (-find): another listing"},
      {"raidscan/9", Reader::kFindCommandDevice, kRead, ""},
  };
  return rows;
}

std::vector<std::string> idsOf(Reader reader) {
  std::vector<std::string> ids;
  for (const Coverage& c : coverage()) {
    if (c.reader == reader) ids.push_back(c.id);
  }
  return ids;
}

}  // namespace hdsgolden
