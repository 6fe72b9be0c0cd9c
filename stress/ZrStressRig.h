#pragma once
// The stress rig: one simulated array in a work directory, backup jobs that
// drive it through the loaded plug-in (ZrTestHost), and the checks that a
// job left the array and the machine as they should be.
//
// Work directory (as the test host's runner makes it):
//   cci/bin/ cci/state/ etc/ locks/ logs/ tmp/ intent/ settings.ini
// The array ("412345") holds `sources` source LDEVs from 256 up, each mapped
// to the host's host group mahost01_hg on CL1-A, a Thin Image pool (5) for
// the pairs and S-VOLs, a DP pool (6) for the sources and a command device.
//
// Jobs run their operations in child processes (forked from a process that
// holds the pristine state), so that a crash, a hang or a kill of the job
// never takes the measuring process with it.
//
// Thread-safety: one thread; a process may fork jobs one at a time.
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sim/ccisim_fixture.h"
#include "host/testing/ZrFakeClock.h"
#include "testhost/ZrCompressedClock.h"
#include "testhost/ZrTestHost.h"

constexpr const char kZrStressSerial[] = "412345";
constexpr int kZrStressFirstLdev = 256;
constexpr const char kZrStressPort[] = "CL1-A";
constexpr int kZrStressHostGroup = 1;  // the host's, holding the sources
constexpr const char kZrStressInitiator[] = "210000e08b0256f8";
constexpr long kZrStressHostNumber = 0x1F;

// The operations of a backup job's life cycle, in order.
enum class ZrStressOp { kPrepare, kSnap, kMap, kUnmap, kRevert, kReconcile, kDelete };
constexpr int kZrStressOpCount = 7;
const std::vector<ZrStressOp>& zrStressOps();
std::string zrStressOpName(ZrStressOp op);  // "prepare", "snap", ...
std::string zrStressOpExport(ZrStressOp op);
// The device status each operation leaves on success.
int zrStressOpStatus(ZrStressOp op);

// The time limit of one job of a run.
constexpr int kZrStressJobTimeoutMs = 600000;

// Prints a run's text to out and appends it to the report file (when given).
void zrFinishReport(const std::string& report, const std::string& text, std::ostream& out);

// Makes the work directory afresh with the array and points this process's
// host, plug-in and simulator locations into it. The fixture adds faults and
// reads the journal of that state; null with *error set on failure.
std::unique_ptr<ccisim::Fixture> zrStressMakeArray(const std::string& dir, int sources,
                                                   std::string* error);
// Points this process's locations into an existing work directory.
void zrStressUseDir(const std::string& dir);
// Another host on the same array: the host's own locations (settings, named
// locks, logs, temporary files, intent records) go into hostDir (made when
// missing), the array's (CCI tools, HORCM files, simulator state) stay
// dir's. Its settings store gets the rig's bus refresh delay.
void zrStressUseHostDir(const std::string& dir, const std::string& hostDir);
std::string zrStressStatePath(const std::string& dir);

// Copies of the parts of a work directory a job changes (state, settings,
// HORCM files, locks, temporary files), to start cells from one state.
void zrStressSaveDir(const std::string& dir, const std::string& copy);
void zrStressRestoreDir(const std::string& copy, const std::string& dir);

// What the array holds for one source device.
struct ZrDeviceObjects {
  int pairs = 0;     // snapshot pairs of the source
  int svols = 0;     // S-VOLs associated with those pairs that are defined
  int lunPaths = 0;  // LU paths of those S-VOLs
  std::string states;  // the pairs' states in creation order, joined by ","
  bool operator==(const ZrDeviceObjects& o) const {
    return pairs == o.pairs && svols == o.svols && lunPaths == o.lunPaths && states == o.states;
  }
  std::string text() const;
};

// The array as a whole.
struct ZrArrayObjects {
  int pairs = 0;
  int groups = 0;      // snapshot groups
  int svols = 0;       // LDEVs labelled as the job's S-VOLs
  int lunPaths = 0;    // every LU path
  int hostGroups = 0;  // every host group
  std::string text() const;
};

ccisim::State zrStressLoad(const std::string& dir);
ZrDeviceObjects zrDeviceObjects(const ccisim::State& s, int sourceLdev);
ZrArrayObjects zrArrayObjects(const ccisim::State& s);

// Machine-wide checks that hold when no job runs: zrInvariantFailures of
// the test host, and no live holder in any holder list of the lock dir.
std::vector<std::string> zrStressIdleFailures(const ccisim::State& s,
                                              const std::vector<ZrDeviceState>& devices);

// One backup job: devices on sources [firstLdev, firstLdev + count).
struct ZrStressJobSpec {
  int firstLdev = kZrStressFirstLdev;
  int count = 4;
  int subclient = 7;
  int clockScale = 100;
  std::string logFile;  // "" the host's default
  // The host: its initiator (in a host group of the sources) and number.
  std::string initiator = kZrStressInitiator;
  long hostNumber = kZrStressHostNumber;
};

// Job 0 is the plan's; addJob adds further jobs of the same host process
// (one test host: the plug-in, OS utility and clock are shared), each on
// its own sources and subclient.
class ZrStressJob {
 public:
  explicit ZrStressJob(const ZrStressJobSpec& plan);
  ~ZrStressJob();
  // Loads the plug-in and makes the device objects; the work directory
  // must be in use (zrStressUseDir).
  bool open(std::string* error);
  // After open: the devices of another job of this host process (its
  // firstLdev, count and subclient; the clock and log file stay this
  // job's). Returns its number.
  int addJob(const ZrStressJobSpec& plan);
  // Runs one operation on every device of a job (revert: on the first only).
  int run(ZrStressOp op, int job = 0);
  // Runs the operations from `from` to the end of the life cycle, stopping
  // at the first that fails; the failing operation's name in *failed.
  int runFrom(ZrStressOp from, std::string* failed);
  // The host keeps what a call stored from the moment it returns: onReturn
  // gets the result there (null: nothing is called).
  void setOnReturn(std::function<void(int result)> onReturn);
  std::vector<ZrDeviceState> states(int job = 0) const;
  void setStates(const std::vector<ZrDeviceState>& states, int job = 0);
  const ZrStressJobSpec& plan() const { return m_spec; }
  ZrTestHost& host() { return *m_host; }

 private:
  struct Devices {
    size_t first = 0;  // index of the job's first device in the host
    int count = 0;
  };
  void addDevices(const ZrStressJobSpec& plan);

  ZrStressJobSpec m_spec;
  std::vector<Devices> m_jobs;
  std::unique_ptr<ZrCompressedClock> m_clock;
  std::unique_ptr<ZrScopedClock> m_scoped;
  std::unique_ptr<ZrTestHost> m_host;
};

// A device state as one line of text and back (for results that travel from
// a child job through a pipe).
std::string zrStateLine(const ZrDeviceState& s);
bool zrStateFromLine(const std::string& line, ZrDeviceState& out);

// One operation of job on devices in states, as the text a child job hands
// back ("R <result>" and a state line per device), and that text read back
// (false when it is not one; word: a word after the result, when given).
std::string zrRunOpPayload(ZrStressJob& job, const std::vector<ZrDeviceState>& states,
                           ZrStressOp op);
bool zrReadOpPayload(const std::string& text, int* result, std::vector<ZrDeviceState>* states,
                     std::string* word = nullptr);
// Device states as lines of zrStateLine.
std::string zrStatesText(const std::vector<ZrDeviceState>& states);

// Runs worker(w, dir + "/w<w>") for w in [0, workers) in as many forked
// processes side by side and waits for them; true when every one exited 0.
bool zrRunWorkers(int workers, const std::string& dir,
                  const std::function<int(int w, const std::string& workerDir)>& worker);
// The lines each worker of zrRunWorkers wrote to <dir>/w<w>/<file>, in
// worker order, each split at its tabs.
std::vector<std::vector<std::string>> zrReadWorkerRows(int workers, const std::string& dir,
                                                        const std::string& file);
// The head of a results table: "| <first> | prepare | snap | ... |" and its
// rule line.
std::string zrOpTableHead(const std::string& first);

// A child process: runs body (which returns the text to hand back) and
// exits. The result of waiting for it.
struct ZrChildResult {
  bool exited = false;    // ran to its end and exited 0
  bool signaled = false;  // died of a signal (crash or kill)
  int signal = 0;
  bool timedOut = false;  // killed after the time limit
  std::string text;
  double seconds = 0;
};
// killAfterMs >= 0: SIGKILL the child that many milliseconds after it
// started (a crash at a random point); timeoutMs: the time limit.
ZrChildResult zrRunChild(const std::function<std::string()>& body, int timeoutMs,
                         int killAfterMs = -1);
// In the body of zrRunChild: hands text back at once, ahead of what the
// body returns (it arrives even when the child is killed afterwards).
void zrChildHandBack(const std::string& text);

// This process adopts the orphans of its jobs (the tools a killed job
// started), so that they can be waited for and counted.
void zrBecomeSubreaper();
// Waits up to graceMs for every remaining child of this process (orphans
// included); returns how many were alive at the start, *left how many were
// still alive at the end (those are killed).
int zrReapOrphans(int graceMs, int* left);
// The live (not zombie) child processes of a process.
std::vector<int> zrChildrenOf(int parent);
