// Test fixture: builds and reads a state file in its own directory.
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_internal.h"
#include "sim/ccisim_query.h"
#include "sim/ccisim_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifndef CCISIM_BIN_DIR
#error "CCISIM_BIN_DIR must name the tool directory of the build"
#endif
#ifndef CCISIM_BINARY
#error "CCISIM_BINARY must name the ccisim executable of the build"
#endif

namespace ccisim {

using namespace detail;

std::string toolDir() { return std::string(CCISIM_BIN_DIR) + "/"; }
std::string ccisimBinary() { return CCISIM_BINARY; }

namespace {

[[noreturn]] void die(const std::string& what) {
  throw std::runtime_error("ccisim fixture: " + what);
}

std::unique_ptr<Store> openStore(const std::string& path, bool create) {
  std::string why;
  std::unique_ptr<Store> store = Store::open(path, create, why);
  if (!store) die(why);
  return store;
}

Array& arrayOf(State& s, const std::string& serial) {
  Array* a = s.array(serial);
  if (!a) die("no array " + serial);
  return *a;
}

Port& portOf(State& s, const std::string& serial, const std::string& port) {
  Array& a = arrayOf(s, serial);
  auto it = a.ports.find(port);
  if (it == a.ports.end()) die("no port " + port + " on " + serial);
  return it->second;
}

HostGroup& groupOf(State& s, const std::string& serial, const std::string& port, int gid) {
  HostGroup* g = arrayOf(s, serial).hostGroup(port, gid);
  if (!g) die("no host group " + port + "-" + std::to_string(gid));
  return *g;
}

SnapPair& pairOf(State& s, const std::string& serial, int pvol, int mu) {
  SnapPair* p = arrayOf(s, serial).pair(pvol, mu);
  if (!p) die("no snapshot pair " + std::to_string(pvol) + "/" + std::to_string(mu));
  return *p;
}

}  // namespace

Fixture::Fixture(const std::string& dir) {
  if (dir.empty()) {
    const char* t = std::getenv("TMPDIR");
    std::string tmpl = std::string(t && *t ? t : "/tmp") + "/ccisim.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) die("mkdtemp failed");
    dir_ = buf.data();
    ownDir_ = true;
  } else {
    dir_ = dir;
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
  }
  State s;
  const char* etc = std::getenv("ZRHOST_HORCM_ETC_DIR");
  s.etcDir = etc && *etc ? std::string(etc) : dir_ + "/etc/";
  if (s.etcDir.back() != '/') s.etcDir += '/';
  std::error_code ec;
  std::filesystem::create_directories(s.etcDir, ec);
  removeDatabase(statePath());
  std::unique_ptr<Store> store = openStore(statePath(), true);
  std::string why;
  if (!store->begin(true, why) || !store->replace(s, why) || !store->clearJournal(why) ||
      !store->commit(why))
    die(why);
}

Fixture::~Fixture() {
  if (ownDir_) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

std::string Fixture::statePath() const { return dir_ + "/ccisim.state"; }
std::string Fixture::journalPath() const { return statePath(); }
std::string Fixture::etcDir() const { return load().etcDir; }
void Fixture::exportEnv() const { ::setenv("CCISIM_STATE", statePath().c_str(), 1); }

State Fixture::load() const {
  State s;
  std::string why;
  if (!loadState(statePath(), s, &why)) die(why);
  return s;
}

void Fixture::update(const std::function<void(State&)>& change) const {
  std::unique_ptr<Store> store = openStore(statePath(), false);
  State s;
  std::string why;
  if (!store->begin(true, why) || !store->load(s, true, why)) die(why);
  change(s);
  if (store->save(s, why) < 0 || !store->commit(why)) die(why);
}

void Fixture::setEtcDir(const std::string& dir) {
  update([&](State& s) {
    s.etcDir = dir;
    if (s.etcDir.empty() || s.etcDir.back() != '/') s.etcDir += '/';
  });
}
void Fixture::setCciVersion(const std::string& v) {
  update([&](State& s) { s.cciVersion = v; });
}
void Fixture::setAuthScope(const std::string& scope) {
  update([&](State& s) { s.authScope = scope; });
}
void Fixture::setErrorStream(const std::string& stream) {
  update([&](State& s) { s.errorStream = stream; });
}
void Fixture::setStrictHorcm(bool strict, const std::string& hostName) {
  update([&](State& s) {
    s.strictHorcm = strict;
    s.hostName = hostName;
  });
}
void Fixture::setUndefinedVolAttr(bool on) {
  update([&](State& s) { s.undefinedVolAttr = on; });
}
void Fixture::addUser(const std::string& name, const std::string& password) {
  update([&](State& s) { s.setPassword(name, password); });
}

void Fixture::addArray(const std::string& serial, const std::string& model,
                       const std::string& micro) {
  update([&](State& s) { s.arrays[serial] = newArray(serial, model, micro); });
}

void Fixture::setArray(const std::string& serial, const std::function<void(Array&)>& change) {
  update([&](State& s) { change(arrayOf(s, serial)); });
}

void Fixture::addLdev(const std::string& serial, const Ldev& l) {
  update([&](State& s) {
    Ldev x = l;
    x.defined = true;
    arrayOf(s, serial).ldevs[x.id] = x;
  });
}

void Fixture::addSourceLdev(const std::string& serial, int id, uint64_t blocks, int pool,
                            const std::string& label) {
  Ldev l;
  l.id = id;
  l.capacity = blocks;
  l.attrs = {"CVS", "HDP"};
  l.poolId = std::to_string(pool);
  l.label = label;
  addLdev(serial, l);
}

void Fixture::addPool(const std::string& serial, const Pool& p) {
  update([&](State& s) { arrayOf(s, serial).pools[p.id] = p; });
}

void Fixture::addPort(const std::string& serial, const std::string& port, const std::string& wwn,
                      const std::string& type) {
  update([&](State& s) {
    Port p;
    p.name = port;
    p.wwn = wwn;
    p.type = type;
    arrayOf(s, serial).ports[port] = p;
  });
}

void Fixture::addLoginWwn(const std::string& serial, const std::string& port,
                          const std::string& wwn) {
  update([&](State& s) { portOf(s, serial, port).loginWwns.push_back(wwn); });
}

void Fixture::addHostGroup(const std::string& serial, const std::string& port, int gid,
                           const std::string& name, int rsgid) {
  update([&](State& s) {
    HostGroup g;
    g.gid = gid;
    g.name = name;
    g.rsgid = rsgid;
    portOf(s, serial, port).hostGroups[gid] = g;
  });
}

void Fixture::addHostGroupWwn(const std::string& serial, const std::string& port, int gid,
                              const std::string& wwn, const std::string& nick) {
  update([&](State& s) { groupOf(s, serial, port, gid).wwns.emplace_back(wwn, nick); });
}

void Fixture::addLun(const std::string& serial, const std::string& port, int gid, int lun,
                     int ldev) {
  update([&](State& s) { groupOf(s, serial, port, gid).luns[lun] = ldev; });
}

void Fixture::setLunHostIo(const std::string& serial, const std::string& port, int gid, int ldev,
                           int refusals) {
  update([&](State& s) {
    HostGroup& g = groupOf(s, serial, port, gid);
    if (refusals == 0)
      g.hostIo.erase(ldev);
    else
      g.hostIo[ldev] = refusals;
  });
}

void Fixture::addResourceGroup(const std::string& serial, const std::string& name, int id,
                               const std::string& vSerial, const std::string& vModel) {
  update([&](State& s) {
    ResourceGroup g;
    g.name = name;
    g.id = id;
    g.vSerial = vSerial;
    g.vModel = vModel;
    arrayOf(s, serial).resourceGroups[name] = g;
  });
}

void Fixture::setForeignLock(const std::string& serial, const std::string& group,
                             const std::string& user, const std::string& host,
                             int releaseAfterPolls, const std::string& status) {
  update([&](State& s) {
    Array& a = arrayOf(s, serial);
    auto it = a.resourceGroups.find(group);
    if (it == a.resourceGroups.end()) die("no resource group " + group);
    it->second.lockStatus = status;
    it->second.lockOwner = user;
    it->second.lockHost = host;
    it->second.releaseAfterPolls = releaseAfterPolls;
  });
}

void Fixture::addCopyGroup(const std::string& serial, const CopyGroup& g) {
  update([&](State& s) { arrayOf(s, serial).copyGroups[g.name] = g; });
}

void Fixture::addRemotePair(const std::string& serial, const RemotePair& p) {
  update([&](State& s) { arrayOf(s, serial).remotePairs.push_back(p); });
}

void Fixture::addCommandDevice(const std::string& path, const std::string& serial, int ldev) {
  update([&](State& s) {
    Array& a = arrayOf(s, serial);
    Ldev& l = a.ldevRef(ldev);
    if (!l.defined) {
      l.defined = true;
      l.capacity = 96000;
      l.attrs = {"CVS", "CMD"};
    }
    for (auto& c : s.commandDevices)
      if (c.path == path) {
        c.serial = serial;
        c.ldev = ldev;
        return;
      }
    s.commandDevices.push_back({path, serial, ldev});
  });
}

int Fixture::addSnapshotPair(const std::string& serial, const std::string& group, int pvol,
                             int pool, const std::string& state, bool ctg, int svol) {
  int mu = -1;
  update([&](State& s) {
    Array& a = arrayOf(s, serial);
    std::set<int> used;
    for (const auto& p : a.pairs)
      if (p.pvol == pvol) used.insert(p.mu);
    for (int m = a.firstSnapMu; m <= 1023 && mu < 0; ++m)
      if (!used.count(m)) mu = m;
    if (mu < 0) die("no free MU on LDEV " + std::to_string(pvol));
    SnapPair p;
    p.group = group;
    p.ctg = ctg;
    p.pvol = pvol;
    p.mu = mu;
    p.poolId = pool;
    p.state = state;
    p.svol = svol;
    if (state == "PSUS" || state == "SSUS" || state == "PFUS") p.splitTime = 1702103232;
    p.seq = s.nextSeq++;
    a.pairs.push_back(p);
  });
  return mu;
}

void Fixture::setPairState(const std::string& serial, int pvol, int mu, const std::string& state) {
  update([&](State& s) {
    SnapPair& p = pairOf(s, serial, pvol, mu);
    p.state = state;
    p.pendingTo.clear();
    p.pendingLeft = 0;
    p.progress = 100;
  });
}

void Fixture::setPairPending(const std::string& serial, int pvol, int mu, const std::string& to,
                             int polls) {
  update([&](State& s) {
    SnapPair& p = pairOf(s, serial, pvol, mu);
    p.pendingTo = to;
    p.pendingLeft = polls;
    p.progress = 50;
  });
}

void Fixture::setPairTiming(const std::string& serial, const PairTiming& t) {
  update([&](State& s) { arrayOf(s, serial).timing = t; });
}

void Fixture::writeHorcmFile(int instance, const std::string& host, const std::string& serial,
                             const std::vector<std::string>& devices) const {
  std::string path = etcDir() + "horcm" + std::to_string(instance) + ".conf";
  if (!writeFileAtomic(path, horcmFileText(host, instance, serial, devices)))
    die("cannot write " + path);
}

std::string Fixture::readHorcmFile(int instance) const {
  std::string text;
  readFile(etcDir() + "horcm" + std::to_string(instance) + ".conf", text);
  return text;
}

void Fixture::setInstanceRunning(int instance, const std::string& serial, const std::string& host) {
  update([&](State& s) {
    Instance& in = s.instances[instance];
    in.number = instance;
    in.running = true;
    in.serial = serial;
    in.host = host;
    in.devices.clear();
    for (const auto& c : s.commandDevices)
      if (c.serial == serial) in.devices.push_back(c.path);
  });
}

void Fixture::setInstanceStopped(int instance) {
  update([&](State& s) {
    Instance& in = s.instances[instance];
    in.number = instance;
    in.running = false;
    in.loggedIn = false;
    in.user.clear();
  });
}

void Fixture::setLoggedIn(int instance, const std::string& user, int ttl) {
  update([&](State& s) {
    auto it = s.instances.find(instance);
    if (it == s.instances.end()) die("no instance " + std::to_string(instance));
    it->second.user = user;
    it->second.loggedIn = true;
    it->second.loginTtl = ttl;
  });
}

Instance Fixture::instance(int n) const {
  State s = load();
  auto it = s.instances.find(n);
  if (it == s.instances.end()) {
    Instance i;
    i.number = n;
    return i;
  }
  return it->second;
}

int Fixture::addFault(Fault f) {
  int id = 0;
  update([&](State& s) {
    f.id = id = s.nextFaultId++;
    f.seen = f.fired = 0;
    s.faults.push_back(f);
  });
  return id;
}

void Fixture::clearFaults() {
  update([](State& s) { s.faults.clear(); });
}

Fault Fixture::fault(int id) const {
  for (const Fault& f : load().faults)
    if (f.id == id) return f;
  die("no fault " + std::to_string(id));
}

std::vector<JournalEntry> Fixture::journal() const { return readJournal(statePath()); }

std::vector<JournalEntry> Fixture::journal(const std::string& tool,
                                           const std::string& match) const {
  Fault f;
  f.tool = tool;
  f.match = match;
  std::vector<JournalEntry> out;
  for (const JournalEntry& e : journal()) {
    if (e.hangMarker || (!tool.empty() && e.tool != tool)) continue;
    // Same matching rule as faults: consecutive exact words.
    std::vector<std::string> w;
    {
      std::string cur;
      for (char ch : match + " ") {
        if (ch == ' ') {
          if (!cur.empty()) w.push_back(cur);
          cur.clear();
        } else {
          cur += ch;
        }
      }
    }
    bool hit = w.empty();
    for (size_t i = 0; !hit && i + w.size() <= e.argv.size(); ++i) {
      bool all = true;
      for (size_t k = 0; k < w.size() && all; ++k) all = e.argv[i + k] == w[k];
      hit = all;
    }
    if (hit) out.push_back(e);
  }
  return out;
}

void Fixture::clearJournal() const {
  std::unique_ptr<Store> store = openStore(statePath(), false);
  std::string why;
  if (!store->clearJournal(why)) die(why);
}

Outcome Fixture::run(const std::string& tool, const std::vector<std::string>& args) const {
  return invoke(statePath(), tool, args);
}

Outcome Fixture::runProcess(const std::string& tool, const std::vector<std::string>& args) const {
  Outcome o;
  std::string path = toolDir() + tool;
  std::vector<std::string> argvS = {path};
  argvS.insert(argvS.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvS) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envS;
  for (char** e = environ; e && *e; ++e)
    if (std::strncmp(*e, "CCISIM_STATE=", 13) != 0) envS.push_back(*e);
  envS.push_back("CCISIM_STATE=" + statePath());
  std::vector<char*> envp;
  for (auto& e : envS) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) die("pipe failed");
  if (::pipe2(errPipe, O_CLOEXEC) != 0) die("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  pid_t pid;
  int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    die("cannot start " + path + ": " + std::strerror(rc));
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&o.out, &o.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[8192];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return o;
}

std::vector<uint8_t> Fixture::inquiryStandard(const std::string& serial, int ldev) const {
  State s = load();
  return ccisim::inquiryStandard(arrayOf(s, serial), ldev);
}
std::vector<uint8_t> Fixture::inquiryE2(const std::string& serial, int ldev) const {
  State s = load();
  return ccisim::inquiryE2(arrayOf(s, serial), ldev);
}
std::vector<uint8_t> Fixture::commandDeviceInquiryStandard(const std::string& path) const {
  State s = load();
  const CommandDevice* c = s.commandDevice(path);
  if (!c) die("no command device " + path);
  return ccisim::inquiryStandard(arrayOf(s, c->serial), c->ldev);
}
std::vector<uint8_t> Fixture::commandDeviceInquiryE2(const std::string& path) const {
  State s = load();
  const CommandDevice* c = s.commandDevice(path);
  if (!c) die("no command device " + path);
  return ccisim::inquiryE2(arrayOf(s, c->serial), c->ldev);
}

}  // namespace ccisim
