// ccisim: a stateful stand-in for the array and its CCI command-line tools.
//
// One executable (`ccisim`) answers as raidcom, raidqry, raidscan,
// pairsyncwait, horcmstart.sh and horcmshutdown.sh, chosen by the name it is
// started under (symlinks in toolDir()). The array lives in one SQLite
// database (environment variable CCISIM_STATE, else
// <tool dir>/../state/ccisim.state); every invocation is one transaction
// that reads what its command needs, applies the effect, writes back the
// records that changed and adds one row to the journal.
//
// This header is what tests of every folder use:
//   - the state model (State, Array, Ldev, ...) and its text form,
//   - Fixture: builds a state file in a temporary directory, adds faults,
//     reads the journal, and runs a tool in-process or as a real child,
//   - the renderers: pure functions from state to the exact text each tool
//     prints, so a parser can be round-tripped against them,
//   - SCSI inquiry pages (standard and vendor page 0xE2) of the array's
//     LDEVs and command devices, so inquiry doubles and the array agree.
//
// The simulator shares no code with the plug-in: it is an independent reader
// of the same command lines and an independent writer of the same layouts.
#ifndef CCISIM_FIXTURE_H
#define CCISIM_FIXTURE_H

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
  std::string pt = "HTI";       // pool type column (HTI Thin Image, HDP)
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
  std::string ldevGroup;
  std::string mu = "h1";  // as printed: "h1" UR, "0" TC
  std::string jid = "3";  // as printed: "3" or "-"
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

// The tool directory (ends with "/"): symlinks raidcom, raidqry, raidscan,
// pairsyncwait, horcmstart.sh, horcmshutdown.sh -> ccisim.
std::string toolDir();
std::string ccisimBinary();

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
// `raidcom get pool -key opt`.
std::string renderGetPool(const Array& a);
// `raidqry -l`: one row per array serial given; rows begin with blanks as the
// real tool's do.
std::string renderRaidqryList(const State& s, const std::vector<std::string>& serials,
                              const std::string& host);
// `raidqry -h`.
std::string renderRaidqryHelp(const std::string& cciVersion);
// `raidcom get command_status`.
std::string renderCommandStatus(const CommandStatus& st, const std::string& serial);
// `raidscan -p <port>-<gid> -CLI -m <mu>`: one row per LUN of the group.
std::string renderRaidscanPort(const Array& a, const std::string& port, int gid, int mu);
// `raidscan -CLI -pdg <dev>`: one row per LU path of the LDEV.
std::string renderRaidscanPdg(const Array& a, int ldev);
// `raidcom get copy_grp`.
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

// ---------------------------------------------------------------------------
// Fixture: a state file in its own temporary directory.
//
// Every builder is one transaction on the database (load, change, save),
// so it can be interleaved with tool runs of other processes. The fixture
// does not touch the environment unless exportEnv() is called.
class Fixture {
 public:
  // dir empty: a new directory under $TMPDIR (or /tmp), removed by the
  // destructor. The etcDir of the new state is $ZRHOST_HORCM_ETC_DIR when
  // set, else <dir>/etc/ (created either way). Builders throw
  // std::runtime_error when they name something the state does not hold.
  explicit Fixture(const std::string& dir = "");
  ~Fixture();
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  const std::string& dir() const { return dir_; }
  std::string statePath() const;
  std::string journalPath() const;  // the journal is a table of the state database
  std::string etcDir() const;
  // setenv CCISIM_STATE to statePath().
  void exportEnv() const;

  // Transactions on the state.
  State load() const;
  void update(const std::function<void(State&)>& change) const;

  // Simulator-wide settings.
  void setEtcDir(const std::string& dir);  // ends with '/'
  void setCciVersion(const std::string& version);
  void setAuthScope(const std::string& scope);
  void setErrorStream(const std::string& stream);  // "stderr" or "stdout"
  void setStrictHorcm(bool strict, const std::string& hostName);
  void setUndefinedVolAttr(bool on);
  void addUser(const std::string& name, const std::string& password);

  // Arrays and their contents. serial: up to 6 digits.
  void addArray(const std::string& serial, const std::string& model = "M8S",
                const std::string& micro = "80-06-70/00");
  void setArray(const std::string& serial, const std::function<void(Array&)>& change);
  void addLdev(const std::string& serial, const Ldev& l);  // l.defined is set
  // A defined OPEN-V-CVS LDEV with attributes CVS HDP in pool `pool`.
  void addSourceLdev(const std::string& serial, int id, uint64_t blocks, int pool = 0,
                     const std::string& label = "");
  void addPool(const std::string& serial, const Pool& p);
  void addPort(const std::string& serial, const std::string& port, const std::string& wwn,
               const std::string& type = "FIBRE");
  void addLoginWwn(const std::string& serial, const std::string& port, const std::string& wwn);
  void addHostGroup(const std::string& serial, const std::string& port, int gid,
                    const std::string& name, int rsgid = 0);
  void addHostGroupWwn(const std::string& serial, const std::string& port, int gid,
                       const std::string& wwn, const std::string& nick = "-");
  void addLun(const std::string& serial, const std::string& port, int gid, int lun, int ldev);
  // The host keeps LDEV ldev's LU in that host group busy: the next
  // `refusals` delete lun attempts are refused (221, "LU is executing host
  // I/O"); -1 refuses them all, 0 ends the busy window.
  void setLunHostIo(const std::string& serial, const std::string& port, int gid, int ldev,
                    int refusals);
  void addResourceGroup(const std::string& serial, const std::string& name, int id,
                        const std::string& vSerial = "", const std::string& vModel = "");
  // A lock held by (user, host); released after `releaseAfterPolls` plain
  // `get resource` listings (-1 never). status lets a test set any text.
  void setForeignLock(const std::string& serial, const std::string& group, const std::string& user,
                      const std::string& host, int releaseAfterPolls = -1,
                      const std::string& status = "Locked");
  void addCopyGroup(const std::string& serial, const CopyGroup& g);
  void addRemotePair(const std::string& serial, const RemotePair& p);
  // A command device: path -> (serial, ldev); defines the LDEV with
  // attributes CVS CMD when it is not defined yet.
  void addCommandDevice(const std::string& path, const std::string& serial, int ldev);
  // A pair added as `add snapshot` would (lowest free MU); returns the MU.
  int addSnapshotPair(const std::string& serial, const std::string& group, int pvol, int pool,
                      const std::string& state = "PAIR", bool ctg = false, int svol = -1);
  void setPairState(const std::string& serial, int pvol, int mu, const std::string& state);
  void setPairPending(const std::string& serial, int pvol, int mu, const std::string& to,
                      int polls);
  void setPairTiming(const std::string& serial, const PairTiming& t);

  // HORCM instances.
  void writeHorcmFile(int instance, const std::string& host, const std::string& serial,
                      const std::vector<std::string>& devices) const;
  std::string readHorcmFile(int instance) const;  // "" when missing
  // Marks an instance running (attached to serial) or stopped, without a file.
  void setInstanceRunning(int instance, const std::string& serial,
                          const std::string& host = "mahost01");
  void setInstanceStopped(int instance);
  // Logs the instance in as `user` (optionally expiring after ttl commands).
  void setLoggedIn(int instance, const std::string& user, int ttl = -1);
  Instance instance(int n) const;

  // Faults: returns the id.
  int addFault(Fault f);
  void clearFaults();
  Fault fault(int id) const;

  // Journal.
  std::vector<JournalEntry> journal() const;
  // Entries of one tool whose argv line contains every word of match.
  std::vector<JournalEntry> journal(const std::string& tool, const std::string& match) const;
  void clearJournal() const;

  // Runs a tool in this process (see invoke()).
  Outcome run(const std::string& tool, const std::vector<std::string>& args) const;
  // Runs a tool as a real child process from toolDir(), with CCISIM_STATE set
  // for the child only; the words are passed as separate argv entries.
  Outcome runProcess(const std::string& tool, const std::vector<std::string>& args) const;

  // Inquiry pages of an array LDEV, and of a command device by path.
  std::vector<uint8_t> inquiryStandard(const std::string& serial, int ldev) const;
  std::vector<uint8_t> inquiryE2(const std::string& serial, int ldev) const;
  std::vector<uint8_t> commandDeviceInquiryStandard(const std::string& path) const;
  std::vector<uint8_t> commandDeviceInquiryE2(const std::string& path) const;

 private:
  std::string dir_;
  bool ownDir_ = false;
};

}  // namespace ccisim

#endif  // CCISIM_FIXTURE_H
