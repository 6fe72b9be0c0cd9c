// Whether what a dead job's intent record names is provably that job's:
// one rule per entry kind, pure over what the array shows and over what the
// records (live and dead) and the running job name, so that recovery decides
// in full before its first changing command. Internal to handler/.
#ifndef ZR_HANDLER_HDSINTENTPROOF_H
#define ZR_HANDLER_HDSINTENTPROOF_H

#include <set>
#include <string>
#include <vector>

#include "records/HDSRecords.h"
#include "util/ZRHDSIntentRecord.h"

namespace zrhds_handler {

enum class Proof {
  kNothingThere,  // the entry made nothing (or it is gone again): settled
  kHosts,         // the running job names it: settled, left alone
  kNeedsPairs,    // an S-VOL the listing proves so far: its pairs decide
  kProven,        // the dead job's: removed
  kNotProven,     // anything else: left and logged for an administrator
};

// What names objects besides the dead record.
struct IntentContext {
  // LDEVs the records and the call name as sources (P-VOLs).
  std::set<std::string> sources;
  // S-VOLs the running job's stored metadata or a live record names.
  std::set<std::string> namedSvols;
  // groupPairKey(group, pvol, mu) of the pairs the running job or a live
  // record names.
  std::set<std::string> namedPairs;
  // groupPvolKey(group, pvol): a live record names a pair of the P-VOL in
  // the group without its MU (any such pair may be that job's).
  std::set<std::string> liveWithoutMu;
  // groupPvolKey(group, pvol): the running job names the group for the
  // P-VOL without an MU (no pair of it there is proven the dead job's).
  std::set<std::string> hostWithoutMu;
};
std::string groupPairKey(const std::string& group, const std::string& pvol, const std::string& mu);
std::string groupPvolKey(const std::string& group, const std::string& pvol);

struct SvolProof {
  Proof verdict;
  std::string why;  // kNotProven: what the array shows that the record does not
};
// An entry its job handed to the host as it ended (ZRHDSIntentEntry::stored)
// is never proven: what it names, while there, is left and reported.
//
// An S-VOL entry against the listing's block of its id (null: not listed)
// and the rows of "get snapshot -ldev_id <id>" (null: not read yet).
SvolProof provenDeadJobs(const ZRHDSIntentEntry& entry, const HDSLdevInfo* ldev,
                         const std::vector<HDSSnapshotGroupInfo>* pairs,
                         const IntentContext& context);

struct GroupProof {
  Proof verdict;
  std::vector<const HDSSnapshotGroupInfo*> pairs;  // kProven, kNotProven: the pairs meant
  std::string why;
};
// A group entry against the recorded group's rows.
GroupProof provenDeadJobs(const ZRHDSIntentRecord& record, const ZRHDSIntentEntry& entry,
                          const std::vector<HDSSnapshotGroupInfo>& rows,
                          const IntentContext& context);

}  // namespace zrhds_handler

#endif  // ZR_HANDLER_HDSINTENTPROOF_H
