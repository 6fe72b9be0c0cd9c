// ccisim's state model: exit codes, the array and its objects, faults, the
// state's text form, the journal and running a tool. Plain values; the
// engine changes them, the renderers (ccisim_render.h) only read them, and
// tests build them through the fixture (ccisim_fixture.h).
#ifndef CCISIM_MODEL_H
#define CCISIM_MODEL_H

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>


namespace ccisim {

// ---------------------------------------------------------------------------
// Exit codes. The array's own codes are those the real tools use; the three
// syntax codes are this simulator's and deliberately distinctive, so that an
// unquoted value with a blank (an extra token) shows up as a failure that no
// array state can explain.
constexpr int kExitGeneric = 1;          // condition false / ordinary failure
constexpr int kExitNoUnit = 1;           // [EX_ENOUNT] -s names another array
constexpr int kExitAuth = 202;           // [EX_ENAUTH] no valid login
constexpr int kExitNoObject = 205;       // [EX_ENOOBJ] no such object
constexpr int kExitRejected = 221;       // [EX_CMDRJE] refused by the array
constexpr int kExitBadStatus = 222;      // [EX_INVSTP] invalid pair status, [EX_INVVOL] volume
constexpr int kExitNoLdev = 227;         // [EX_ENLDEV] LDEV id out of the array's range
constexpr int kExitStatusTimeout = 233;  // [EX_EWSTOT] command status not ready
constexpr int kExitNoGroup = 239;        // [EX_ENOGRP] pairsyncwait: no such group
constexpr int kExitNoDevice = 246;       // [EX_ENODEV] listing matched nothing
constexpr int kExitNotAttached = 251;    // [EX_ATTHOR] HORCM instance not running
constexpr int kExitUnknownOption = 252;  // [EX_UNKOPT] unknown option/extra token/command
constexpr int kExitMissingArg = 253;     // [EX_REQARG] option without its value
constexpr int kExitInvalidArg = 254;     // [EX_INVARG] value of the wrong form
constexpr int kExitHorcmStart = 2;       // horcmstart.sh: bad instance file

// Highest LDEV id of an array model code (the model table of the array
// family); -1 for a code the table does not hold.
int maxLdevForModel(const std::string& modelCode);

// Virtual LDEV id markers of Ldev::vid.
// Never given one: outside a virtual storage machine the own id (not
// printed), inside one none (printed as 65534).
constexpr int kVidImplicit = -1;
constexpr int kVidNone = 65534;  // no virtual id (after unmap resource)

// Causes of an array refusal (exit 221, [EX_CMDRJE]): each prints its own
// SSB pair and CAUSE text. kOther takes the text the command gives.
enum class Refusal {
  kLocked,              // resource locked by another user or host: 0x2E11,0x2205
  kNotInstalled,        // LDEV not installed: 0x2E20,0x0000
  kInputMissing,        // required input missing: 0x2E00,0x9701
  kPathDefined,         // LU path already defined: 0xB958,0x015A
  kLunUsed,             // LUN used by another LDEV: 0xB958,0x0947
  kHostIo,              // LU executing host I/O: 0xB958,0x0233
  kLastSnapshotPath,    // last path of a snapshot S-VOL: 0xB958,0x020A
  kHostGroupInstalled,  // host group already installed: 0xB956,0x3173
  kOther,               // any other refusal: 0x2E10,0x0000
};
// The error-stream text of a refusal by array `serial`; cause text "" takes
// the cause's own text.
std::string refusalText(const std::string& tool, const std::string& serial, Refusal cause,
                        const std::string& causeText = "");

// ---------------------------------------------------------------------------
// State model. Plain values; the engine and the fixture change them, the
// renderers only read them.

struct Ldev {
  int id = 0;
  bool defined = false;
  std::string volType = "OPEN-V-CVS";
  uint64_t capacity = 0;           // blocks
  std::vector<std::string> attrs;  // VOL_ATTR keywords, e.g. {"CVS","HDP"}
  std::string poolId = "NONE";     // B_POOLID
  std::string label;               // LDEV_NAMING
  int rsgid = 0;                   // kept also while undefined
  int vid = kVidImplicit;          // kept also while undefined
  int mpBlade = 0;
  bool hasAttr(const std::string& a) const;
};

struct Pool {
  int id = 0;
  std::string name;
  std::string status = "POLN";  // POLN normal, POLF full, POLS, POLE
  int usage = 0;                // %
  int threshold = 80;           // %
  std::string pt = "TI";        // pool type column (TI Thin Image, HDP, ...)
  // Columns of `get pool -key opt` the plug-in does not read.
  int volumes = 1;              // Num: pool volumes
  int firstLdev = -1;           // LDEV#: first pool volume (-1: 61440 + id)
  std::string vcap = "-";       // VCAP(%): "-" unlimited
  std::string type = "OPEN";    // TYPE: OPEN or M/F
  std::string pm = "N";         // PM
};

// One Thin Image pair (a P-VOL and one MU) in a snapshot group.
struct SnapPair {
  std::string group;
  bool ctg = false;
  int pvol = 0;
  int mu = 0;
  int poolId = 0;
  std::string state = "PAIR";  // PAIR COPY PSUS RCPY PSUE PFUS SFUS PFUL SMPL ...
  int svol = -1;               // associated target LDEV, -1 none
  int64_t splitTime = 0;       // seconds since 1970, 0 = no data stored
  int progress = 100;          // the % column
  std::string pendingTo;       // state reached when pendingLeft listings pass
  int pendingLeft = 0;         // listings until pendingTo; -1 never (stuck)
  uint64_t seq = 0;            // creation order
};

struct HostGroup {
  int gid = 0;
  std::string name;
  std::string mode = "LINUX/IRIX";
  std::string hmoBits = "-";
  int rsgid = 0;
  std::string iqn;  // target name of a host group on an iSCSI port
  // Initiators: (WWN, nickname or "-") on a Fibre Channel port, (IQN,
  // nickname or "-") on an iSCSI port.
  std::vector<std::pair<std::string, std::string>> wwns;
  std::map<int, int> luns;  // LUN -> LDEV id
  // LDEV id -> `delete lun` attempts still refused with "LU is executing
  // host I/O" (the host keeps the LU busy); -1 refuses every attempt.
  std::map<int, int> hostIo;
};

struct Port {
  std::string name;            // e.g. CL1-A
  std::string type = "FIBRE";  // or "ISCSI"
  std::string wwn;             // 16 lower-case hex digits
  std::vector<std::string> loginWwns;
  int rsgid = 0;
  std::map<int, HostGroup> hostGroups;  // by GID
};

struct ResourceGroup {
  std::string name;
  int id = 0;
  std::string vSerial;  // == array serial except in a VSM
  std::string vModel;   // V_ID
  std::string vIf = "Y";
  std::string lockStatus = "Unlocked";  // any text; "Locked"/"Unlocked" normally
  std::string lockOwner = "-";
  std::string lockHost = "-";
  // A lock held by someone else: released after this many plain
  // `get resource` listings have shown it; -1 never.
  int releaseAfterPolls = -1;
  // ... or released when the simulator's clock reaches this (ms); -1 never.
  int64_t releaseAtMs = -1;
};

struct CopyGroup {
  std::string name;
  // The copy group's first device group, listed first by `get copy_grp`.
  std::string ldevGroup;
  std::string mu = "h1";  // as printed: "h1" UR, "0" TC, "-" none set
  std::string jid = "3";  // as printed: "3" or "-"
  // Its further device groups (another P side, or the S side, whose MU is
  // "-" where none is set), one `get copy_grp` row each after the first.
  struct LdevGroup {
    std::string name;
    std::string mu = "-";
    std::string jid = "-";
  };
  std::vector<LdevGroup> moreLdevGroups;
  int ctg = 0;
  uint64_t qIssued = 0x01003408eeULL;
  uint64_t qCommitted = 0x01003408eeULL;
  // A waiting `pairsyncwait` commits the marker it waits for after this
  // many waits that found it not yet committed; 0 at once, -1 never.
  int commitAfterWaits = 0;
  int waits = 0;
  // When >= 0 (instead of commitAfterWaits): the marker commits once the
  // waits on it have lasted this long on the simulator's clock, so a wait
  // with a short -t (100 ms units) times out where a long one succeeds.
  int64_t commitAfterMs = -1;
  int64_t waitedMs = 0;
  // Answer exit 1 (TIMEOUT) even when the asked marker is committed.
  bool alwaysTimeout = false;
  // Status of the group's P-VOLs: other than "PAIR" refuses waits (222).
  std::string pvolStatus = "PAIR";
  // "" as the markers say, "BROKEN" (exit 2) or "CHANGED" (exit 3).
  std::string waitOutcome;
};

// A TrueCopy/UR/GAD pair as raidscan -p shows it for a local LDEV and MU.
struct RemotePair {
  int ldev = 0;
  int mu = 0;                  // 0..2
  std::string role = "P-VOL";  // P-VOL or S-VOL
  std::string status = "PAIR";
  std::string fence = "ASYNC";  // ASYNC DATA STATUS NEVER
  std::string rcuSerial;        // "----" when unknown
  std::string partner;          // partner LDEV id text
};

// How long asynchronous pair transitions take, counted in `get snapshot`
// listings that show the pair (not seconds): 0 completes at once,
// -1 never completes (stuck).
struct PairTiming {
  int addPolls = 0;              // add snapshot: COPY -> PAIR
  int resyncPolls = 2;           // resync: COPY -> PAIR
  int restorePolls = 2;          // restore: RCPY -> PAIR
  bool restoreEndsPsue = false;  // restore ends in PSUE instead of PAIR
};

// Where an Array reads the LDEVs it does not hold yet: the engine's state
// database, so that a command reads only the LDEVs it names.
class LdevSource {
 public:
  virtual ~LdevSource() = default;
  // The stored LDEV; false when none is stored (the id is undefined).
  virtual bool fetchLdev(const std::string& serial, int id, Ldev& out) = 0;
  // Every id of [first, last] not in `into` yet, stored or default.
  virtual void fetchLdevs(const std::string& serial, int first, int last,
                          std::map<int, Ldev>& into) = 0;
  // Every stored LDEV (one that differs from an undefined default) not in
  // `into` yet; the undefined defaults are left out.
  virtual void fetchStoredLdevs(const std::string& serial, std::map<int, Ldev>& into) = 0;
};

struct Array {
  std::string serial;
  std::string model = "M8S";
  int maxLdev = 2047;
  std::string micro = "80-06-70/00";
  int cacheMB = 512000;
  int firstSnapMu = 3;  // Thin Image MUs are allocated from here up to 1023
  PairTiming timing;
  // Sparse: ids not held are undefined with defaults, or (with a source) not
  // read yet; reading through ldev() fills it, hence mutable.
  mutable std::map<int, Ldev> ldevs;
  LdevSource* source = nullptr;
  std::map<int, Pool> pools;
  std::vector<SnapPair> pairs;  // in creation order
  std::map<std::string, Port> ports;
  std::map<std::string, ResourceGroup> resourceGroups;  // by name
  std::map<std::string, CopyGroup> copyGroups;
  std::vector<RemotePair> remotePairs;
  // `get ldev` in the global-virtualisation form: "Serial# : <virtual>
  // PHY_Serial#  : <physical>" and "LDEV : <virtual> PHY_LDEV : <physical>".
  bool globalVirtualization = false;

  // The LDEV with that id (a default undefined one when not held).
  Ldev ldev(int id) const;
  Ldev& ldevRef(int id);  // creates the entry when missing
  // Reads every LDEV of [first, last] (of the whole array by default) into
  // `ldevs`, so that loops over `ldevs` see them all.
  void loadLdevs(int first = 0, int last = -1) const;
  // Reads only the LDEVs that differ from an undefined default (every
  // defined one among them): a listing of defined LDEVs costs their number,
  // not the model's id range.
  void loadStoredLdevs() const;
  const ResourceGroup* groupById(int id) const;
  ResourceGroup* groupById(int id);
  SnapPair* pair(int pvol, int mu);
  const SnapPair* pair(int pvol, int mu) const;
  HostGroup* hostGroup(const std::string& port, int gid);
  const HostGroup* hostGroup(const std::string& port, int gid) const;
};

struct CommandDevice {
  std::string path;  // OS path as written in the instance file
  std::string serial;
  int ldev = 0;
};

struct Instance {
  int number = 0;
  bool running = false;
  std::string serial;  // array the instance attaches
  std::string host;    // from the HORCM_MON line
  std::vector<std::string> devices;
  std::string user;  // login user ("" none)
  bool loggedIn = false;
  int loginTtl = -1;  // commands left before the login expires; -1 never
};

// Command status of one login user on one array: the first error is kept,
// ERR_CNT counts every error, until `reset command_status` or that user's
// logout.
struct CommandStatus {
  int errCnt = 0;
  std::string ssb1 = "-";
  std::string ssb2 = "-";
  std::string description = "-";
  int handle = 0x00c3;
};

// Fault injection: named switches (kind) with a match and a count.
// A fault matches an invocation when `tool` is empty or equals the tool name
// and the words of `match` occur as consecutive argv words (exact words:
// "-ldev_id 256" does not match "-ldev_id 2560"; "" matches all). It lets
// `skip` matching invocations pass, then fires on the next `times` ones
// (-1: every one). Kinds:
//   "fail"        exit `exitCode` with `out` on stdout and `err` on the error
//                 stream; applyEffect: the command runs first and the texts
//                 are appended to its own output (a warning with exit 0, or a
//                 failure that took effect anyway).
//   "expireLogin" the instance's login ends before the command is checked, so
//                 the command gets 202 through the ordinary login check.
//   "statusError" the command exits 0 without effect and the command status
//                 of the login user records `errCnt` errors with `description`.
//                 Only commands the array carries out after the tool returned
//                 (isAsynchronous) fail this way; others report by exit code,
//                 so the fault passes them by.
//   "statusReset" the command exits 0 without effect, and the command status
//                 of the login user is reset in between (as another session
//                 of the same array user does): it counts no error. Only the
//                 commands that isAsynchronous names, as for statusError.
//   "hang"        sleep hangMillis, before the effect (hangBefore: a time-out
//                 kills it before anything changed) or after it; the state
//                 lock is released while sleeping.
//   "garble"      rewrite the standard output: dropFinalNewline, dropHeader,
//                 extraPreamble, leadingBlanks (every line), rightAligned
//                 (data lines begin with blanks), trailingBlanks, crlf, empty,
//                 randomBytes, truncate (cut in the middle of the last line).
// Faults are counted in the state file, so they act across processes. At
// most one fault of each kind fires per invocation (the first that fires).

// True for the commands that the array accepts and carries out after the
// tool has returned, whose failures show only in "get command_status":
// raidcom add ldev, delete ldev, add snapshot, delete snapshot, modify
// snapshot, map snapshot and unmap snapshot (argv after the tool name).
bool isAsynchronous(const std::string& tool, const std::vector<std::string>& argv);
struct Fault {
  int id = 0;
  std::string kind;
  std::string tool;
  std::string match;
  int skip = 0;
  int times = 1;
  int seen = 0;   // matching invocations so far
  int fired = 0;  // firings so far
  int exitCode = 1;
  std::string out;
  std::string err;
  bool applyEffect = false;
  int errCnt = 1;
  std::string description;
  int hangMillis = 0;
  bool hangBefore = false;
  std::string garble;

  // Constructors of the usual switches.
  static Fault fail(const std::string& tool, const std::string& match, int exitCode,
                    const std::string& errText, int times = 1);
  // The array refuses the command (exit 221, the cause's SSB pair and text).
  static Fault refusal(const std::string& tool, const std::string& match, const std::string& serial,
                       Refusal cause, int times = 1);
  static Fault expireLogin(const std::string& match = "", int times = 1);
  static Fault statusError(const std::string& match, int errCnt, const std::string& description);
  static Fault statusReset(const std::string& match);
  // `get command_status` exits 233 `times` times; withRow: the busy answer
  // still prints a status row (ERR_CNT 0), else it prints nothing.
  static Fault statusBusy(int times, bool withRow);
  static Fault hang(const std::string& tool, const std::string& match, int millis, bool before);
  // Every command of every tool answers `millis` later (after its effect).
  static Fault slow(int millis);
  static Fault garbleOutput(const std::string& tool, const std::string& match,
                            const std::string& mode, int times = 1);
};

struct State {
  int64_t tick = 0;
  int64_t clockMs = 0;                // the simulator's clock: advanced by waits the tools make
  std::string etcDir = "/etc/";       // where horcm<N>.conf files are read
  std::string hostName = "mahost01";  // expected host of instance files (strictHorcm)
  std::string cciVersion = "01-40-03/01";
  // "raidcom": every raidcom verb except -login/-logout needs a login;
  // "all": raidscan and pairsyncwait too. raidqry never does.
  std::string authScope = "raidcom";
  std::string errorStream = "stderr";  // or "stdout"
  bool strictHorcm = false;            // instance file host and marker serial must match
  // Print "VOL_ATTR : NOT DEFINED" for undefined LDEVs (the real array
  // prints only "VOL_TYPE : NOT DEFINED").
  bool undefinedVolAttr = false;
  std::map<std::string, std::string> users;  // name -> salted password hash
  std::vector<CommandDevice> commandDevices;
  std::map<int, Instance> instances;
  std::map<std::string, CommandStatus> statuses;  // by statusKey(user, serial)
  std::map<std::string, Array> arrays;            // by serial
  std::vector<Fault> faults;
  int nextFaultId = 1;
  uint64_t nextSeq = 1;

  Array* array(const std::string& serial);
  const Array* array(const std::string& serial) const;
  const CommandDevice* commandDevice(const std::string& path) const;
  // The command status of a login user on an array (created when missing).
  CommandStatus& status(const std::string& user, const std::string& serial);
  CommandStatus statusOf(const std::string& user, const std::string& serial) const;
  void setPassword(const std::string& user, const std::string& password);
  bool checkPassword(const std::string& user, const std::string& password) const;
};
std::string statusKey(const std::string& user, const std::string& serial);

// Text form of the state: one record per line, "<kind> key=value ...", values
// percent-encoded (the records of the database, ccisim_records.cpp).
std::string serializeState(const State& s);
// Returns false (with a reason) on a line it cannot read.
bool parseState(const std::string& text, State& out, std::string* error);

// ---------------------------------------------------------------------------
// Journal: one line per invocation in "<state>.journal".
struct JournalEntry {
  int64_t tick = 0;
  std::string tool;
  std::vector<std::string> argv;  // after the tool name, as received
  std::string instance;           // "" when none was given
  std::string serial;             // -s value, "" when none
  int exitCode = 0;
  bool hangMarker = false;  // written when a hang-before fault starts sleeping
  // The output as kept: whole up to kJournalKeep bytes, else its start and
  // its end around a line that says how much was left out; the size and
  // checksum (FNV-1a, 16 hex digits) are those of the whole text.
  std::string out;
  std::string err;
  uint64_t outSize = 0;
  uint64_t errSize = 0;
  std::string outChecksum;
  std::string errChecksum;
  int stateWrites = 0;       // state records the invocation wrote (0: read only)
  std::string line() const;  // argv joined by single blanks (password masked)
};
constexpr size_t kJournalKeep = 4096;
// The journal of the state database at statePath, oldest first.
std::vector<JournalEntry> readJournal(const std::string& statePath);

// ---------------------------------------------------------------------------
// Running a tool.
struct Outcome {
  int exitCode = 0;
  std::string out;
  std::string err;
  int hangMillis = 0;  // sleep a hang-after fault asks for
};

// Runs one invocation against the state database in this process: load,
// apply, save, journal, in one transaction. A hang-before fault sleeps here
// for real (outside the transaction).
Outcome invoke(const std::string& statePath, const std::string& tool,
               const std::vector<std::string>& args);

}  // namespace ccisim

#endif  // CCISIM_MODEL_H
