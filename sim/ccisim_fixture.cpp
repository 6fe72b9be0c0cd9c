// Test fixture: a state database in its own directory, the transactions on
// it and the simulator-wide settings. What it builds is in the sources beside
// it: ccisim_fixture_array.cpp (arrays and their LDEVs, pools, ports, host
// groups, resource groups, command devices), ccisim_fixture_pairs.cpp
// (snapshot pairs, copy groups, remote pairs) and ccisim_fixture_run.cpp
// (instances, faults, the journal, tool runs, inquiry pages).
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_fixture_internal.h"
#include "sim/ccisim_internal.h"
#include "sim/ccisim_query.h"
#include "sim/ccisim_store.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

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

namespace fixture {

void die(const std::string& what) {
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

}  // namespace fixture

using namespace fixture;

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

}  // namespace ccisim
