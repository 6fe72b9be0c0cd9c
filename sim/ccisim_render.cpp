// Renderers: the exact text of each tool's output, as pure functions of the
// state. Layout rules every parser of the plug-in relies on:
//   - every output ends with "\n";
//   - exactly one header line (except get ldev and raidqry -h);
//   - data lines carry no trailing blanks and, except where the real tool's
//     own layout begins rows with blanks (raidqry -l, read after skipping
//     leading blanks), start at column 0;
//   - every column a parser reads is one token, except the stated
//     rest-of-line and multi-word columns (host-group names, lock hosts,
//     descriptions).
// Headers and unread columns follow the real tools where known; they are
// this simulator's choice.
#include "sim/ccisim_render.h"
#include "sim/ccisim_internal.h"

#include <algorithm>
#include <cstdio>

namespace ccisim {

using detail::formatTable;
using detail::hex10;

namespace {

std::string joinAttrs(const std::vector<std::string>& attrs) {
  std::string s;
  for (size_t i = 0; i < attrs.size(); ++i) {
    if (i) s += " : ";
    s += attrs[i];
  }
  return s;
}

// "KEY : value", or "KEY :" for an empty value (no trailing blank).
std::string kv(const std::string& key, const std::string& value) {
  if (value.empty()) return key + " :\n";
  return key + " : " + value + "\n";
}

struct PathRef {
  std::string port;
  int gid;
  int lun;
  std::string name;
};

std::vector<PathRef> pathsOf(const Array& a, int ldev) {
  std::vector<PathRef> v;
  for (const auto& p : a.ports)
    for (const auto& g : p.second.hostGroups)
      for (const auto& l : g.second.luns)
        if (l.second == ldev) v.push_back({p.first, g.first, l.first, g.second.name});
  return v;
}

std::string ssidOf(int ldev) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", 4 + ldev / 256);
  return buf;
}

}  // namespace

// ---------------------------------------------------------------------------
// The first two lines of a block. Inside a virtual storage machine every
// LDEV shows its virtual id (65534: none); resource group 0 shows none. The
// global-virtualisation form puts the physical values on the same lines.
std::string ldevHead(const Array& a, const Ldev& l) {
  const ResourceGroup* g = l.rsgid == 0 ? nullptr : a.groupById(l.rsgid);
  bool vsm = g && !g->vSerial.empty() && g->vSerial != a.serial;
  // Inside a machine an LDEV never given a virtual id has none (65534).
  int vid = l.vid == kVidImplicit ? (vsm ? kVidNone : l.id) : l.vid;
  if (a.globalVirtualization) {
    bool virt = vsm && vid != kVidNone;
    return "Serial# : " + (vsm ? g->vSerial : a.serial) + " PHY_Serial#  : " + a.serial +
           "\nLDEV : " + std::to_string(virt ? vid : l.id) + " PHY_LDEV : " + std::to_string(l.id) +
           "\n";
  }
  std::string s = "Serial#  : " + a.serial + "\nLDEV : " + std::to_string(l.id);
  if (vsm || (l.rsgid != 0 && l.vid != kVidImplicit)) s += " VIR_LDEV : " + std::to_string(vid);
  return s + "\n";
}

std::string renderLdevBlock(const Array& a, const Ldev& l, bool undefinedVolAttr) {
  std::string s = ldevHead(a, l);
  if (!l.defined) {
    s += "SL : -\n";
    s += "CL : -\n";
    s += "VOL_TYPE : NOT DEFINED\n";
    if (undefinedVolAttr) s += "VOL_ATTR : NOT DEFINED\n";
    s += "SSID : -\n";
    s += "RSGID : " + std::to_string(l.rsgid) + "\n";
    return s;
  }
  std::vector<PathRef> paths = pathsOf(a, l.id);
  std::string ports;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i) ports += " : ";
    ports += paths[i].port + "-" + std::to_string(paths[i].gid) + " " +
             std::to_string(paths[i].lun) + " " + paths[i].name;
  }
  s += "SL : 0\n";
  s += "CL : 0\n";
  s += kv("VOL_TYPE", l.volType);
  s += "VOL_Capacity(BLK) : " + std::to_string(l.capacity) + "\n";
  s += "NUM_PORT : " + std::to_string(paths.size()) + "\n";
  s += kv("PORTs", ports);
  s += "F_POOLID : NONE\n";
  s += kv("VOL_ATTR", joinAttrs(l.attrs));
  // Only a volume of a pool names its pool, as the array prints it.
  if (!l.poolId.empty() && l.poolId != "NONE") s += kv("B_POOLID", l.poolId);
  s += kv("LDEV_NAMING", l.label);
  s += "STS : NML\n";
  s += "OPE_TYPE : NONE\n";
  s += "OPE_RATE : 100\n";
  s += "MP# : " + std::to_string(l.mpBlade) + "\n";
  s += "SSID:" + ssidOf(l.id) + "\n";
  s += "RSGID : " + std::to_string(l.rsgid) + "\n";
  return s;
}

std::string renderGetLdev(const Array& a, const std::vector<int>& ids, bool undefinedVolAttr) {
  std::string s;
  s.reserve(ids.size() * 160);
  for (int id : ids) s += renderLdevBlock(a, a.ldev(id), undefinedVolAttr);
  return s;
}

// ---------------------------------------------------------------------------
std::string renderGetResource(const Array& a, bool keyOpt) {
  std::vector<const ResourceGroup*> groups;
  for (const auto& g : a.resourceGroups) groups.push_back(&g.second);
  std::sort(groups.begin(), groups.end(),
            [](const ResourceGroup* x, const ResourceGroup* y) { return x->id < y->id; });
  std::vector<std::vector<std::string>> rows;
  for (const ResourceGroup* g : groups) {
    if (keyOpt) {
      rows.push_back({g->name, std::to_string(g->id), g->vSerial.empty() ? a.serial : g->vSerial,
                      g->vModel.empty() ? a.model : g->vModel, g->vIf, a.serial});
    } else {
      rows.push_back(
          {g->name, std::to_string(g->id), g->lockStatus, g->lockOwner, g->lockHost, a.serial});
    }
  }
  if (keyOpt)
    return formatTable({"RS_GROUP", "RGID", "V_Serial#", "V_ID", "V_IF", "Serial#"}, rows,
                       {false, true, false, false, false, false});
  return formatTable({"RS_GROUP", "RGID", "stat", "Lock_owner", "Lock_host", "Serial#"}, rows,
                     {false, true, false, false, false, false});
}

// ---------------------------------------------------------------------------
namespace {
const std::vector<std::string> kSnapshotHeader = {"SnapShot_name", "P/S",  "STAT", "Serial#",
                                                  "LDEV#",         "MU#",  "P-LDEV#", "PID",
                                                  "%",             "MODE", "SPLT-TIME"};
}

std::string renderGetSnapshot(const Array& a, const std::vector<SnapPair>& rowsIn, int svolView) {
  // Nothing selected: no output at all, not even the header, as the real
  // tool answers.
  if (rowsIn.empty()) return "";
  std::vector<std::vector<std::string>> rows;
  for (const SnapPair& p : rowsIn) {
    // SPLT-TIME: seconds since 1970 in lower-case hexadecimal, as the real
    // tool prints it ("-" until snapshot data is stored). Not read as a
    // value by the plug-in (column 11 is taken with atoi only).
    char split[24] = "-";
    if (p.splitTime > 0)
      std::snprintf(split, sizeof split, "%llx", static_cast<long long>(p.splitTime));
    bool sside = svolView >= 0 && p.svol == svolView && p.pvol != svolView;
    rows.push_back(
        {p.group, sside ? "S-VOL" : "P-VOL", p.state == "PSUS" && sside ? "SSUS" : p.state,
         a.serial, std::to_string(sside ? p.svol : p.pvol), std::to_string(p.mu),
         sside ? std::to_string(p.pvol) : (p.svol >= 0 ? std::to_string(p.svol) : "-"),
         std::to_string(p.poolId), std::to_string(p.progress), p.ctg ? "G---" : "----", split});
  }
  return formatTable(kSnapshotHeader, rows);
}

std::string renderGetSnapshotGroups(const Array& a) {
  // One row per group, in the order the groups were made (that of their
  // oldest pair); the pair columns print "-" and MODE "----", also for a
  // consistency group (the array shows "G---" only on its pairs' rows).
  std::vector<const SnapPair*> first;
  for (const SnapPair& p : a.pairs) {
    bool seen = false;
    for (const SnapPair*& f : first)
      if (f->group == p.group) {
        seen = true;
        if (p.seq < f->seq) f = &p;
      }
    if (!seen) first.push_back(&p);
  }
  if (first.empty()) return "";
  std::sort(first.begin(), first.end(),
            [](const SnapPair* x, const SnapPair* y) { return x->seq < y->seq; });
  std::vector<std::vector<std::string>> rows;
  for (const SnapPair* p : first)
    rows.push_back({p->group, "-", "-", a.serial, "-", "-", "-", "-", "-", "----", "-"});
  return formatTable(kSnapshotHeader, rows);
}

std::string renderGetPool(const Array& a) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& pp : a.pools) {
    const Pool& p = pp.second;
    // Pool ids print with three digits ("001"), as the real tool does.
    char pid[16];
    std::snprintf(pid, sizeof pid, "%03d", p.id);
    rows.push_back({pid, p.status, std::to_string(p.usage), p.name, a.serial,
                    std::to_string(p.volumes),
                    std::to_string(p.firstLdev >= 0 ? p.firstLdev : 61440 + p.id),
                    std::to_string(p.threshold), p.vcap, p.type, p.pm, p.pt});
  }
  return formatTable({"PID", "POLS", "U(%)", "POOL_NAME", "Seq#", "Num", "LDEV#", "H(%)", "VCAP(%)",
                      "TYPE", "PM", "PT"},
                     rows);
}

std::string renderRaidqryList(const State& s, const std::vector<std::string>& serials,
                              const std::string& host) {
  std::vector<std::vector<std::string>> rows;
  int no = 1;
  for (const std::string& serial : serials) {
    const Array* a = s.array(serial);
    if (!a) continue;
    rows.push_back({std::to_string(no++), "---", host, s.cciVersion, "0", a->serial, a->micro,
                    std::to_string(a->cacheMB)});
  }
  // Every column flush right as the real tool prints it, so rows begin
  // with blanks; the plug-in reads this listing after skipping them.
  return formatTable(
      {"No", "Group", "Hostname", "HORCM_ver", "Uid", "Serial#", "Micro_ver", "Cache(MB)"}, rows,
      std::vector<bool>(8, true), 1);
}

std::string renderRaidqryHelp(const std::string& cciVersion, const std::string& instance) {
  return "Model  : RAID-Manager/Linux/x64\n"
         "Ver&Rev: " +
         cciVersion +
         "\n"
         "Usage  : raidqry [options] for HORC[" +
         instance +
         "]\n"
         " -h     Help/Usage\n"
         " -I[#]  Set to HORCMINST#\n"
         " -IH[#] or -ITC[#] Set to HORC mode [and HORCMINST#]\n"
         " -IM[#] or -ISI[#] Set to MRCF mode [and HORCMINST#]\n"
         " -z     Set to the interactive mode\n"
         " -zx    Set to the interactive mode and HORCM monitoring\n"
         " -q     Quit(Return to main())\n"
         " -g            Specify for getting all group name on local\n"
         " -l            Specify the local query\n"
         " -lm           Specify the local query with full micro version\n"
         " -r <group>    Specify the remote query\n"
         " -f            Specify display for floatable host\n";
}

std::string renderCommandStatus(const CommandStatus& in, const std::string& serial) {
  char handle[16];
  std::snprintf(handle, sizeof handle, "%04X", in.handle & 0xffff);
  return formatTable(
      {"HANDLE", "SSB1", "SSB2", "ERR_CNT", "Serial#", "Description"},
      {{handle, in.ssb1, in.ssb2, std::to_string(in.errCnt), serial, in.description}});
}

namespace {
// The header word "/ALPA/C" covers two data fields (ALPA and C), hence the
// empty word after it that keeps the columns over their data.
std::vector<std::string> scanHeader(bool external) {
  return {"PORT#", "/ALPA/C", "",        "TID#",   "LU#",
          "Seq#",  "Num",     "LDEV#",   "P/S",    "Status",
          "Fence", external ? "E-Seq#" : "P-Seq#", external ? "E-LDEV#" : "P-LDEV#"};
}
}  // namespace

std::string renderRaidscanPort(const Array& a, const std::string& port, int gid, int mu,
                               bool external) {
  std::vector<std::vector<std::string>> rows;
  const HostGroup* g = a.hostGroup(port, gid);
  if (g) {
    for (const auto& l : g->luns) {
      const RemotePair* rp = nullptr;
      for (const auto& p : a.remotePairs)
        if (p.ldev == l.second && p.mu == mu) rp = &p;
      std::vector<std::string> row = {
          port + "-" + std::to_string(gid), "ef",     "0", "0",
          std::to_string(l.first),          a.serial, "1", std::to_string(l.second)};
      if (rp) {
        row.insert(row.end(), {rp->role, rp->status, rp->fence});
      } else {
        row.insert(row.end(), {"SMPL", "-", "-"});
      }
      // -fe: the external volume behind the LU (none is modelled).
      if (external)
        row.insert(row.end(), {"-", "-"});
      else if (rp)
        row.insert(row.end(), {rp->rcuSerial, rp->partner});
      else
        row.insert(row.end(), {"-", "-"});
      rows.push_back(row);
    }
  }
  return formatTable(scanHeader(external), rows);
}

std::string renderRaidscanPdg(const Array& a, int ldev) {
  std::vector<std::vector<std::string>> rows;
  for (const PathRef& p : pathsOf(a, ldev))
    rows.push_back({p.port + "-" + std::to_string(p.gid), "ef", "0", "0", std::to_string(p.lun),
                    a.serial, "1", std::to_string(ldev), "SMPL", "-", "-", "-", "-"});
  return formatTable(scanHeader(false), rows);
}

std::string renderCopyGroups(const Array& a) {
  // One row per device group of each copy group.
  std::vector<std::vector<std::string>> rows;
  for (const auto& g : a.copyGroups) {
    rows.push_back({g.second.name, g.second.ldevGroup, g.second.mu, g.second.jid, a.serial});
    for (const CopyGroup::LdevGroup& d : g.second.moreLdevGroups)
      rows.push_back({g.second.name, d.name, d.mu, d.jid, a.serial});
  }
  return formatTable({"COPY_GROUP", "LDEV_GROUP", "MU#", "JID#", "Serial#"}, rows);
}

std::string renderPairsyncwait(const CopyGroup& g, uint64_t marker, const std::string& status,
                               bool withCount) {
  uint64_t pending = g.qIssued > g.qCommitted ? g.qIssued - g.qCommitted : 0;
  // The real tool's fixed columns: numbers flush right, marker and status
  // flush left, so every row begins with blanks.
  std::string out = "UnitID   CTGID     Q-Marker     Status    Q-Num";
  out += withCount ? "   QM-Cnt\n" : "\n";
  char row[128];
  std::snprintf(row, sizeof row, "%6d%8d     %s   %-6s%9llu", 0, g.ctg, hex10(marker).c_str(),
                status.c_str(), static_cast<unsigned long long>(pending));
  out += row;
  if (withCount) {
    std::snprintf(row, sizeof row, "%9llu", static_cast<unsigned long long>(pending));
    out += row;
  }
  return out + "\n";
}

std::string renderGetLun(const Array& a, const std::string& port, int gid) {
  std::vector<std::vector<std::string>> rows;
  const HostGroup* g = a.hostGroup(port, gid);
  if (g)
    for (const auto& l : g->luns)
      rows.push_back({port, std::to_string(gid), g->mode, std::to_string(l.first), "1",
                      std::to_string(l.second), a.ldev(l.second).hasAttr("CMD") ? "CM" : "-",
                      a.serial, g->hmoBits});
  return formatTable({"PORT", "GID", "HMD", "LUN", "NUM", "LDEV", "CM", "Serial#", "HMO_BITs"},
                     rows);
}

std::string renderGetHostGrp(const Array& a, const std::string& port, const std::set<int>* rsgids) {
  std::vector<std::vector<std::string>> rows;
  auto p = a.ports.find(port);
  bool iscsi = p != a.ports.end() && p->second.type == "ISCSI";
  if (p != a.ports.end())
    for (const auto& g : p->second.hostGroups) {
      if (rsgids && !rsgids->count(g.second.rsgid)) continue;
      if (iscsi)
        rows.push_back({port, std::to_string(g.first), g.second.name,
                        g.second.iqn.empty() ? "-" : g.second.iqn, "NONE", "S", a.serial,
                        g.second.mode, g.second.hmoBits});
      else
        rows.push_back({port, std::to_string(g.first), g.second.name, a.serial, g.second.mode,
                        g.second.hmoBits});
    }
  if (iscsi)
    return formatTable(
        {"PORT", "GID", "GROUP_NAME", "IQN", "AMD", "D", "Serial#", "HMD", "HMO_BITs"}, rows);
  return formatTable({"PORT", "GID", "GROUP_NAME", "Serial#", "HMD", "HMO_BITs"}, rows);
}

namespace {
std::string initiatorTable(const Array& a, const std::string& port, int gid, const char* column) {
  std::vector<std::vector<std::string>> rows;
  const HostGroup* g = a.hostGroup(port, gid);
  if (g)
    for (const auto& w : g->wwns)
      rows.push_back({port, std::to_string(gid), g->name, w.first, a.serial,
                      w.second.empty() ? "-" : w.second});
  return formatTable({"PORT", "GID", "GROUP_NAME", column, "Serial#", "NICK_NAME"}, rows);
}
}  // namespace

std::string renderGetHbaWwn(const Array& a, const std::string& port, int gid) {
  return initiatorTable(a, port, gid, "HWWN");
}

std::string renderGetHbaIscsi(const Array& a, const std::string& port, int gid) {
  return initiatorTable(a, port, gid, "IQN");
}

std::string renderGetPort(const Array& a) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& p : a.ports)
    rows.push_back({p.first, p.second.type, "TAR", "AUT", "EF", "N", "FCAL", "N", "0", a.serial,
                    p.second.wwn.empty() ? "-" : p.second.wwn, "-"});
  return formatTable({"PORT", "TYPE", "ATTR", "SPD", "LPID", "FAB", "CONN", "SSW", "SL", "Serial#",
                      "WWN", "PHY_PORT"},
                     rows);
}

std::string renderGetPortLogins(const Array& a, const std::string& port) {
  std::vector<std::vector<std::string>> rows;
  auto p = a.ports.find(port);
  if (p != a.ports.end())
    for (const auto& w : p->second.loginWwns) rows.push_back({port, w, a.serial, "-"});
  return formatTable({"PORT", "LOGIN_WWN", "Serial#", "-"}, rows);
}

std::string renderFindCmdDev(const State& s) {
  std::string out;
  for (const auto& c : s.commandDevices)
    out += "cmddev of Ser# " + c.serial + " = \\\\.\\CMD-" + c.serial + ":" + c.path + "\n";
  return out;
}

std::string horcmFileText(const std::string& host, int instance, const std::string& serial,
                          const std::vector<std::string>& devices) {
  std::string s =
      "#HORCM file create by Orrelan Quorbinflex. Do not alter the file content or delete the "
      "file.\n";
  s += "HORCM_MON\n";
  s += "#ip_address" + std::string(18, ' ') + "service" + std::string(9, ' ') + "poll(10ms)" +
       std::string(5, ' ') + "timeout(10ms)\n";
  s += host + "\t\t" + std::to_string(instance) + "\t1000" + std::string(11, ' ') + "3000\n";
  s += "\n";
  s += "HORCM_CMD\n";
  s += "#dev_name" + std::string(15, ' ') + "dev_name" + std::string(16, ' ') + "dev_name\n";
  s += "#\\\\.\\CMD-" + serial + "\n";
  for (const auto& d : devices) s += d + " ";
  s += "\n";
  return s;
}

// ---------------------------------------------------------------------------
// SCSI inquiry pages.

std::string encodeInquirySerial(const std::string& serial) {
  unsigned long v = std::strtoul(serial.c_str(), nullptr, 10);
  char buf[16];
  std::snprintf(buf, sizeof buf, "50%lu%05lX", (v / 100000) % 10, v % 100000);
  return buf;
}

namespace {
void put(std::vector<uint8_t>& b, size_t off, const std::string& text, size_t len) {
  for (size_t i = 0; i < len; ++i)
    b[off + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}
std::string hex4(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xffff);
  return buf;
}
}  // namespace

std::vector<uint8_t> inquiryStandard(const Array& a, int ldevId) {
  std::vector<uint8_t> b(255, 0);
  Ldev l = a.ldev(ldevId);
  std::string serial = a.serial;
  int number = ldevId;
  const ResourceGroup* g = a.groupById(l.rsgid);
  // Inside a virtual storage machine the host sees the virtual serial and
  // the virtual LDEV id.
  if (g && !g->vSerial.empty() && g->vSerial != a.serial) {
    serial = g->vSerial;
    if (l.vid != kVidImplicit) number = l.vid;
  }
  b[0] = 0x00;  // direct-access device
  b[2] = 0x05;
  b[3] = 0x02;
  b[4] = static_cast<uint8_t>(b.size() - 5);
  b[7] = 0x02;
  put(b, 8, "HITACHI", 8);
  put(b, 16, l.hasAttr("CMD") ? "OPEN-V-CM" : "OPEN-V", 16);
  put(b, 32, "8301", 4);
  put(b, 36, encodeInquirySerial(serial), 8);
  put(b, 44, hex4(number), 4);
  return b;
}

std::vector<uint8_t> inquiryE2(const Array& a, int ldevId) {
  std::vector<uint8_t> b(255, 0);
  b[0] = 0x00;
  b[1] = 0xE2;
  b[2] = 0x00;
  b[3] = static_cast<uint8_t>(b.size() - 4);
  put(b, 40, encodeInquirySerial(a.serial), 8);
  put(b, 48, hex4(ldevId), 4);
  put(b, 138, a.model, 4);
  return b;
}

}  // namespace ccisim
