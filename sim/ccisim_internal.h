// Helpers shared by the simulator's own sources; not for tests of other
// folders (they use ccisim_fixture.h).
#ifndef CCISIM_INTERNAL_H
#define CCISIM_INTERNAL_H

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/ccisim_model.h"

namespace ccisim {
struct Array;
struct HostGroup;
struct SnapPair;
struct Ldev;
struct State;

namespace detail {

// Percent-encoding of one value: '%', blanks, tabs, line ends, '=' and ','
// become %XX, so a value is one token of a record line and one item of a list.
std::string enc(const std::string& v);
std::string dec(const std::string& v);
// A list as "<count>:" + items joined by ','; empty items survive.
std::string encList(const std::vector<std::string>& items);
std::vector<std::string> decList(const std::string& v);

// One line of the state or journal file: "<kind> key=value key=value".
struct Record {
  std::string kind;
  std::vector<std::pair<std::string, std::string>> kv;  // decoded values

  void add(const std::string& k, const std::string& v) { kv.emplace_back(k, v); }
  void add(const std::string& k, const char* v) { kv.emplace_back(k, v); }
  void add(const std::string& k, long long v) { kv.emplace_back(k, std::to_string(v)); }
  void add(const std::string& k, int v) { kv.emplace_back(k, std::to_string(v)); }
  void add(const std::string& k, bool v) { kv.emplace_back(k, v ? "1" : "0"); }
  void add(const std::string& k, uint64_t v) { kv.emplace_back(k, std::to_string(v)); }
  // The value of k; null when the record has none.
  const std::string* find(std::string_view k) const;
  bool has(std::string_view k) const { return find(k) != nullptr; }
  std::string str(std::string_view k, const std::string& def = "") const;
  long long num(std::string_view k, long long def = 0) const;
  uint64_t unum(std::string_view k, uint64_t def = 0) const;
  bool flag(std::string_view k, bool def = false) const;
};
std::string formatRecord(const Record& r);
bool parseRecord(const std::string& line, Record& r);

// The state as records (ccisim_records.cpp): every object one record, in
// load order; withLdevs false leaves the LDEV records out.
std::vector<Record> stateRecords(const State& s, bool withLdevs);
// What a save leaves out because it did not change: the pair records of the
// arrays in pairsOf (by serial), the LUN records of the host groups in
// lunsOf (by lunCollection).
struct RecordFilter {
  std::set<std::string> pairsOf;
  std::set<std::string> lunsOf;
};
std::vector<Record> stateRecords(const State& s, bool withLdevs, const RecordFilter* skip);
// The identity of one host group's LUN records: "<serial>/<port>/<gid>", the
// start of each of their keys.
std::string lunCollection(const std::string& serial, const std::string& port, int gid);

// The state database keeps the two collections that grow with the array's
// use in rows of their own (ccisim_store.h): an array's pairs, by ranges of
// P-VOLs, one line per pair with its place among the array's pairs and the
// values of its record in their order; and a host group's LU paths,
// "<lun>:<ldev>" (":<host I/O refusals>" where set) separated by blanks.
// They hold exactly what the pair and LUN records hold.
struct OrderedPair {
  SnapPair pair;
  long long order = 0;  // the pairs of an array load in ascending order
};
std::string encodePairs(const std::vector<std::pair<const SnapPair*, long long>>& pairs);
bool decodePairs(const std::string& text, std::vector<OrderedPair>& out);
std::string encodeLuns(const HostGroup& g);
bool decodeLuns(const std::string& text, HostGroup& g);
Record ldevRecord(const std::string& serial, const Ldev& l);
Ldev ldevFromRecord(const Record& r);
// Adds one record to a state (its array's record first); false with a reason.
bool applyRecord(State& s, const Record& r, std::string& why);
// The identity of a record within its kind, and the kind's load rank.
std::string recordKey(const Record& r);
int kindRank(const std::string& kind);

bool readFile(const std::string& path, std::string& out);
// Writes a sibling temporary file and renames it over path.
bool writeFileAtomic(const std::string& path, const std::string& text);

// A text table: columns padded to the widest cell plus two blanks, the last
// column unpadded, so no line ends in blanks. rightAlign marks columns printed
// flush right; indent puts that many blanks before every line.
std::string formatTable(const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& rightAlign = {}, int indent = 0);

bool isDigits(const std::string& s);
// The blank-separated words of a line.
std::vector<std::string> words(const std::string& line);

// A new array as `ccisim init` and Fixture::addArray make it: the model's
// highest LDEV id (65279 for a model the table does not hold) and the
// resource group every array has, "meta_resource" with id 0.
Array newArray(const std::string& serial, const std::string& model, const std::string& micro);

// The state file: $CCISIM_STATE when set, else <dir of argv0>/../state/ccisim.state
// (argv0 without a '/': the directory of the running binary + "/bin").
std::string statePathFor(const char* argv0);
// `ccisim <subcommand>`: init, show, journal, run, help. Returns the exit code.
int cliMain(const std::vector<std::string>& args, const std::string& statePath);
std::string hex10(uint64_t v);

// Lower-case hex digests.
std::string sha256Hex(const std::string& data);
std::string fnv1a64Hex(const std::string& data);
// "sha256$<salt>$<digest of salt:password>"; salt "" draws a new one.
std::string passwordHash(const std::string& password, const std::string& salt = "");
bool passwordMatches(const std::string& stored, const std::string& password);

}  // namespace detail
}  // namespace ccisim

#endif  // CCISIM_INTERNAL_H
