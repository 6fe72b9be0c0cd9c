// The state database: see ccisim_store.h.
#include "sim/ccisim_store.h"

#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <unordered_map>

namespace ccisim {
namespace detail {

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS obj(kind TEXT NOT NULL, key TEXT NOT NULL, rank INTEGER NOT NULL,"
    " ord INTEGER NOT NULL, rec TEXT NOT NULL, PRIMARY KEY(kind, key)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS obj_order ON obj(rank, ord);"
    "CREATE TABLE IF NOT EXISTS ldev(serial TEXT NOT NULL, id INTEGER NOT NULL,"
    " defined INTEGER NOT NULL, rsgid INTEGER NOT NULL, rec TEXT NOT NULL,"
    " PRIMARY KEY(serial, id)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS ldev_group ON ldev(serial, rsgid);"
    "CREATE TABLE IF NOT EXISTS journal(tick INTEGER PRIMARY KEY AUTOINCREMENT, tool TEXT,"
    " argv TEXT, inst TEXT, serial TEXT, exit INTEGER, hang INTEGER, out TEXT, out_size INTEGER,"
    " out_sum TEXT, err TEXT, err_size INTEGER, err_sum TEXT, writes INTEGER);";

std::string text(sqlite3_stmt* st, int col) {
  const unsigned char* p = sqlite3_column_text(st, col);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<size_t>(sqlite3_column_bytes(st, col)))
           : std::string();
}

void bindText(sqlite3_stmt* st, int i, const std::string& v) {
  sqlite3_bind_text(st, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

// Runs a prepared statement to its end; false on an error.
bool run(sqlite3_stmt* st) {
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  sqlite3_reset(st);
  return rc == SQLITE_DONE;
}

constexpr int kWholeArray = 1 << 30;
constexpr int kWalPagesKept = 24;


// The rows of the collections: an array's pairs (key: serial), a host
// group's LU paths (key: lunCollection). They load where the pair and LUN
// records would.
const char kPairsKind[] = "pairs";

// The identity of a pair within its array: P-VOL and MU.
uint64_t pairId(const SnapPair& p) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(p.pvol)) << 32) | static_cast<uint32_t>(p.mu);
}
// An array's pairs are kept by ranges of this many P-VOL ids, one row each,
// so that a change to one pair writes its range only.
constexpr int kPvolsPerPairRow = 64;
const char kLunsKind[] = "luns";

int rankOf(const std::string& kind) {
  if (kind == kPairsKind) return kindRank("pair");
  if (kind == kLunsKind) return kindRank("lun");
  return kindRank(kind);
}

bool sameLdev(const Ldev& a, const Ldev& b) {
  return a.id == b.id && a.defined == b.defined && a.volType == b.volType &&
         a.capacity == b.capacity && a.attrs == b.attrs && a.poolId == b.poolId &&
         a.label == b.label && a.rsgid == b.rsgid && a.vid == b.vid && a.mpBlade == b.mpBlade;
}

Ldev defaultLdev(int id) {
  Ldev l;
  l.id = id;
  return l;
}

}  // namespace

std::string keptOutput(const std::string& t) {
  if (t.size() <= kJournalKeep) return t;
  const size_t head = kJournalKeep * 3 / 4, tail = kJournalKeep / 8;
  return t.substr(0, head) + "\n[... " + std::to_string(t.size() - head - tail) +
         " bytes not kept ...]\n" + t.substr(t.size() - tail);
}

void removeDatabase(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

std::unique_ptr<Store> Store::open(const std::string& path, bool create, std::string& why) {
  if (!create && ::access(path.c_str(), F_OK) != 0) {
    why = "no array state at " + path + "; create it with `ccisim init` (or set CCISIM_STATE)";
    return nullptr;
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    why = "cannot open the state database " + path + ": " +
          (db ? sqlite3_errmsg(db) : std::string("out of memory"));
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<Store> s(new Store(db));
  sqlite3_busy_timeout(db, 600000);
  // Every tool run is one short connection: keep the WAL file and skip the
  // checkpoint when it closes (commit() has emptied the WAL already).
  int persist = 1;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_wal_hook(
      db,
      [](void* self, sqlite3*, const char*, int pages) {
        static_cast<Store*>(self)->walPages_ = pages;
        return SQLITE_OK;
      },
      s.get());
  // WAL: readers never wait for the writer. synchronous OFF: no sync at
  // all; a killed tool still leaves a consistent database (the WAL is atomic
  // per transaction), only a crash of the host could lose the last runs.
  if (!s->exec("PRAGMA synchronous=OFF", why)) return nullptr;
  if (create && (!s->exec("PRAGMA journal_mode=WAL", why) || !s->exec(kSchema, why)))
    return nullptr;
  return s;
}

Store::~Store() {
  for (auto& p : stmts_) sqlite3_finalize(p.second);
  sqlite3_close(db_);
}

bool Store::exec(const char* sql, std::string& why) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  why = std::string("state database: ") + (msg ? msg : sqlite3_errmsg(db_));
  sqlite3_free(msg);
  return false;
}

sqlite3_stmt* Store::prepare(const char* sql) {
  auto it = stmts_.find(sql);
  if (it != stmts_.end()) return it->second;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) return nullptr;
  stmts_[sql] = st;
  return st;
}

bool Store::begin(bool write, std::string& why) {
  writing_ = write;
  return exec(write ? "BEGIN IMMEDIATE" : "BEGIN", why);
}
bool Store::commit(std::string& why) {
  if (!exec("COMMIT", why)) return false;
  // The next run opens the database anew and reads the whole WAL back (the
  // record of what was copied back lives in shared memory that goes with
  // the last connection): empty it once it holds more than a few pages.
  std::string ignored;
  if (writing_ && walPages_ > kWalPagesKept) exec("PRAGMA wal_checkpoint(TRUNCATE)", ignored);
  return true;
}
void Store::rollback() {
  std::string ignored;
  exec("ROLLBACK", ignored);
}

bool Store::load(State& s, bool allLdevs, std::string& why) {
  s = State();
  small_.clear();
  read_.clear();
  pendingPairs_.clear();
  pairOrder_.clear();
  // Read in the table's own order and sorted here into load order (kind
  // rank, then ord): cheaper than following the order index row by row.
  sqlite3_stmt* st = prepare("SELECT kind, key, rank, ord, rec FROM obj");
  if (!st) return (why = sqlite3_errmsg(db_)), false;
  std::vector<Small> rows;
  std::vector<std::pair<std::pair<int, int>, size_t>> order;  // (rank, ord) -> row
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    order.push_back({{sqlite3_column_int(st, 2), sqlite3_column_int(st, 3)}, rows.size()});
    rows.push_back({text(st, 0), text(st, 1), sqlite3_column_int(st, 3), text(st, 4)});
  }
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return (why = sqlite3_errmsg(db_)), false;
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  small_.reserve(rows.size());
  Record r;
  for (const auto& o : order) {
    Small& row = rows[o.second];
    if (!applyRow(s, row, r, why)) {
      if (why.empty()) why = "unreadable record " + row.text;
      return false;
    }
    small_.push_back(std::move(row));
  }
  for (auto& ap : s.arrays) {
    ap.second.source = this;
    if (allLdevs) {
      ap.second.loadLdevs(0, kWholeArray);
      ap.second.source = nullptr;
    }
  }
  for (auto& pending : pendingPairs_) {
    std::vector<OrderedPair>& pairs = pending.second;
    auto before = [](const OrderedPair& x, const OrderedPair& y) { return x.order < y.order; };
    if (!std::is_sorted(pairs.begin(), pairs.end(), before))
      std::stable_sort(pairs.begin(), pairs.end(), before);
    Array* a = s.array(pending.first);
    std::unordered_map<uint64_t, long long>& order = pairOrder_[pending.first];
    a->pairs.reserve(a->pairs.size() + pairs.size());
    for (OrderedPair& o : pairs) {
      order[pairId(o.pair)] = o.order;
      a->pairs.push_back(std::move(o.pair));
    }
  }
  pendingPairs_.clear();
  s.tick = nextTick() - 1;
  return true;
}

bool Store::applyRow(State& s, const Small& row, Record& scratch, std::string& why) {
  if (row.kind == kPairsKind) {
    // "<serial>/<range>": the pairs take their places once every row is in.
    const std::string serial = row.key.substr(0, row.key.find('/'));
    if (!s.array(serial)) return (why = "pairs of an unknown array"), false;
    return decodePairs(row.text, pendingPairs_[serial]);
  }
  if (row.kind == kLunsKind) {
    // "<serial>/<port>/<gid>"; a port name holds no '/'.
    const size_t first = row.key.find('/');
    const size_t last = row.key.rfind('/');
    Array* a = first == std::string::npos ? nullptr : s.array(row.key.substr(0, first));
    HostGroup* g = a == nullptr || last == first
                       ? nullptr
                       : a->hostGroup(row.key.substr(first + 1, last - first - 1),
                                      std::atoi(row.key.c_str() + last + 1));
    if (!g) return (why = "LU paths of an unknown host group"), false;
    return decodeLuns(row.text, *g);
  }
  return parseRecord(row.text, scratch) && applyRecord(s, scratch, why);
}

void Store::savePairRows(const std::string& serial, const std::vector<SnapPair>& pairs,
                         std::vector<Small>& rows) {
  std::unordered_map<uint64_t, long long>& order = pairOrder_[serial];
  // Each pair keeps its place number; a new one comes after all. Should
  // the pairs no longer stand in the order of their numbers, all are
  // numbered again (and so written again).
  long long next = 0;
  for (const auto& o : order) next = std::max(next, o.second + 1);
  std::vector<long long> places(pairs.size());
  bool ascending = true;
  for (size_t i = 0; i < pairs.size(); ++i) {
    const auto it = order.find(pairId(pairs[i]));
    places[i] = it != order.end() ? it->second : next++;
    ascending = ascending && (i == 0 || places[i - 1] < places[i]);
  }
  if (!ascending) {
    for (size_t i = 0; i < places.size(); ++i) places[i] = static_cast<long long>(i);
  }
  std::map<int, std::vector<std::pair<const SnapPair*, long long>>> ranges;
  order.clear();
  for (size_t i = 0; i < pairs.size(); ++i) {
    ranges[pairs[i].pvol / kPvolsPerPairRow].push_back({&pairs[i], places[i]});
    order[pairId(pairs[i])] = places[i];
  }
  for (const auto& range : ranges)
    rows.push_back({kPairsKind, serial + "/" + std::to_string(range.first), 0,
                    encodePairs(range.second)});
}

bool Store::fetchLdev(const std::string& serial, int id, Ldev& out) {
  sqlite3_stmt* st = prepare("SELECT rec FROM ldev WHERE serial = ?1 AND id = ?2");
  bindText(st, 1, serial);
  sqlite3_bind_int(st, 2, id);
  std::string line;
  if (sqlite3_step(st) == SQLITE_ROW) line = text(st, 0);
  sqlite3_reset(st);
  Record r;
  bool stored = !line.empty() && parseRecord(line, r);
  out = stored ? ldevFromRecord(r) : defaultLdev(id);
  read_[{serial, id}] = {stored, out};
  return stored;
}

void Store::fetchLdevs(const std::string& serial, int first, int last, std::map<int, Ldev>& into) {
  sqlite3_stmt* st =
      prepare("SELECT id, rec FROM ldev WHERE serial = ?1 AND id BETWEEN ?2 AND ?3 ORDER BY id");
  bindText(st, 1, serial);
  sqlite3_bind_int(st, 2, first);
  sqlite3_bind_int(st, 3, last);
  while (sqlite3_step(st) == SQLITE_ROW) {
    int id = sqlite3_column_int(st, 0);
    if (into.count(id)) continue;
    std::string line = text(st, 1);
    Record r;
    if (!parseRecord(line, r)) continue;
    Ldev l = ldevFromRecord(r);
    read_[{serial, id}] = {true, l};
    into.emplace(id, l);
  }
  sqlite3_reset(st);
  // Ids without a row are undefined defaults; a whole-array read (load)
  // leaves them out.
  if (last >= kWholeArray) return;
  for (int id = first; id <= last; ++id)
    if (!into.count(id)) {
      read_.emplace(std::make_pair(serial, id), Read{false, defaultLdev(id)});
      into.emplace(id, defaultLdev(id));
    }
}

void Store::fetchStoredLdevs(const std::string& serial, std::map<int, Ldev>& into) {
  fetchLdevs(serial, 0, kWholeArray, into);
}

int Store::save(const State& s, std::string& why) {
  int writes = 0;
  std::unordered_map<std::string, size_t> storedAt;  // kind + '\n' + key -> index
  int nextOrd = 0;
  for (size_t j = 0; j < small_.size(); ++j) {
    nextOrd = std::max(nextOrd, small_[j].ord + 1);
    storedAt[small_[j].kind + '\n' + small_[j].key] = j;
  }
  std::vector<bool> stays(small_.size(), false);
  // Pairs and LU paths go in rows of their own (left out of the per-object
  // records); like every record, a row is written only when its text
  // changed.
  RecordFilter inRows;
  std::vector<Small> now;
  for (const auto& ap : s.arrays) {
    const Array& a = ap.second;
    inRows.pairsOf.insert(ap.first);
    savePairRows(ap.first, a.pairs, now);
    for (const auto& pp : a.ports)
      for (const auto& gp : pp.second.hostGroups) {
        const std::string c = lunCollection(ap.first, pp.first, gp.first);
        inRows.lunsOf.insert(c);
        if (!gp.second.luns.empty()) now.push_back({kLunsKind, c, 0, encodeLuns(gp.second)});
      }
  }
  for (const Record& r : stateRecords(s, false, &inRows))
    now.push_back({r.kind, recordKey(r), 0, formatRecord(r)});

  sqlite3_stmt* put =
      prepare("INSERT OR REPLACE INTO obj(kind, key, rank, ord, rec) VALUES(?1, ?2, ?3, ?4, ?5)");
  sqlite3_stmt* del = prepare("DELETE FROM obj WHERE kind = ?1 AND key = ?2");
  std::vector<Small> added;
  for (Small& n : now) {
    auto at = storedAt.find(n.kind + '\n' + n.key);
    if (at != storedAt.end()) {
      Small& old = small_[at->second];
      stays[at->second] = true;
      if (old.text == n.text) continue;
      // A changed record keeps its place in the load order.
      n.ord = old.ord;
      old.text = n.text;
    } else {
      // A new one comes after everything stored.
      n.ord = nextOrd++;
    }
    bindText(put, 1, n.kind);
    bindText(put, 2, n.key);
    sqlite3_bind_int(put, 3, rankOf(n.kind));
    sqlite3_bind_int(put, 4, n.ord);
    bindText(put, 5, n.text);
    if (!run(put)) return (why = sqlite3_errmsg(db_)), -1;
    ++writes;
    if (at == storedAt.end()) added.push_back(std::move(n));
  }
  std::vector<Small> left;
  left.reserve(small_.size() + added.size());
  for (size_t j = 0; j < small_.size(); ++j) {
    if (stays[j]) {
      left.push_back(std::move(small_[j]));
      continue;
    }
    bindText(del, 1, small_[j].kind);
    bindText(del, 2, small_[j].key);
    if (!run(del)) return (why = sqlite3_errmsg(db_)), -1;
    ++writes;
  }
  for (Small& n : added) left.push_back(std::move(n));
  small_ = std::move(left);
  sqlite3_stmt* putL = prepare(
      "INSERT OR REPLACE INTO ldev(serial, id, defined, rsgid, rec) VALUES(?1,?2,?3,?4,?5)");
  sqlite3_stmt* delL = prepare("DELETE FROM ldev WHERE serial = ?1 AND id = ?2");
  for (const auto& ap : s.arrays)
    for (const auto& lp : ap.second.ldevs) {
      auto key = std::make_pair(ap.first, lp.first);
      auto old = read_.find(key);
      bool stored = old != read_.end() && old->second.stored;
      if (sameLdev(lp.second, old != read_.end() ? old->second.ldev : defaultLdev(lp.first)))
        continue;
      if (stored && sameLdev(lp.second, defaultLdev(lp.first))) {
        bindText(delL, 1, ap.first);
        sqlite3_bind_int(delL, 2, lp.first);
        if (!run(delL)) return (why = sqlite3_errmsg(db_)), -1;
        read_[key] = {false, lp.second};
      } else {
        bindText(putL, 1, ap.first);
        sqlite3_bind_int(putL, 2, lp.first);
        sqlite3_bind_int(putL, 3, lp.second.defined ? 1 : 0);
        sqlite3_bind_int(putL, 4, lp.second.rsgid);
        bindText(putL, 5, formatRecord(ldevRecord(ap.first, lp.second)));
        if (!run(putL)) return (why = sqlite3_errmsg(db_)), -1;
        read_[key] = {true, lp.second};
      }
      ++writes;
    }
  // Rows read whole (load with allLdevs) whose LDEV was taken out.
  for (auto& t : read_) {
    if (!t.second.stored) continue;
    const Array* a = s.array(t.first.first);
    if (a && a->ldevs.count(t.first.second)) continue;
    bindText(delL, 1, t.first.first);
    sqlite3_bind_int(delL, 2, t.first.second);
    if (!run(delL)) return (why = sqlite3_errmsg(db_)), -1;
    t.second.stored = false;
    ++writes;
  }
  return writes;
}

bool Store::replace(const State& s, std::string& why) {
  if (!exec("DELETE FROM obj; DELETE FROM ldev;", why)) return false;
  small_.clear();
  read_.clear();
  // Nothing is stored now: every collection is written.
  pairOrder_.clear();
  return save(s, why) >= 0;
}

int64_t Store::nextTick() {
  sqlite3_stmt* st = prepare("SELECT seq FROM sqlite_sequence WHERE name = 'journal'");
  int64_t last = 0;
  if (st && sqlite3_step(st) == SQLITE_ROW) last = sqlite3_column_int64(st, 0);
  if (st) sqlite3_reset(st);
  return last + 1;
}

bool Store::appendJournal(const JournalEntry& e, const std::string& fullOut,
                          const std::string& fullErr, std::string& why) {
  sqlite3_stmt* st = prepare(
      "INSERT INTO journal(tick, tool, argv, inst, serial, exit, hang, out, out_size, out_sum,"
      " err, err_size, err_sum, writes) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14)");
  sqlite3_bind_int64(st, 1, e.tick);
  bindText(st, 2, e.tool);
  bindText(st, 3, encList(e.argv));
  bindText(st, 4, e.instance);
  bindText(st, 5, e.serial);
  sqlite3_bind_int(st, 6, e.exitCode);
  sqlite3_bind_int(st, 7, e.hangMarker ? 1 : 0);
  bindText(st, 8, keptOutput(fullOut));
  sqlite3_bind_int64(st, 9, static_cast<sqlite3_int64>(fullOut.size()));
  bindText(st, 10, fnv1a64Hex(fullOut));
  bindText(st, 11, keptOutput(fullErr));
  sqlite3_bind_int64(st, 12, static_cast<sqlite3_int64>(fullErr.size()));
  bindText(st, 13, fnv1a64Hex(fullErr));
  sqlite3_bind_int(st, 14, e.stateWrites);
  if (!run(st)) return (why = sqlite3_errmsg(db_)), false;
  return true;
}

std::vector<JournalEntry> Store::journal() {
  std::vector<JournalEntry> out;
  sqlite3_stmt* st = prepare(
      "SELECT tick, tool, argv, inst, serial, exit, hang, out, out_size, out_sum, err, err_size,"
      " err_sum, writes FROM journal ORDER BY tick");
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    JournalEntry e;
    e.tick = sqlite3_column_int64(st, 0);
    e.tool = text(st, 1);
    e.argv = decList(text(st, 2));
    e.instance = text(st, 3);
    e.serial = text(st, 4);
    e.exitCode = sqlite3_column_int(st, 5);
    e.hangMarker = sqlite3_column_int(st, 6) != 0;
    e.out = text(st, 7);
    e.outSize = static_cast<uint64_t>(sqlite3_column_int64(st, 8));
    e.outChecksum = text(st, 9);
    e.err = text(st, 10);
    e.errSize = static_cast<uint64_t>(sqlite3_column_int64(st, 11));
    e.errChecksum = text(st, 12);
    e.stateWrites = sqlite3_column_int(st, 13);
    out.push_back(e);
  }
  if (st) sqlite3_reset(st);
  return out;
}

bool Store::clearJournal(std::string& why) { return exec("DELETE FROM journal", why); }

}  // namespace detail
}  // namespace ccisim
