// The engine's own parts, shared by its sources (not for tests; they use
// ccisim_fixture.h): the invocation context, errors printed as the real tools
// print them, option parsing, the checks every array makes, and the tools.
#ifndef CCISIM_ENGINE_H
#define CCISIM_ENGINE_H

#include "sim/ccisim_render.h"
#include "sim/ccisim_internal.h"

#include <map>
#include <string>
#include <vector>

namespace ccisim {
namespace engine {

struct Ctx {
  State& s;
  std::string tool;
  std::vector<std::string> args;  // after the tool name, as received
  std::vector<std::string> rest;  // args without the common options
  std::string inst;               // instance digits, "" none
  std::string serial;             // -s value, "" none
  Instance* in = nullptr;
  Array* a = nullptr;
  Outcome o;
  bool done = false;  // an error has been set

  Ctx(State& st, const std::string& t, const std::vector<std::string>& av)
      : s(st), tool(t), args(av) {}
};

// "<tool>: [<name>] <text>" on the error stream with exit code `code`.
void error(Ctx& c, int code, const std::string& name, const std::string& text);
// An order the array refuses (221, SSB pair and CAUSE line of the cause).
void refuse(Ctx& c, Refusal cause, const std::string& text = "");
void refuse(Ctx& c, const std::string& text);
void noObject(Ctx& c, const std::string& what);   // 205
void badStatus(Ctx& c, const std::string& what);  // 222 [EX_INVSTP]
void unknownOption(Ctx& c, const std::string& tok);
void missingArg(Ctx& c, const std::string& opt);
void invalidArg(Ctx& c, const std::string& opt, const std::string& val);
bool startsWithDash(const std::string& t);
bool parseInt(const std::string& t, long long& v);

// Option parsing. Each command states the options it accepts with the number
// of values they take; anything else fails loudly (unknown option, extra
// word, missing value), so a value with a blank in it (several words) is
// caught rather than half read.
struct OptionRule {
  std::string name;
  int minVals;
  int maxVals;
  bool repeat;
};

struct Opts {
  std::map<std::string, std::vector<std::vector<std::string>>> v;
  bool has(const std::string& k) const { return v.count(k) != 0; }
  const std::vector<std::string>& vals(const std::string& k) const { return v.at(k).front(); }
  std::string one(const std::string& k) const {
    auto it = v.find(k);
    if (it == v.end() || it->second.front().empty()) return "";
    return it->second.front().front();
  }
};

bool parseOpts(Ctx& c, size_t start, const std::vector<OptionRule>& rules, Opts& out);
// Takes -IH<n>/-IM<n>/-I<n> and "-s <serial>" out of argv (anywhere).
bool extractCommon(Ctx& c, size_t from);
// Instance running, serial of the instance's array, login (when needed).
bool requireContext(Ctx& c, bool needLogin);
bool loginNeeded(const Ctx& c);
// A change to a resource of group rsgid is refused (221) while that group,
// or meta_resource, is locked by someone other than this login on this host.
bool lockedByOther(Ctx& c, int rsgid);
void releaseLock(ResourceGroup& g);
bool ldevArg(Ctx& c, const std::string& opt, const std::string& v, int& id);
bool inRange(Ctx& c, int id);
std::vector<int> pathLdevs(const Array& a);
bool hasPath(const Array& a, int ldev);
// Resolves the host-group words of -port: "P-G" (G decimal) or "P name".
bool resolveHostGroup(Ctx& c, const std::vector<std::string>& vals, std::string& port,
                      HostGroup*& g);
// The commands whose only option is -port with its host group (get lun,
// delete host_grp, get hba_wwn): reads it, needs a logged-in context and
// resolves the group; false when the command has already failed.
bool portOnlyHostGroup(Ctx& c, std::string& port, HostGroup*& g);
// The command status of the instance's login user on its array.
CommandStatus& loginStatus(Ctx& c);
// Records an error in the login user's command status: the first error's
// SSB pair and description are kept, every error is counted.
void recordStatusError(Ctx& c, const std::string& ssb1, const std::string& ssb2,
                       const std::string& description);

// Commands by group (each file holds one group).
void cmdLogin(Ctx& c);
void cmdLogout(Ctx& c);
void cmdResetStatus(Ctx& c);
void cmdGetStatus(Ctx& c);
void cmdGetLdev(Ctx& c);
void cmdAddLdev(Ctx& c);
void cmdDeleteLdev(Ctx& c);
void cmdModifyLdev(Ctx& c);
void cmdGetResource(Ctx& c);
void cmdLockUnlock(Ctx& c, bool unlock);
void cmdMapUnmapResource(Ctx& c, bool unmap);
void cmdAddDeleteResource(Ctx& c, bool del);
bool isSvol(const Array& a, int id);
bool isPvol(const Array& a, int id);

void cmdGetSnapshot(Ctx& c);
void cmdAddSnapshot(Ctx& c);
void cmdModifySnapshot(Ctx& c);
void cmdDeleteSnapshot(Ctx& c);
void cmdMapUnmapSnapshot(Ctx& c, bool unmap);
void cmdGetPool(Ctx& c);
void cmdGetCopyGroup(Ctx& c);

void runRaidcom(Ctx& c);
void runRaidqry(Ctx& c);
void runRaidscan(Ctx& c);
void runPairsyncwait(Ctx& c);
void runHorcmStart(Ctx& c);
void runHorcmShutdown(Ctx& c);
void dispatch(Ctx& c);

}  // namespace engine
}  // namespace ccisim

#endif  // CCISIM_ENGINE_H
