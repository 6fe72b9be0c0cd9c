#pragma once
// ZRHDSIntentRecord: what a job is about to create on an array that the host
// does not know of yet, written and flushed before the command that creates
// it, so that a job killed at any instruction leaves either no object or an
// object a record names.
//
// Two kinds:
//  - a snapshot group: the group name, whether the group existed before (and
//    then the pair keys it held), and one entry per P-VOL whose pair the job
//    adds (with the MU, once the array has given it);
//  - S-VOLs: one entry per LDEV the job creates: its id, capacity and label,
//    the snapshot (P-VOL, MU) it is made for and the host groups the job
//    presents it to (written before the first path there).
// Each record names the array, the job's resource group and the job (the
// process identity of ZRHDSProcessIdentity); each entry the host's device.
//
// ZRHDSIntentStore keeps one file per record in a private directory
// (ZrPaths::intentDir(), or the directory given): written durably (content
// and directory flushed) and removed durably. A record whose process is gone
// is a dead job's; the next job on the array recovers what it names. A
// record that could not be brought up to date is set aside: listed apart,
// never recovered. Temporary files carry their writer's identity.
// Record files are input: a file that does not read whole and well-formed is
// reported as unreadable, never half used.
//
// Thread-safety: a store object holds no state beyond its settings; records
// of one job are written by that job alone, records of a dead job are changed
// only under the named locks the recovery takes.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "util/ZRHDSProcessIdentity.h"

struct ZRHDSIntentEntry {
  std::string pvol;       // the snapshot's P-VOL (source LDEV), decimal
  std::string mu;         // its MU; "" while the array has not given one
  std::string ldev;       // S-VOLs: the LDEV id to create, decimal
  uint64_t capacity = 0;  // S-VOLs: blocks
  std::string label;      // S-VOLs: the label it gets
  std::string device;     // the host's device it is for (for people)
  // S-VOLs: the host groups ("<port>-<GID>") the job may present it to (its
  // pre-snap and client host groups). A record written before they were
  // kept has none on record (hostGroupsRecorded false).
  std::vector<std::string> hostGroups;
  bool hostGroupsRecorded = false;
  // S-VOLs: the array accepted the job's add of the LDEV (ZRHDSIntentStore::
  // markMade, right after the add's tool exited 0). The label goes on only
  // once the array has proven the LDEV the job's; until then this mark is
  // what tells the job's new LDEV from one someone made at the id after a
  // crash. A job whose read-back shows the add did not make the LDEV its
  // own takes the mark back.
  bool made = false;
  // The job handed it to the host as it ended (ZRHDSIntentStore::handOver):
  // the host may store it, so a recovery only reports it.
  bool stored = false;
};

struct ZRHDSIntentRecord {
  enum class Kind { kGroup, kSvols };
  Kind kind = Kind::kGroup;
  std::string serial;         // the physical array serial
  std::string resourceGroup;  // the job's resource group
  ZRHDSProcessIdentity job;
  std::string group;                      // kGroup: the snapshot group
  bool reused = false;                    // kGroup: it existed before the job's add
  std::vector<std::string> existingKeys;  // kGroup, reused: its pair keys then
  std::vector<ZRHDSIntentEntry> entries;
  std::string path;  // the record's file ("" until saved or read)

  // The file form: a line per field, ending with "end".
  std::string text() const;
  // Reads a whole file form; false (with *why) for anything else: a missing
  // "end", an unknown line, a number that is not decimal, a record without
  // entries or with entries of the other kind. After "end" only the marks
  // markMade appends may follow ("made <LDEV>" of an S-VOL entry); a last
  // one cut short by a crash (no newline) counts as not written.
  static bool parse(const std::string& text, ZRHDSIntentRecord& out, std::string* why);
};

// The end of one exported call on this thread: the call holds a scope, and
// work handed to atCallEnd (a job's closing of its records) runs when the
// scope ends, just before the call returns to the host, so that no command,
// scan or wait of the call falls between a record's closing and the host
// keeping what the call stored. Nested scopes leave the work to the
// outermost; without a scope the work runs at once.
class ZRHDSIntentCallScope {
 public:
  ZRHDSIntentCallScope();
  ~ZRHDSIntentCallScope();
  ZRHDSIntentCallScope(const ZRHDSIntentCallScope&) = delete;
  ZRHDSIntentCallScope& operator=(const ZRHDSIntentCallScope&) = delete;
  static void atCallEnd(std::function<void()> work);

 private:
  std::vector<std::function<void()>> m_work;
  bool m_bOutermost;
};

class ZRHDSIntentStore {
 public:
  // Whether the process of a record still runs.
  using Liveness = std::function<bool(const ZRHDSProcessIdentity&)>;

  // dir "": ZrPaths::intentDir() at each call. live null: the process check.
  explicit ZRHDSIntentStore(std::string dir = "", Liveness live = nullptr);

  std::string directory() const;
  // Writes record durably: a new file (record.path is set) or, when
  // record.path is set, that file replaced. false with *error; record.path
  // is then unchanged. A record whose job has no start time (or id) is
  // refused: it would read as a dead job's at once.
  bool save(ZRHDSIntentRecord& record, std::string* error);
  // Marks entry k of a saved S-VOL record made, durably, by appending the
  // mark to its file (no rewrite: one flush, whatever the record's size).
  // false with *error; the entry then stays unmarked.
  bool markMade(ZRHDSIntentRecord& record, size_t k, std::string* error);
  // Removes record.path durably (gone already counts as removed).
  bool remove(const ZRHDSIntentRecord& record, std::string* error);
  // A record that could not be brought up to date may name objects the
  // host stores now: it is renamed out of the records that recovery acts on
  // (list reports it in *setAside) until an administrator removes it. true
  // when the record is no longer one to recover (renamed, or gone already).
  bool setAside(const ZRHDSIntentRecord& record, std::string* error);
  // The end of a job's record: stored[k] when the host keeps entry k once
  // the call returns, gone[k] when its object is gone from the array (both
  // as long as the record's entries). In two steps, so that at no moment
  // does the file lead a recovery to act on a stored entry, and the window
  // in which a job killed before its return leaves a stored entry without
  // a record is one unlink or rename:
  //  1. durably, the stored entries marked (ZRHDSIntentEntry::stored) and
  //     the gone ones dropped;
  //  2. without a flush, the rest written (the file removed when nothing
  //     is left): a crash of the machine that loses it brings back step 1.
  // false with *error when step 1 could not be written: the file then still
  // holds the stored entries, unmarked (or marked but not on the disk).
  bool handOver(ZRHDSIntentRecord& record, const std::vector<bool>& stored,
                const std::vector<bool>& gone, std::string* error);
  // Reads record.path again into record; false when it is gone or no longer
  // reads (*error says which; "" when gone).
  bool reload(ZRHDSIntentRecord& record, std::string* error) const;
  // The records of the array serial, oldest file name first. Files that do
  // not read go to *unreadable (their paths, with why), records set aside to
  // *setAside (their paths). Leftover temporary files of dead writers (the
  // writer each file name's tag names) are removed. false with *error when
  // the directory cannot be used (a directory that is missing holds no
  // records).
  bool list(const std::string& serial, std::vector<ZRHDSIntentRecord>& out,
            std::vector<std::string>* unreadable, std::string* error,
            std::vector<std::string>* setAside = nullptr) const;
  bool isDead(const ZRHDSIntentRecord& record) const;

 private:
  std::string m_sDir;
  Liveness m_fLive;
};
