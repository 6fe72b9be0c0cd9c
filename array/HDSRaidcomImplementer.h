// ZRHDSRaidcomImplementer: the CCI (raidcom) implementation of the array
// command interface.
//
// For the developers of the operation files (HDSRaidcomLdev.cpp,
// HDSRaidcomSvol.cpp, HDSRaidcomResourceGroup.cpp, HDSRaidcomSnapshot.cpp,
// HDSRaidcomPool.cpp, HDSRaidcomReplication.cpp, HDSRaidcomHostGroup.cpp,
// HDSRaidcomPort.cpp):
//  - Compose a command as (command part, arguments) and run it through
//    executeCommandMain (or executeScriptFile for scripts). Never start a
//    process yourself: every run goes through the ZRHDSCommandRunner given at
//    construction, which is how tests record and answer command lines.
//  - Every non-fixed value goes through HDSShell::quote (array/HDSShellQuote.h);
//    ids, MUs and serials must pass HDSShell::isDecimal, otherwise call
//    refuseInvalidInput and return 1 without running anything.
//  - The common options come from getCommonParams; the CCI minor version from
//    getCCIMinorVersion(); log with logMessage(level, "ZRHDSRaidcomImplementer::op", ...).
//  - Tests: construct with the (snapInfo, params, runner, false) constructor,
//    which skips initialize(); array/tests/support/HDSRaidcomTestPeer.h sets
//    the members initialize() would have set (temporary directory, time-outs,
//    CCI version, command devices, keep flag).
//
// Thread-safety: one object per job and thread; the process-wide statics
// (CCI version, file-name counters, login-in-progress flag, local host name)
// are guarded internally.
#ifndef ZR_ARRAY_HDSRAIDCOMIMPLEMENTER_H
#define ZR_ARRAY_HDSRAIDCOMIMPLEMENTER_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "array/HDSAsyncOutcome.h"
#include "array/HDSCommandImplementer.h"
#include "array/HDSCommandRunner.h"
#include "array/HDSTextColumns.h"

class ZRHDSHolderCount;

class ZRHDSRaidcomImplementer : public ZRHDSCommandImplementer {
 public:
  // Constructs and runs initialize() with the production runner; read
  // getIsInitializedStatus afterwards.
  ZRHDSRaidcomImplementer(ZRSO::SnapInfo*& snapInfo, ZRHDSCommandHandlerInputParams& params);
  // Runs every command through runner (which must outlive the object);
  // initialize() runs only when runInitialize is true.
  ZRHDSRaidcomImplementer(ZRSO::SnapInfo*& snapInfo, ZRHDSCommandHandlerInputParams& params,
                          ZRHDSCommandRunner& runner, bool runInitialize);
  ~ZRHDSRaidcomImplementer() override;

  // ---- Interface operations -------------------------------------------
  // Initialisation (HDSRaidcomInit.cpp).
  int initialize() override;
  // Login and logout (HDSRaidcomLogin.cpp).
  int login(bool force) override;
  int logout() override;
  // raidqry host listing (HDSRaidcomRaidqry.cpp).
  int getCCIRaidqryInfo(HDSRaidqryInfo& info) override;

  // Resource groups (HDSRaidcomResourceGroup.cpp).
  int getResourceGroupFromLdev() override;
  int getResourceGroupInfo(std::map<std::string, ResourceGroupInfo>& groups,
                           bool keyOption) override;
  int lockUnlockResourceGroup(std::string groupName, bool unlock, bool noName) override;
  int unmapFromResourceGroup(const std::string& resource, const std::string& virtualResource,
                             const HDSResourceType& kind) override;
  int addToResourceGroup(const std::string& resource, const HDSResourceType& kind) override;
  int mapToResourceGroup(const std::string& resource, const std::string& virtualResource,
                         const HDSResourceType& kind) override;
  int deleteFromResourceGroup(const std::string& resource, const HDSResourceType& kind) override;

  // LDEV queries (HDSRaidcomLdev.cpp).
  int getLdevInfo(std::vector<HDSLdevInfo>& ldevs) override;
  int getLdevSpan(int first, int count, std::vector<HDSLdevInfo>& ldevs) override;
  int listLdevsAt(const std::vector<std::string>& ids,
                  std::map<std::string, HDSLdevInfo>& listed) override;
  // getLdevInfo of several LDEVs, by listings.
  int getLdevInfoListed(std::vector<HDSLdevInfo>& ldevs);
  int getMaxLdevNumber(int& maxLdev) override;
  int getLdevList(std::vector<HDSLdevInfo>& ldevs,
                  const std::map<int, std::string>& filter) override;

  // S-VOLs (HDSRaidcomSvol.cpp).
  int createSvols(const NewLdevWatch& watch) override;
  int deleteSvols(const std::string& ldev) override;
  int modifySvolLabel(const std::vector<ZRHDSSnapInfo>& snaps, bool revert) override;

  // Snapshots (HDSRaidcomSnapshot.cpp).
  int getSnapshotGroupList(std::vector<HDSSnapshotGroupInfo>& list, const std::string& key,
                           const bool& byLdev) override;
  int addToSnapshotGroup() override;
  int modifySnapshot(const std::map<std::string, std::string>& keys,
                     const std::string& operation) override;
  int deleteSnapshot(const std::string& ldev, const std::string& mu) override;
  int mapSnapshot(const std::string& pvol, const std::string& target,
                  const std::string& mu) override;
  int unmapSnapshot(const std::string& pvol, const std::string& mu) override;

  // Batches (HDSRaidcomBatch.cpp).
  int mapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                       std::vector<bool>& done) override;
  int unmapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                         std::vector<bool>& done) override;
  int deleteSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                          std::vector<bool>& done) override;
  int resyncSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                          std::vector<bool>& done) override;
  int deleteSvolBatch(const std::vector<std::string>& ldevs, int pauseSeconds,
                      std::vector<bool>& done) override;

  // Pools (HDSRaidcomPool.cpp).
  int getPoolList(std::vector<HDSPoolInfo>& pools) override;

  // Replication pairs, copy groups, Q-markers (HDSRaidcomReplication.cpp).
  int getRemotePairInfoForHostGroup(const std::string& hostGroup,
                                    std::vector<HDSPairInfo>& pairs) override;
  int getCopyGroup(std::vector<HDSCopyGroup>& groups, const std::string& copyGroupName) override;
  int getQMarkerForCopyGroup(const std::string& copyGroup, std::string& qmarker) override;
  int pairSyncWait(const std::string& copyGroup, const std::string& qmarker, const int& seconds,
                   bool& committed) override;

  // Host groups and LU paths (HDSRaidcomHostGroup.cpp).
  int getLunsForHostGroup(const std::string& port, const std::string& hostGroup,
                          std::vector<HDSLunInfo>& luns) override;
  int mapLdevToHostGroup(const std::string& ldev, const std::string& port,
                         const std::string& hostGroup) override;
  int createHostGroup(const std::string& port, const std::string& name) override;
  int deleteHostGroup(const std::string& port, const std::string& hostGroup) override;
  int unmapLdevFromHostGroup(const std::string& ldev, const std::string& port,
                             const std::string& hostGroup) override;

  // Ports and host-group discovery (HDSRaidcomPort.cpp).
  int getPortHostGroupList(const std::string& port, const std::string& hostGroupName,
                           HDSPortInfo& info, bool collectWwns, const std::string& wwn,
                           const bool& ownResourceGroupOnly) override;
  int getHostGroupInfo(const std::string& port, const std::string& hostGroupNumber,
                       HDSHostGroupInfo& info) override;
  int getPortList(std::vector<HDSPortInfo>& ports) override;
  int getPortLoginWWNList(const std::string& port, HDSPortInfo& info) override;
  int getHostGroupOfCommandDevice(std::string& hostGroup) override;

  // ---- LDEV listing parser (HDSRaidcomLdev.cpp) ------------------------
  // Pure functions over the text of "raidcom get ldev"; public so that
  // tests, fuzzers and benchmarks reach them without an object.
  // Appends one record per "Serial#" block (label filter key 0x10); always 1.
  static int parseGetLdevOutput(const std::string& output, std::vector<HDSLdevInfo>& ldevs,
                                const std::map<int, std::string>& filter);
  // Parses the whole "PORTs" line; 0 when shorter than 9 characters.
  static int parsePortList(const std::string& line, std::vector<HDSLunInfo>& luns);
  // Bit set of the blank-free VOL_ATTR value ("NOTDEFINED" gives 1).
  static int volumeAttributeMap(const std::string& attribute);

  // ---- Shared state readers --------------------------------------------
  // The installed CCI version text (such as 01-40-03/01), empty until read.
  static std::string getCCIVersion();
  // Characters 3-4 of the CCI version as a number; 0 when the version text
  // does not have the NN-NN-NN/NN shape.
  static int getCCIMinorVersion();

  // Creates the per-array login count key ("sZRHDSRaidcomLockCount_" +
  // serial) under "RAIDCOM_LOGIN_LOCK" when it is missing, holding the
  // number of live login holders. 0 ok, 1 failure (logged through logger).
  static int ensureLoginCountKey(ZRSO::SnapInfo* logger, const std::string& serial);

 private:
  friend class ZRHDSRaidcomTestPeer;

  // ---- Command devices (HDSRaidcomCommandDevice.cpp) -------------------
  // Reuses this process's cached list (re-checked by inquiry) or discovers
  // the command devices of the job's array. 1 success, 0 failure.
  int getCommandDeviceList(std::vector<std::string>& devices);
  // /dev/dsk, /dev/disk, /dev/hdisk paths to their raw form; always 1.
  int formatCommandDeviceName();
  // Finds a command device with "raidscan -x findcmddev"; 0 found, 1 failure.
  int CheckIfCommandDeviceExist();
  // True when the inquiry of path shows a command device of the job's array.
  bool isCommandDeviceOfArray(const std::string& path);

  // ---- HORCM instance file and control (HDSRaidcomHorcm.cpp) -----------
  int createRaidcomHorcmFiles(const std::string& serial, bool forceRecreate);
  int readRaidcomHorcmFiles(int instance, std::set<std::string>& serials);
  int horcmStart(const char* instance);
  int horcmShutdown(const char* instance);
  int removeHorcmFiles();
  int saveFileAsLog(const std::string& path);
  // Instance file path of N in the HORCM directory ("/etc/" by default).
  static std::string horcmFilePath(int instance);
  // The instance file text for instance N (marker, host, devices).
  std::string buildHorcmFileContent(int instance) const;
  // True when text carries our own first line (files we may remove).
  static bool isOwnHorcmFile(const std::string& text);
  // Scans text for "\\.\CMD" serial markers.
  static void scanHorcmSerials(const std::string& text, std::set<std::string>& serials);
  // Parses a decimal instance text in 3501..3532; false otherwise.
  static bool parseOwnInstance(const std::string& text, int& instance);
  // True when path is a regular file of our own user that nobody else may
  // change, read into text (at most 1 MiB); why says why not.
  static bool isTrustedHorcmFile(const std::string& path, std::string& text, std::string& why);
  // True when instance's file is trusted and names serial.
  static bool instanceFileNamesArray(int instance, const std::string& serial);
  // Under "RAIDCOM_LOGIN_LOCK" (the caller holds it): makes the options'
  // instance usable for the array, choosing (and writing) one again when
  // the stored one has no trusted file naming the array, then starts it.
  // Without command devices to write a file from, the stored instance is
  // kept as it is and started only when startWhenUnrepairable. 0 ok, 1
  // failure with the pair set.
  int prepareInstanceLocked(bool forceRecreate, bool startWhenUnrepairable);
  // True when this job's initialisation started the instance and nothing
  // can have shut it down since: no last logout shuts instances down (the
  // setting nZRHDSForceRemoveHorcmFile is off) and its file still names the
  // array. The first login then needs no second start.
  bool instanceStillStarted();
  // Set once initialize has made the instance usable and started it.
  bool m_bInstanceStarted = false;
  // Unlinks path, retrying once after chmod 0666; true when gone.
  static bool removeFileRetrying(const std::string& path);

  // ---- Command lines and execution (HDSRaidcomExecute.cpp) -------------
  // " -IM<inst>" or " -IH<inst>" and, when appendSerial, " -s <serial>".
  std::string getCommonParams(bool imOption, bool appendSerial);
  // One command line with the CCI time-out; no re-login, no output file.
  int executeCommand(const std::string& command, const std::string& arguments, std::string& output,
                     int& exitCode);
  // An array command: re-login and one re-run on exit 202, output kept when
  // configured. A command the array carries out after the tool returned
  // runs in a batch instead (runAsyncBatch): its outcome is read back.
  int executeCommandMain(const std::string& command, const std::string& arguments,
                         std::string& output, int& exitCode);
  // executeCommand, and after exit 202 the forced login (counted in
  // m_nLoginRenewals) and one more run.
  int executeWithRelogin(const std::string& command, const std::string& arguments,
                         std::string& output, int& exitCode);
  // Keeps a copy of a successful command's output when so configured.
  void keepCommandOutput(const std::string& output);
  int resetCommandStatus();
  int getCommandStatus(bool& hasError, std::string& statusText);
  // getCommandStatus with the error count: errors is the row's ERR_CNT, or
  // -1 when the query kept timing out and the row counts none.
  int readCommandStatus(int& errors, std::string& statusText);
  // Parses the command-status listing; 1 when there is no status row or
  // ERR_CNT is not a decimal number. errors, when given, receives ERR_CNT.
  static int parseCommandStatus(const std::string& output, bool& hasError, std::string& statusText,
                                std::string& row, int* errors = nullptr);
  // Writes script (one command line per line) to a new private file and runs
  // it with /bin/sh; a failing line fails the script.
  int executeScriptFile(const std::string& script, std::string& output, int& exitCode);
  std::string formatOutputFileName();
  std::string formatInputFileName();
  // Builds the printable form of a command line (credentials cut off).
  std::string printable(const std::string& line);
  // Sets (62601, "Invalid input: <what>-[<value>] is not valid.") and logs it;
  // returns 1 so builders can `return refuseInvalidInput(...)`.
  int refuseInvalidInput(const char* function, const char* what, const std::string& value);
  // The common options every line carries: refuses (1, as refuseInvalidInput)
  // when the HORCM instance or array serial is not plain decimal digits (empty
  // is allowed) or the CCI directory holds a control character; 0 otherwise.
  // executeCommand and executeScriptFile check this before running anything.
  int refuseUnusableCommonOptions(const char* function);
  // The listing check of every parsed answer: 0 when the reader accepted
  // output (see HDSTextColumns.h), else (62601, failureText) with the
  // refusal and the answer logged, 1.
  int checkListing(const char* function, const std::string& output,
                   const hdscols::ListingRead& read, const std::string& failureText);
  // The job's HORCM instance when it is decimal digits; else refuses.
  bool checkInstance(const char* function);

  // ---- Batches of asynchronous commands (HDSRaidcomBatch.cpp) ----------
  // One command of a batch.
  struct AsyncCommand {
    std::string command;    // command part ("raidcom  map snapshot ")
    std::string arguments;  // with the common options
    std::string object;     // what it acts on, for the log
    // Runs before the batch's status reset (moving an LDEV out of the
    // job's resource group): kStepSend sends the command, kStepDone counts
    // the item done without it, kStepFailed fails it (the step set the
    // error pair) and, with stopAtFailure, ends the batch there.
    std::function<int()> before;
    // A refusal saying the state asked for is there already (an LDEV
    // already deleted): the item is done.
    std::function<bool(int exitCode, const std::string& output)> alreadyDone;
    // Runs right after the command was accepted: kStepSend goes on;
    // anything else fails the item (the step set the error pair) and, with
    // stopAtFailure, ends the batch.
    std::function<int()> after;
  };
  static constexpr int kStepSend = 0;
  static constexpr int kStepFailed = 1;
  static constexpr int kStepDone = 2;
  using AsyncOutcome = hdsbatch::Outcome;
  using AsyncEffect = hdsbatch::Effect;
  // What the array shows of the batch's commands items (indices into the
  // batch's commands): effects[k] for items[k]. Called once per batch of at
  // most ZR_HDS_ASYNC_BATCH_LIMIT commands, after its status read, with
  // listings that show all of them (about one command), never from an
  // earlier batch's listing.
  using AsyncReadBack =
      std::function<void(const std::vector<size_t>& items, std::vector<AsyncEffect>& effects)>;
  // Runs commands in batches of at most ZR_HDS_ASYNC_BATCH_LIMIT, each with
  // one status reset and read and one read-back; outcomes per command
  // (hdsbatch::decideOutcome). stopAtFailure: no command after a failed one
  // is sent (a batch with a failure ends the run after it). readsProve: an
  // object the read-back shows can only be the command's. 0 when every
  // command is done, else 1 (error pair of the failure).
  int runAsyncBatch(const char* function, const std::vector<AsyncCommand>& commands,
                    bool stopAtFailure, bool readsProve, const AsyncReadBack& readBack,
                    std::vector<AsyncOutcome>& outcomes);
  // One batch, as its steps: the steps before the commands, the lock and
  // the status reset, the commands, the status read, the read-back, the
  // decision of each outcome and the error pair.
  int runAsyncChunk(const char* function, const std::vector<AsyncCommand>& commands, size_t begin,
                    size_t end, bool stopAtFailure, bool readsProve, const AsyncReadBack& readBack,
                    std::vector<AsyncOutcome>& outcomes);
  // The steps before the commands [begin, end): facts[i - begin] of the
  // items they decide. Returns the new end (a failed step ends the batch
  // there with stopAtFailure).
  size_t runStepsBefore(const std::vector<AsyncCommand>& commands, size_t begin, size_t end,
                        bool stopAtFailure, std::vector<hdsbatch::CommandFacts>& facts);
  // Sends the commands of [begin, end) that no step decided; each one's
  // exit and, per command, the count of renewed logins after it was sent.
  void sendAsyncCommands(const char* function, const std::vector<AsyncCommand>& commands,
                         size_t begin, size_t end, bool stopAtFailure,
                         std::vector<hdsbatch::CommandFacts>& facts,
                         std::vector<int>& renewalsAfterSend);
  // The batch's status read (its log lines name firstCommand).
  hdsbatch::StatusFacts readBatchStatus(const char* function, const std::string& firstCommand,
                                        std::string& statusText);
  // The status read and the read-back of the answered items; each one's
  // facts get its read-back and whether a login was renewed after it was
  // sent. The error pair is left as the commands set it.
  hdsbatch::StatusFacts readAsyncChunkBack(const char* function,
                                           const std::vector<AsyncCommand>& commands, size_t begin,
                                           const std::vector<size_t>& items,
                                           const std::vector<int>& renewalsAfterSend,
                                           const AsyncReadBack& readBack,
                                           std::vector<hdsbatch::CommandFacts>& facts);
  // settleAsyncChunk, and the error pair of a batch that is not all done.
  int finishAsyncChunk(const char* function, const std::vector<AsyncCommand>& commands,
                       size_t begin, const std::vector<hdsbatch::CommandFacts>& facts,
                       const hdsbatch::StatusFacts& status, bool readsProve,
                       std::vector<AsyncOutcome>& outcomes);
  // Sets the outcomes of [begin, end) and logs each failure; 0 all done.
  int settleAsyncChunk(const char* function, const std::vector<AsyncCommand>& commands,
                       size_t begin, const std::vector<hdsbatch::CommandFacts>& facts,
                       const hdsbatch::StatusFacts& status, bool readsProve,
                       std::vector<AsyncOutcome>& outcomes);
  // Logins renewed by this object (a command or script that found the
  // login ended): a batch tells the commands sent before a renewal.
  int m_nLoginRenewals = 0;
  // Commands and scripts this object has run.
  long m_nCommandsRun = 0;
  // The last snapshot-group listing a batch's read-back made: the next
  // listing of that group is answered with it, once, when no command ran
  // and no pause passed in between (the job asks what the batch has just
  // read).
  struct ReadBackRows {
    std::string group;
    long commandsRun = -1;
    int64_t readAtMillis = 0;
    std::vector<HDSSnapshotGroupInfo> rows;
  };
  ReadBackRows m_oReadBackRows;
  // getSnapshotGroupList of group, kept in m_oReadBackRows; 0 ok.
  int readBackGroup(const std::string& group, std::vector<HDSSnapshotGroupInfo>& rows);
  // What one kind of snapshot-pair batch does with a pair: its arguments
  // before the common options, its effect as the P-VOL's row of the pair
  // shows it (null: the pair is not listed), and the report of its outcome
  // (first: the first pair that did not take effect, which sets the error
  // pair).
  struct PairBatchKind {
    bool needsTarget = false;
    std::function<std::string(const HDSSnapshotPairRef&)> compose;
    std::function<AsyncEffect(const HDSSnapshotGroupInfo*, const HDSSnapshotPairRef&)> effect;
    std::function<void(const HDSSnapshotPairRef&, bool done, bool first)> report;
  };
  // The snapshot-pair batches: one command per pair, read back from one
  // listing of each group the batch's pairs are in.
  int runPairBatch(const char* function, const char* command,
                   const std::vector<HDSSnapshotPairRef>& pairs, bool stopAtFailure,
                   const PairBatchKind& kind, std::vector<bool>& done);
  // The effects of items of pairs: each pair's row in its group's listing
  // (one listing per group); a pair its group does not show, where the
  // group is only what the job's records give, in its P-VOL's listing.
  void readPairsBack(const std::vector<HDSSnapshotPairRef>& pairs, const PairBatchKind& kind,
                     const std::vector<size_t>& items, std::vector<AsyncEffect>& effects);
  // The group the job's records give the pair (the caller's when named);
  // empty when no record names it.
  std::string groupOfPair(const HDSSnapshotPairRef& pair) const;
  // Before the deletion of a target LDEV in a job resource group other than
  // meta_resource: moves it out (kStepDone when it is gone already).
  int releaseFromJobGroup(const std::string& ldevId);

  // ---- CCI version (HDSRaidcomRaidqry.cpp) -----------------------------
  int getCCIVersionInstalled(std::string& version);
  // Parses the first data row of "raidqry -l" into info; false without one.
  static bool parseRaidqryOutput(const std::string& output, HDSRaidqryInfo& info);

  // ---- Initialisation (HDSRaidcomInit.cpp) -----------------------------
  int validateInputParams();
  // Reads the setting into value; true when the key exists.
  static bool readSettingInt(const char* key, int& value);
  std::string loginCountKey() const;
  // Live holders of the array's CCI login (dead ones pruned); 0 ok, 1 failure.
  int liveLoginHolders(int& count);
  // This object's holdings of the array's CCI login: login adds to it,
  // logout removes from it, and what is left (a logout that failed before
  // it counted down) is removed with the object.
  ZRHDSHolderCount& loginHolding();

  // ---- Members -----------------------------------------------------------
  bool m_bKeepCmdOutput;
  int m_nCCICommandTimeout;     // seconds
  int m_nRaidcomMaxRetryCount;  // repeats of the command-status query
  int m_nRaidcomTimeoutInSecs;  // -time of the resource lock
  // Ports whose host-group listing showed them as iSCSI ports.
  std::set<std::string> m_oIscsiPorts;
  // Answers that do not change while a job runs, asked once per job: the
  // raidqry host row, and the resource groups with the key option (virtual
  // serial and model; their lock status is always asked afresh).
  bool m_bRaidqryKnown = false;
  HDSRaidqryInfo m_oRaidqry;
  bool m_bKeyedGroupsKnown = false;
  std::map<std::string, ResourceGroupInfo> m_oKeyedGroups;
  // LU paths of each host group as last listed, by (port, host group as
  // given). This job's own path deletions are applied to them; any other
  // change on a port drops that port's entries, and a change of the array's
  // resource lock (others may have changed paths meanwhile) drops them all.
  std::map<std::pair<std::string, std::string>, std::vector<HDSLunInfo>> m_oLunCache;
  // Drops the remembered LU paths of port (all ports when empty).
  void forgetLuns(const std::string& port);
  std::string m_sTempDir;
  std::vector<std::string> m_vCommandDevices;
  ZRHDSCommandRunner* m_pRunner;  // not owned
  std::unique_ptr<ZRHDSHolderCount> m_pLoginHolding;  // see loginHolding()

  static std::string m_sCCIVersion;  // guarded; use getCCIVersion()
  static void storeCCIVersion(const std::string& version);

  // ==== Private helpers of the operation files ==========================
  // Each operation file adds its own parser and composition helpers below,
  // in its own marked block.

  // ---- HDSRaidcomLdev.cpp ----
  // ---- HDSRaidcomSvol.cpp ----
  // One script line: the CCI directory, command (ending in its last
  // argument), the common options and "\n".
  std::string svolScriptLine(const std::string& command);
  // The effect of an add of ldevId as the listing shows it (listed: the
  // batch's listing, by id): took effect when the id holds an LDEV of that
  // capacity, unlabelled or with the label the job gives it (another label:
  // someone else's); no effect when it holds none or another; unknown when
  // the listing lacks the id.
  static AsyncEffect newLdevEffect(const std::map<std::string, HDSLdevInfo>& listed,
                                   const ZRHDSSnapInfo& snap);
  // One batch of new S-VOLs, the records wanted[begin, end): added, read
  // back, and each that the array proves the job's labelled. outcomes per
  // record of wanted; 0 all made and labelled, 1 failure (error pair set).
  // stillMarked: the LDEVs the watch's record still marks made.
  int createSvolChunk(const std::vector<size_t>& wanted, size_t begin, size_t end,
                      const std::string& pool, bool withBlade, const NewLdevWatch& watch,
                      std::vector<AsyncOutcome>& outcomes, std::set<std::string>& stillMarked);
  // Gives a just created S-VOL the snap's label ("BLANK" for an empty one);
  // 0 ok, 1 with 62601 "Failed to label LDEV-<id>".
  int labelNewSvol(const ZRHDSSnapInfo& snap);
  // Deletes what createSvols made (ids: proven the job's), keeping the
  // error pair of the failure.
  void undoNewSvols(const std::vector<std::string>& ids);
  // Moves a new S-VOL into the job's resource group (outside
  // meta_resource), with its virtual id on a virtual storage machine.
  int arrangeInJobGroup(ZRHDSSnapInfo& snap);
  // ---- HDSRaidcomResourceGroup.cpp ----
  // The kind option of add/delete resource (" -ldev_id <L>",
  // " -device_grp_name <G>", " -port <P> [<host group>]"); refuses (1)
  // malformed values.
  int resourceOption(const char* function, const std::string& resource, const HDSResourceType& kind,
                     std::string& option);
  // The kind options of map/unmap resource (resource and virtual resource);
  // refuses (1) malformed or empty values.
  int virtualResourceOption(const char* function, const std::string& resource,
                            const std::string& virtualResource, const HDSResourceType& kind,
                            std::string& option);
  // " -resource_name <job's group>" (quoted); ok false after refusing an
  // empty or unsafe group name.
  std::string resourceGroupNameOption(const char* function, bool& ok);
  // Runs one resource command (common options appended) and reports it with
  // the formats (resource, group) and failureText under 62601.
  int runResourceCommand(const char* function, const char* command, const std::string& arguments,
                         const std::string& resource, const char* successFormat,
                         const char* failureFormat, const std::string& failureText);
  // ---- HDSRaidcomSnapshot.cpp ----
  // A pair batch of one snapshot-data operation ("-snapshot_data <op>"),
  // read back by snapshotDataEffect, reported under function.
  PairBatchKind snapshotDataKind(const char* function, const std::string& operation);
  // What a pair row shows of a snapshot-data operation (row null: the pair
  // is not listed): resync leaves PAIR or COPY (or no pair), create and
  // split leave PAIR, restore leaves PSUS/SSUS; unknown for another one.
  static AsyncEffect snapshotDataEffect(const std::string& operation,
                                        const HDSSnapshotGroupInfo* row);
  // modifySnapshot on a whole snapshot group (key: its name) or on the
  // pair whose S-VOL is the LDEV key (bySvol), read back from the listing
  // of that key: every pair it shows must show the effect.
  int modifySnapshotWhole(const std::string& selector, const std::string& description,
                          const std::string& key, bool bySvol, const std::string& operation);
  // ---- HDSRaidcomPool.cpp ----
  // ---- HDSRaidcomReplication.cpp ----
  // ---- HDSRaidcomHostGroup.cpp ----
  // Deletes host group hostGroup on port by number ("-" joint) or by name
  // (a separate word), as byNumber says; deleteHostGroup picks the form.
  int runDeleteHostGroup(const std::string& port, const std::string& hostGroup, bool byNumber);
  // ---- HDSRaidcomPort.cpp ----
};

#endif  // ZR_ARRAY_HDSRAIDCOMIMPLEMENTER_H
