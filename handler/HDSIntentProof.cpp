#include "handler/HDSIntentProof.h"

#include <algorithm>

#include "array/HDSParseLdev.h"
#include "handler/HDSCommandHandlerInternal.h"

namespace zrhds_handler {

namespace {

// A pair that never held snapshot data: only the job that added it knows it.
bool neverSplit(const HDSSnapshotGroupInfo& row) {
  return row.status == ZR_HDS_PAIR_STATE_PAIR || row.status == ZR_HDS_PAIR_STATE_COPY;
}

SvolProof notProven(const std::string& why) { return {Proof::kNotProven, why}; }

const char kHandedOver[] = "its job handed it to the host as it ended: it may be the host's";

// The association one row of an S-VOL's pair listing shows; false when the
// row shows the LDEV as a P-VOL or is no row of it at all.
bool associationOf(const HDSSnapshotGroupInfo& row, const std::string& ldev, std::string& pvol) {
  if (!row.isPvol && row.ldevId == ldev) {
    pvol = row.partnerLdevId;
    return true;
  }
  if (row.isPvol && row.ldevId != ldev && row.partnerLdevId == ldev) {
    pvol = row.ldevId;
    return true;
  }
  return false;
}

}  // namespace

std::string groupPairKey(const std::string& group, const std::string& pvol, const std::string& mu) {
  return group + "|" + pairKey(pvol, mu);
}

std::string groupPvolKey(const std::string& group, const std::string& pvol) {
  return group + "|" + pvol;
}

SvolProof provenDeadJobs(const ZRHDSIntentEntry& entry, const HDSLdevInfo* ldev,
                         const std::vector<HDSSnapshotGroupInfo>* pairs,
                         const IntentContext& context) {
  if (context.namedSvols.count(entry.ldev) != 0) return {Proof::kHosts, ""};
  if (ldev == nullptr) return notProven("the listing does not show it");
  if (ldev->volAttr == HDS_VOL_ATTR_UNDEFINED || ldev->volType == kVolTypeUndefined)
    return {Proof::kNothingThere, ""};
  if (entry.stored) return notProven(kHandedOver);
  // The job's: its label, or no label yet on an LDEV whose add the array
  // accepted (the label follows only once the array proves it the job's).
  const bool labelled = ldev->label == hdsparse::listedLabel(entry.label);
  if ((!labelled && !(entry.made && ldev->label.empty())) ||
      ldev->capacityBlocks != entry.capacity) {
    return notProven("it carries label [" + ldev->label + "] and " +
                     std::to_string(ldev->capacityBlocks) + " blocks");
  }
  if (context.sources.count(entry.ldev) != 0) {
    return notProven("it is a source that a record or the job names");
  }
  for (const HDSLunInfo& path : ldev->ports) {
    const std::string hostGroup = path.port + "-" + path.hostGroupId;
    const std::vector<std::string>& named = entry.hostGroups;
    if (!entry.hostGroupsRecorded ||
        std::find(named.begin(), named.end(), hostGroup) == named.end()) {
      return notProven("it has an LU path in HostGroup-[" + hostGroup +
                       "] that the record does not name");
    }
  }
  if (pairs == nullptr) return {Proof::kNeedsPairs, ""};
  for (const HDSSnapshotGroupInfo& row : *pairs) {
    std::string pvol;
    if (!associationOf(row, entry.ldev, pvol)) return notProven("it is the P-VOL of a pair");
    if (pvol != entry.pvol || row.muNumber != entry.mu) {
      return notProven("it is associated with P-VOL-[" + pvol + "] MU-[" + row.muNumber + "]");
    }
  }
  return {Proof::kProven, ""};
}

GroupProof provenDeadJobs(const ZRHDSIntentRecord& record, const ZRHDSIntentEntry& entry,
                          const std::vector<HDSSnapshotGroupInfo>& rows,
                          const IntentContext& context) {
  GroupProof out{Proof::kNothingThere, {}, ""};
  const std::string pvolKey = groupPvolKey(record.group, entry.pvol);
  const std::set<std::string> existing(record.existingKeys.begin(), record.existingKeys.end());
  bool named = false;
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (row.ldevId != entry.pvol || existing.count(pairKey(row)) != 0) continue;
    if (!entry.mu.empty() && row.muNumber != entry.mu) continue;
    if (context.namedPairs.count(groupPairKey(record.group, row.ldevId, row.muNumber)) != 0) {
      named = true;
      continue;
    }
    out.pairs.push_back(&row);
  }
  if (out.pairs.empty()) {
    out.verdict = named ? Proof::kHosts : Proof::kNothingThere;
    return out;
  }
  out.verdict = Proof::kNotProven;
  if (entry.stored) {
    out.why = kHandedOver;
    return out;
  }
  // A device of the running job names a pair of the P-VOL there without its
  // MU: any of these pairs may be the one the host stores.
  if (context.hostWithoutMu.count(pvolKey) != 0) {
    out.why = "a device of the job names a pair of the P-VOL there without its MU";
    return out;
  }
  // Without its MU, an entry in a group that other jobs use is told from
  // their pairs only by the lock the recovery holds: every live job of this
  // host has its new pairs' MUs on record before it gives the lock back.
  if (entry.mu.empty() && record.reused) {
    if (context.liveWithoutMu.count(pvolKey) != 0) {
      out.why = "a live job's record names a pair of the P-VOL there without its MU";
      return out;
    }
    if (out.pairs.size() > 1) {
      out.why = "the record names one pair and the group holds more";
      return out;
    }
  }
  for (const HDSSnapshotGroupInfo* row : out.pairs) {
    if (!neverSplit(*row)) {
      out.why = "a pair was split (status " + row->status + ")";
      return out;
    }
  }
  out.verdict = Proof::kProven;
  return out;
}

}  // namespace zrhds_handler
