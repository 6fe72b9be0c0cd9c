// libFuzzer target: every parser of the CCI tools' output over arbitrary
// text. The first byte picks the parser (and, in its high bits, the
// parser's small arguments); the rest is the output. Beyond "no crash, no
// hang, no sanitizer report", each case checks a property that holds for any
// text and traps when it is broken.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "array/HDSParseHostGroup.h"
#include "array/HDSParseLdev.h"
#include "array/HDSParsePool.h"
#include "array/HDSParsePort.h"
#include "array/HDSParseReplication.h"
#include "array/HDSParseResourceGroup.h"
#include "array/HDSParseSnapshot.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool hasOuterBlank(const std::string& s) {
  return !s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t');
}

enum Parser {
  kPool,
  kPairScan,
  kCopyGroup,
  kQMarkerNowait,
  kQMarkerCurrent,
  kQMarkerValue,
  kLunList,
  kHostGroupList,
  kHostGroupWwns,
  kPortList,
  kPortLogins,
  kCommandDeviceScan,
  kLdevList,
  kLdevPortsLine,
  kVolumeAttributes,
  kResourceGroups,
  kSnapshots,
  kCommandStatus,
  kRaidqry,
  kParserCount
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned selector = data[0] % kParserCount;
  const unsigned variant = data[0] / kParserCount;  // 0..13
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view view(text);

  switch (selector) {
    case kPool: {
      std::vector<HDSPoolInfo> pools(variant & 1);
      const size_t before = pools.size();
      const hdscols::ListingRead read = hdsparse::parsePoolList(view, pools);
      check(read.rows == pools.size() - before);
      check(read.ok() || pools.size() == before);
      break;
    }
    case kPairScan: {
      const int mu = static_cast<int>(variant % 3);
      const bool keepSvol = (variant & 4) != 0;
      std::vector<HDSPairInfo> pairs;
      check(hdsparse::parseRemotePairList(view, mu, keepSvol, pairs).rows == pairs.size());
      for (const HDSPairInfo& p : pairs) {
        check(p.muNumber == mu);
        check(p.rcuSerial != "----");
        check(keepSvol || p.volAttr != "S-VOL");
        check(p.partnerLdevId.find_first_of(" \t\r\n") == std::string::npos);
      }
      break;
    }
    case kCopyGroup: {
      const std::string filter = (variant & 1) ? "CG_UR01" : "";
      std::vector<HDSCopyGroup> groups;
      hdsparse::parseCopyGroupList(view, filter, groups);
      for (const HDSCopyGroup& g : groups) {
        check(filter.empty() || g.copyGroupName == filter);
        check(g.muNumber >= -1 && g.journalId >= -1);
      }
      break;
    }
    case kQMarkerNowait:
    case kQMarkerCurrent: {
      // Both selectors read a pairsyncwait row; the second one keeps old
      // corpus entries meaningful.
      std::string q = "caller";
      const bool found = hdsparse::parseQMarkerNowait(view, q);
      check(found || q == "caller");
      uint64_t v = 0;
      uint64_t again = 0;
      if (hdsparse::parseQMarkerValue(q, v))
        check(hdsparse::parseQMarkerValue(q, again) && v == again);
      break;
    }
    case kQMarkerValue: {
      // A marker read twice gives the same value; a value read is never
      // taken from text the reader refused.
      uint64_t va = 0;
      uint64_t vb = 7;
      const bool oka = hdsparse::parseQMarkerValue(view, va);
      const bool okb = hdsparse::parseQMarkerValue(view, vb);
      check(oka == okb && (!oka || va == vb));
      break;
    }
    case kLunList: {
      std::vector<HDSLunInfo> luns;
      hdsparse::parseLunList(view, luns);
      break;
    }
    case kHostGroupList: {
      const std::string serial = (variant & 1) ? "412345" : "";
      std::vector<HDSHostGroupInfo> groups;
      hdsparse::parseHostGroupList(view, serial, groups);
      for (const HDSHostGroupInfo& g : groups) {
        check(!hasOuterBlank(g.hostGroupName));
        check(g.port.empty() && g.wwns.empty());
      }
      break;
    }
    case kHostGroupWwns: {
      HDSHostGroupInfo g;
      if (!hdsparse::parseHostGroupWwnList(view, g).ok()) check(g.wwns.empty());
      check(!hasOuterBlank(g.hostGroupName));
      for (const std::string& w : g.wwns) check(!w.empty() && !hasOuterBlank(w));
      break;
    }
    case kPortList: {
      std::vector<HDSPortInfo> ports;
      hdsparse::parsePortListing(view, ports);
      std::set<std::string> names;
      for (const HDSPortInfo& p : ports) check(names.insert(p.port).second);
      break;
    }
    case kPortLogins: {
      HDSPortInfo p;
      hdsparse::parsePortLoginList(view, p);
      break;
    }
    case kCommandDeviceScan: {
      std::string hg;
      if (hdsparse::parseCommandDeviceHostGroup(view, hg).rows > 0) check(!hg.empty());
      else check(hg.empty());
      break;
    }
    case kLdevList: {
      std::vector<HDSLdevInfo> ldevs;
      hdsparse::parseGetLdevOutput(view, ldevs, (variant & 1) ? "QB_SVOL_db01" : "");
      break;
    }
    case kLdevPortsLine: {
      std::vector<HDSLunInfo> luns;
      hdsparse::parsePortList(view, luns);
      break;
    }
    case kVolumeAttributes:
      hdsparse::volumeAttributeMap(view);
      break;
    case kResourceGroups: {
      std::map<std::string, ResourceGroupInfo> groups;
      hdsparse::parseResourceGroupList(view, groups);
      break;
    }
    case kSnapshots: {
      std::vector<HDSSnapshotGroupInfo> rows;
      hdsparse::parseSnapshotList(view, rows);
      break;
    }
    case kCommandStatus: {
      bool hasError = false;
      std::string statusText;
      std::string row;
      ZRHDSRaidcomTestPeer::parseCommandStatus(text, hasError, statusText, row);
      break;
    }
    case kRaidqry: {
      HDSRaidqryInfo info;
      ZRHDSRaidcomTestPeer::parseRaidqry(text, info);
      break;
    }
    default:
      break;
  }
  return 0;
}
