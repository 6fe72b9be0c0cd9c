// Test fixture: HORCM instances, faults, the journal, tool runs (in this
// process or as a child) and the inquiry pages of the array's LDEVs.
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_fixture_internal.h"
#include "sim/ccisim_internal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ccisim {

using namespace detail;
using namespace fixture;

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
