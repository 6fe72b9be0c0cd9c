// The state database (SQLite, WAL mode): the simulator's records in indexed
// tables, read and written in one transaction per invocation, and the
// journal. Only the simulator's own sources use it.
//
// Tables:
//   obj(kind, key, rank, ord, rec)          every record but the LDEVs; an
//                                           array's pairs by ranges of P-VOLs
//                                           and a host group's LU paths as a
//                                           row each ("pairs", "luns":
//                                           encodePairs, encodeLuns)
//   ldev(serial, id, defined, rsgid, rec)   one row per LDEV that differs
//                                           from an undefined default
//   journal(tick, tool, argv, ...)          one row per invocation
// `rec` is the record's text ("<kind> key=value ...", ccisim_records.cpp).
// A command loads the small records whole and reads LDEVs by id (through
// Array::source); at the end only the records that changed are written.
#ifndef CCISIM_STORE_H
#define CCISIM_STORE_H

#include "sim/ccisim_model.h"
#include "sim/ccisim_internal.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ccisim {
namespace detail {

class Store : public LdevSource {
 public:
  // Opens the database at path. create: make it (and its tables) when
  // missing; else a missing database is an error that names `ccisim init`.
  static std::unique_ptr<Store> open(const std::string& path, bool create, std::string& why);
  ~Store() override;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // A write transaction (waits for other writers), or a read-only one.
  bool begin(bool write, std::string& why);
  bool commit(std::string& why);
  void rollback();

  // Loads the state; allLdevs false: LDEVs are read on demand through
  // Array::source (this store), which must outlive the state.
  bool load(State& s, bool allLdevs, std::string& why);
  // Writes the records that differ from those loaded (or read on demand);
  // returns the number written or deleted, -1 on failure.
  int save(const State& s, std::string& why);
  // Replaces everything with the state (init, fixture reset).
  bool replace(const State& s, std::string& why);

  // The tick of the next journal row (one more than the last ever written).
  int64_t nextTick();
  bool appendJournal(const JournalEntry& e, const std::string& fullOut, const std::string& fullErr,
                     std::string& why);
  std::vector<JournalEntry> journal();
  bool clearJournal(std::string& why);

  bool fetchLdev(const std::string& serial, int id, Ldev& out) override;
  void fetchLdevs(const std::string& serial, int first, int last,
                  std::map<int, Ldev>& into) override;
  void fetchStoredLdevs(const std::string& serial, std::map<int, Ldev>& into) override;

 private:
  explicit Store(sqlite3* db) : db_(db) {}
  bool exec(const char* sql, std::string& why);
  sqlite3_stmt* prepare(const char* sql);
  sqlite3* db_;
  bool writing_ = false;
  int walPages_ = 0;  // pages in the WAL after the last commit
  std::map<const char*, sqlite3_stmt*> stmts_;
  // The small records as loaded (or last saved), in load order.
  struct Small {
    std::string kind;
    std::string key;
    int ord;
    std::string text;
  };
  std::vector<Small> small_;
  // The place numbers of each array's pairs ((P-VOL, MU) -> number), as
  // loaded or last saved, and the pairs of the rows being loaded.
  std::map<std::string, std::unordered_map<uint64_t, long long>> pairOrder_;
  std::map<std::string, std::vector<OrderedPair>> pendingPairs_;
  // Appends the pair rows of one array (by ranges of P-VOLs) to rows.
  void savePairRows(const std::string& serial, const std::vector<SnapPair>& pairs,
                    std::vector<Small>& rows);
  // Adds one stored row to the state (a record, or a collection's row).
  bool applyRow(State& s, const Small& row, Record& scratch, std::string& why);
  // Every LDEV read, as read; `stored` false: no row (an undefined default).
  struct Read {
    bool stored;
    Ldev ldev;
  };
  std::map<std::pair<std::string, int>, Read> read_;
};

// Removes the database and its WAL and shared-memory files.
void removeDatabase(const std::string& path);

// The text the journal keeps of an output (see JournalEntry::out).
std::string keptOutput(const std::string& text);

}  // namespace detail
}  // namespace ccisim

#endif  // CCISIM_STORE_H
