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
//
// The model is in ccisim_model.h, the renderers and inquiry pages in
// ccisim_render.h; this header brings both and the Fixture.
#ifndef CCISIM_FIXTURE_H
#define CCISIM_FIXTURE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/ccisim_model.h"
#include "sim/ccisim_render.h"

namespace ccisim {

// The tool directory (ends with "/"): symlinks raidcom, raidqry, raidscan,
// pairsyncwait, horcmstart.sh, horcmshutdown.sh -> ccisim.
std::string toolDir();
std::string ccisimBinary();

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
