// The column-listing readers against the recorded answers of the real
// tools (testdata/cci-reference/): each sample's values, read by eye and
// written in the table, from the parser and from the whole operation over a
// runner replaying the sample; the refusals; and the same listings garbled
// (indented, right-aligned, last row cut, another header).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "array/HDSParseHostGroup.h"
#include "array/HDSParsePool.h"
#include "array/HDSParsePort.h"
#include "array/HDSParseReplication.h"
#include "array/HDSParseResourceGroup.h"
#include "array/HDSParseSnapshot.h"
#include "array/tests/support/HDSArrayTestBase.h"
#include "array/tests/support/HDSGoldenCoverage.h"

namespace {

using hdsgolden::Reader;
using Rows = std::vector<std::string>;
// What a reader made of an answer: its records, one "|"-joined line each,
// or nothing when it refused the answer.
using Outcome = std::optional<Rows>;

std::string join(std::initializer_list<std::string> fields) {
  std::string s;
  for (const std::string& f : fields) s += (s.empty() ? "" : "|") + f;
  return s;
}
std::string num(long v) { return std::to_string(v); }

// The array serial printed in the first data row's Serial# column: the
// serial the plug-in would have been configured with for that array.
std::string serialOf(const std::string& out) {
  const size_t col = hdscols::columnIndex(hdscols::firstLine(out), "Serial#");
  std::string serial;
  bool first = true;
  hdscols::forEachDataLine(out, [&](std::string_view line) {
    if (first) serial.assign(hdscols::Row(line).text(col));
    first = false;
  });
  return serial;
}

// ---- The canonical lines of each reader's records -------------------------

Rows pools(const std::vector<HDSPoolInfo>& v) {
  Rows r;
  for (const auto& p : v)
    r.push_back(join({p.poolId, p.status, num(p.usagePercent), p.poolName,
                      num(p.thresholdPercent)}));
  return r;
}
Rows snapshots(const std::vector<HDSSnapshotGroupInfo>& v) {
  Rows r;
  for (const auto& s : v)
    r.push_back(join({s.snapshotGroupName, s.isPvol ? "P" : "-", s.status, s.serial, s.ldevId,
                      s.muNumber, s.partnerLdevId, s.poolId, num(s.column9), s.mode,
                      num(s.column11)}));
  return r;
}
Rows copyGroups(const std::vector<HDSCopyGroup>& v) {
  Rows r;
  for (const auto& g : v)
    r.push_back(join({g.copyGroupName, g.ldevGroupName, num(g.muNumber), num(g.journalId)}));
  return r;
}
Rows pairs(const std::vector<HDSPairInfo>& v) {
  Rows r;
  for (const auto& p : v)
    r.push_back(join({p.column6, p.ldevId, p.volAttr, p.pairStatus, p.fence, p.rcuSerial,
                      p.partnerLdevId, num(p.muNumber)}));
  return r;
}
Rows luns(const std::vector<HDSLunInfo>& v) {
  Rows r;
  for (const auto& l : v) r.push_back(join({l.port, l.hostGroupId, l.hostMode, l.lun, l.ldevId}));
  return r;
}
Rows hostGroups(const std::vector<HDSHostGroupInfo>& v) {
  Rows r;
  for (const auto& g : v) r.push_back(join({g.hostGroupId, g.hostGroupName}));
  return r;
}
Rows wwns(const HDSHostGroupInfo& g) {
  Rows r;
  for (const auto& w : g.wwns) r.push_back(join({g.port, g.hostGroupId, g.hostGroupName, w}));
  return r;
}
Rows ports(const std::vector<HDSPortInfo>& v) {
  Rows r;
  for (const auto& p : v) r.push_back(join({p.port, p.type, p.serial, p.wwn}));
  return r;
}
Rows logins(const HDSPortInfo& p) {
  Rows r;
  for (const auto& w : p.loginWwns) r.push_back(join({p.port, p.serial, w}));
  return r;
}
Rows resourceGroups(const std::map<std::string, ResourceGroupInfo>& m) {
  Rows r;
  for (const auto& e : m)
    r.push_back(join({e.first, num(e.second.resourceGroupId), e.second.lockStatus,
                      e.second.lockOwner, e.second.lockHost, e.second.serial}));
  return r;
}

// ---- The parsers -----------------------------------------------------------

template <class T>
Outcome when(const hdscols::ListingRead& read, const T& rows) {
  return read.ok() ? Outcome(rows) : std::nullopt;
}

Outcome parseAs(Reader reader, const std::string& out) {
  switch (reader) {
    case Reader::kPool: {
      std::vector<HDSPoolInfo> v;
      const hdscols::ListingRead read = hdsparse::parsePoolList(out, v);
      return when(read, pools(v));
    }
    case Reader::kSnapshot: {
      std::vector<HDSSnapshotGroupInfo> v;
      const hdscols::ListingRead read = hdsparse::parseSnapshotList(out, v);
      return when(read, snapshots(v));
    }
    case Reader::kCopyGroup: {
      std::vector<HDSCopyGroup> v;
      const hdscols::ListingRead read = hdsparse::parseCopyGroupList(out, "", v);
      return when(read, copyGroups(v));
    }
    case Reader::kQMarker: {
      std::string q;
      if (!hdsparse::parseQMarkerNowait(out, q)) return std::nullopt;
      return Rows{q};
    }
    case Reader::kPairScan: {
      std::vector<HDSPairInfo> v;
      const hdscols::ListingRead read = hdsparse::parseRemotePairList(out, 0, true, v);
      return when(read, pairs(v));
    }
    case Reader::kCommandDeviceScan: {
      std::string hg;
      const hdscols::ListingRead read = hdsparse::parseCommandDeviceHostGroup(out, hg);
      return when(read, read.rows ? Rows{hg} : Rows{});
    }
    case Reader::kLun: {
      std::vector<HDSLunInfo> v;
      const hdscols::ListingRead read = hdsparse::parseLunList(out, v);
      return when(read, luns(v));
    }
    case Reader::kHostGroup: {
      std::vector<HDSHostGroupInfo> v;
      const hdscols::ListingRead read = hdsparse::parseHostGroupList(out, serialOf(out), v);
      return when(read, hostGroups(v));
    }
    case Reader::kHostGroupWwn: {
      HDSHostGroupInfo g;
      const hdscols::ListingRead read = hdsparse::parseHostGroupWwnList(out, g);
      return when(read, wwns(g));
    }
    case Reader::kPort: {
      std::vector<HDSPortInfo> v;
      const hdscols::ListingRead read = hdsparse::parsePortListing(out, v);
      return when(read, ports(v));
    }
    case Reader::kPortLogin: {
      HDSPortInfo p;
      const hdscols::ListingRead read = hdsparse::parsePortLoginList(out, p);
      return when(read, logins(p));
    }
    case Reader::kResourceGroup: {
      std::map<std::string, ResourceGroupInfo> m;
      const hdscols::ListingRead read = hdsparse::parseResourceGroupList(out, m);
      return when(read, resourceGroups(m));
    }
    default:
      ADD_FAILURE() << "no listing reader";
      return std::nullopt;
  }
}

// ---- The golden table ------------------------------------------------------

struct Golden {
  const char* id;
  Reader reader;
  bool read;  // false: refused
  Rows rows;
};

const std::vector<Golden>& goldens() {
  static const std::vector<Golden> table = {
      {"get_pool_key_opt/1", Reader::kPool, true,
       {"001|POLN|10|my_aou_pool|80", "002|POLF|95|New_Pool_2|70", "003|POLS|100|my_ss_pool|70",
        "004|POLN|0|New_Pool_4|80", "005|POLE|0|New_Pool_5|80"}},
      {"get_pool_key_opt/2", Reader::kPool, false, {}},
      {"get_pool_key_opt/3", Reader::kPool, true, {"030|POLM|30|VSPPOOL|80"}},
      {"get_pool_key_opt/4", Reader::kPool, false, {}},
      {"get_snapshot/16", Reader::kSnapshot, true,
       {"snap1|-|-|85000098|-||||0|----|0", "snap2|-|-|85000098|-||||0|----|0",
        "snap3|-|-|85000098|-||||0|----|0"}},
      {"get_snapshot/17", Reader::kSnapshot, true,
       {"snap1|P|PAIR|85000098|14536|1010||2|100|----|0",
        "snap2|P|PAIR|85000098|14536|1011|13000|2|100|G---|0",
        "snap3|P|PAIR|85000098|14536|1012||2|100|----|0"}},
      {"get_snapshot/18", Reader::kSnapshot, true,
       {"snap2|-|PAIR|85000098|13000|1011|14536|2|100|G---|0"}},
      {"get_snapshot/19", Reader::kSnapshot, true,
       {"snap2|P|PAIR|85000098|14536|1011|13000|2|100|G---|0",
        "snap2|P|PAIR|85000098|14537|1011|13001|2|100|G---|0",
        "snap2|P|PAIR|85000098|14538|1011|13002|2|100|G---|0"}},
      {"get_snapshot/20", Reader::kSnapshot, false, {}},
      // SPLT-TIME is read with atoi: "57db5cb0" gives 57.
      {"get_snapshot/21", Reader::kSnapshot, true,
       {"VSP-SNAP0|P|PSUS|492015|4|3|8|31|100|----|57",
        "VSP-SNAP0|P|PSUS|492015|4|4|9|31|100|----|57"}},
      {"get_snapshot/22", Reader::kSnapshot, true, {"VSP-SNAP0|-|SSUS|492015|8|3|7|31|100|----|57"}},
      {"get_snapshot/23", Reader::kSnapshot, false, {}},
      {"get_copy_grp/1", Reader::kCopyGroup, true, {"ora|grp1|0|-1", "ora|grp2|0|-1"}},
      {"get_copy_grp/2", Reader::kCopyGroup, true,
       {"VSP-127.0.0.14920150C90|VSP-127.0.0.14920150C90P|0|-1",
        "VSP-127.0.0.14920150C91|VSP-127.0.0.14920150C91P|0|-1",
        "VSP-127.0.0.14920150C91|VSP-127.0.0.14920150C91S|-1|-1"}},
      {"get_copy_grp/3", Reader::kCopyGroup, true, {}},
      {"get_copy_grp/4", Reader::kCopyGroup, false, {}},
      {"pairsyncwait/1", Reader::kQMarker, true, {"01003408ef"}},
      {"pairsyncwait/7", Reader::kQMarker, true, {"01003408ef"}},
      {"pairsyncwait/8", Reader::kQMarker, true, {"01003408e0"}},
      {"raidscan/1", Reader::kPairScan, true,
       {"30053|260|P-VOL|PAIR|NEVER|30053|268|0", "30053|261|P-VOL|PAIR|NEVER|30053|269|0"}},
      {"raidscan/2", Reader::kPairScan, true, {}},
      {"raidscan/3", Reader::kPairScan, false, {}},
      {"raidscan/4", Reader::kPairScan, false, {}},
      {"raidscan/5", Reader::kPairScan, false, {}},
      {"raidscan/6", Reader::kPairScan, false, {}},
      {"raidscan/7", Reader::kPairScan, false, {}},
      // The command device's host group is the first row's PORT#; the
      // bare-port layout prints no host group and is refused.
      {"raidscan/1", Reader::kCommandDeviceScan, false, {}},
      {"raidscan/2", Reader::kCommandDeviceScan, true, {"CL1-A-0"}},
      {"raidscan/3", Reader::kCommandDeviceScan, true, {"CL1-E-0"}},
      {"raidscan/4", Reader::kCommandDeviceScan, true, {"CL1-E-0"}},
      {"raidscan/5", Reader::kCommandDeviceScan, false, {}},
      {"raidscan/7", Reader::kCommandDeviceScan, false, {}},
      {"get_lun/1", Reader::kLun, true,
       {"CL4-E|0|LINUX/IRIX|0|0", "CL4-E|0|LINUX/IRIX|2|2", "CL4-E|0|LINUX/IRIX|3|3",
        "CL4-E|0|LINUX/IRIX|4|4", "CL4-E|0|LINUX/IRIX|5|992", "CL4-E|0|LINUX/IRIX|6|993"}},
      {"get_lun/2", Reader::kLun, true,
       {"CL4-E|0|LINUX/IRIX|0|0", "CL4-E|0|LINUX/IRIX|2|2", "CL4-E|0|LINUX/IRIX|3|3",
        "CL4-E|0|LINUX/IRIX|6|993"}},
      {"get_lun/3", Reader::kLun, true,
       {"CL4-E|0|LINUX/IRIX|0|0", "CL4-E|0|LINUX/IRIX|2|2", "CL4-E|0|LINUX/IRIX|3|3"}},
      {"get_lun/4", Reader::kLun, true,
       {"CL1-A|0|LINUX/IRIX|4|4", "CL1-A|0|LINUX/IRIX|254|5", "CL1-A|0|LINUX/IRIX|255|6"}},
      {"get_lun/5", Reader::kLun, false, {}},
      {"get_host_grp/4", Reader::kHostGroup, true,
       {"0|Linux_x86", "1|Solaris", "2|HP-UX", "3|Win_export", "5|DEC", "6|OpenVMS",
        "254|RMTEST"}},
      {"get_host_grp/5", Reader::kHostGroup, true,
       {"0|Linux_x86", "1|Solaris", "2|HP-UX", "3|Win_export", "5|DEC", "6|OpenVMS", "10|-",
        "11|-", "12|-", "13|-", "254|RMTEST"}},
      {"get_host_grp/6", Reader::kHostGroup, true, {"0|Linux_x86", "1|Solaris", "2|HP-UX"}},
      {"get_host_grp/7", Reader::kHostGroup, true, {"0|HBSD-0123456789abcdef"}},
      {"get_host_grp/8", Reader::kHostGroup, true, {"0|HBSD-127.0.0.1"}},
      {"get_host_grp/9", Reader::kHostGroup, false, {}},
      {"get_hba_wwn/1", Reader::kHostGroupWwn, true,
       {"CL4-E|0|Linux_x86|210000e08b0256f8", "CL4-E|0|Linux_x86|210000e08b039c15"}},
      {"get_hba_wwn/2", Reader::kHostGroupWwn, true,
       {"CL1-B|0|HBSD-0123456789abcdef|0123456789abcdef"}},
      {"get_hba_wwn/3", Reader::kHostGroupWwn, true,
       {"CL1-A|0|HBSD-0123456789abcdef|0123456789abcdef"}},
      {"get_hba_wwn/4", Reader::kHostGroupWwn, false, {}},
      {"get_hba_wwn/5", Reader::kHostGroupWwn, true, {"CL1-A|0|HBSD-127.0.0.1|iqn-initiator"}},
      {"get_port/1", Reader::kPort, true,
       {"CL1-A|FIBRE|64568|50060e8006fc3800", "CL1-B|FIBRE|64568|50060e8006fc3801",
        "CL1-C|FICON|64568|50060e8006fc3802", "CL1-D|FICON|64568|50060e8006fc3803",
        "CL2-A|FIBRE|64568|50060e8006fc3810", "CL2-B|FIBRE|64568|50060e8006fc3811",
        "CL2-C|FICON|64568|50060e8006fc3812", "CL2-D|FICON|64568|50060e8006fc3813",
        "CL3-A|FIBRE|64568|50060e8006fc3820", "CL3-B|FIBRE|64568|50060e8006fc3821",
        "CL3-J|ISCSI|64015|-", "CL4-A|HNASS|64568|-", "CL4-B|HNASU|64568|-"}},
      {"get_port/2", Reader::kPort, true,
       {"CL1-A|FIBRE|64568|50060e8006fc3800", "CL1-B|FIBRE|64568|50060e8006fc3801",
        "CL1-C|FICON|64568|50060e8006fc3802", "CL1-D|FICON|64568|50060e8006fc3803"}},
      {"get_port/4", Reader::kPort, true,
       {"CL1-A|FIBRE|492015|0123456789abcdef", "CL1-B|FIBRE|492015|0123456789abcdef",
        "CL3-A|FIBRE|492015|0123456789abcdef", "CL3-B|FIBRE|492015|0123456789abcdef"}},
      {"get_port/5", Reader::kPort, false, {}},
      {"get_port/7", Reader::kPort, false, {}},
      {"get_port/3", Reader::kPortLogin, true,
       {"CL4-E|63528|210000e08b0256f8", "CL4-E|63528|210000e08b039c15"}},
      {"get_port/6", Reader::kPortLogin, false, {}},
      // A map in name order: upper case before lower.
      {"get_resource/3", Reader::kResourceGroup, true,
       {"RSG_CLI1|1|Unlocked|-|-|64568", "RSG_CLI2|2|Unlocked|-|-|64568",
        "meta_resource|0|Unlocked|-|-|64568"}},
      {"get_resource/4", Reader::kResourceGroup, true, {"meta_resource|0|Unlocked|-|-|64556"}},
      {"get_resource/5", Reader::kResourceGroup, true,
       {"USP_002|1|64035|R5|Y|302624", "meta_resource|0|302624|R8|Y|302624"}},
  };
  return table;
}

ZrReferenceSample sampleOf(const std::string& id) {
  ZrReferenceSample s = zrReferenceSample(id);
  EXPECT_EQ(s.id(), id) << "no sample " << id << " under " << zrReferenceDir();
  return s;
}

TEST(GoldenReaders, EverySampleOfAListingReaderHasItsValuesInTheTable) {
  const Reader listed[] = {Reader::kPool,          Reader::kSnapshot,  Reader::kCopyGroup,
                           Reader::kQMarker,       Reader::kPairScan,  Reader::kLun,
                           Reader::kHostGroup,     Reader::kHostGroupWwn, Reader::kPort,
                           Reader::kPortLogin,     Reader::kResourceGroup};
  for (Reader reader : listed) {
    for (const std::string& id : hdsgolden::idsOf(reader)) {
      bool found = false;
      for (const Golden& g : goldens()) {
        if (g.reader == reader && id == g.id) found = true;
      }
      EXPECT_TRUE(found) << id << " has no row in the golden table";
    }
  }
}

TEST(GoldenReaders, ParsersReadEverySampleAsTheTableSays) {
  for (const Golden& g : goldens()) {
    SCOPED_TRACE(g.id);
    const ZrReferenceSample s = sampleOf(g.id);
    const Outcome got = parseAs(g.reader, s.stdoutText);
    ASSERT_EQ(got.has_value(), g.read) << s.stdoutText;
    if (g.read) {
      EXPECT_EQ(*got, g.rows);
    }
  }
}

// ---- The whole operations over a runner replaying the sample -------------

class GoldenOperations : public HDSArrayTestBase {
 protected:
  // Runs the reader's operation with every line answered by the sample;
  // nothing when it failed (its error pair is then 62601).
  Outcome operate(Reader reader, const ZrReferenceSample& s) {
    runner = HDSRecordingRunner();
    makeImpl();
    options.baseSerialNum = serialOf(s.stdoutText).empty() ? kSerial : serialOf(s.stdoutText);
    // The host-group listing asks for the resource groups first.
    if (reader != Reader::kResourceGroup) {
      runner.on(" get resource ", R::ok("RS_GROUP RGID stat Lock_owner Lock_host Serial#\n"
                                        "meta_resource 0 Unlocked - - " + options.baseSerialNum +
                                        "\n"));
    }
    runner.fallback([&](const std::string&) { return hdsgolden::replyOf(s); });
    const Outcome got = run(reader);
    if (!got) {
      EXPECT_EQ(62601, error().first);
    }
    return got;
  }

 private:
  using R = HDSRecordingRunner;
  Outcome ifOk(int rc, const Rows& rows) { return rc == 0 ? Outcome(rows) : std::nullopt; }
  Outcome run(Reader reader) {
    switch (reader) {
      case Reader::kPool: {
        std::vector<HDSPoolInfo> v;
        const int rc = impl->getPoolList(v);
        return ifOk(rc, pools(v));
      }
      case Reader::kSnapshot: {
        std::vector<HDSSnapshotGroupInfo> v;
        const int rc = impl->getSnapshotGroupList(v, "", true);
        return ifOk(rc, snapshots(v));
      }
      case Reader::kCopyGroup: {
        std::vector<HDSCopyGroup> v;
        const int rc = impl->getCopyGroup(v, "");
        return ifOk(rc, copyGroups(v));
      }
      case Reader::kQMarker: {
        std::string q;
        const int rc = impl->getQMarkerForCopyGroup("oradb", q);
        return ifOk(rc, {q});
      }
      case Reader::kPairScan: {
        // Every mirror unit is answered by the sample: keep MU 0's rows.
        std::vector<HDSPairInfo> v, mu0;
        device.setReplicationType(ZRSO::REPLICATION_TYPE_GAD);
        const int rc = impl->getRemotePairInfoForHostGroup("CL1-A-0", v);
        for (const HDSPairInfo& p : v)
          if (p.muNumber == 0) mu0.push_back(p);
        return ifOk(rc, pairs(mu0));
      }
      case Reader::kCommandDeviceScan: {
        Peer::commandDevices(*impl) = {"/dev/sdc"};
        std::string hg;
        const int rc = impl->getHostGroupOfCommandDevice(hg);
        return ifOk(rc, hg.empty() ? Rows{} : Rows{hg});
      }
      case Reader::kLun: {
        std::vector<HDSLunInfo> v;
        const int rc = impl->getLunsForHostGroup("CL4-E", "0", v);
        return ifOk(rc, luns(v));
      }
      case Reader::kHostGroup: {
        HDSPortInfo info;
        const int rc = impl->getPortHostGroupList("CL4-E", "", info, false, "", false);
        return ifOk(rc, hostGroups(info.hostGroups));
      }
      case Reader::kHostGroupWwn: {
        HDSHostGroupInfo g;
        const int rc = impl->getHostGroupInfo("CL1-A", "0", g);
        return ifOk(rc, wwns(g));
      }
      case Reader::kPort: {
        std::vector<HDSPortInfo> v;
        const int rc = impl->getPortList(v);
        return ifOk(rc, ports(v));
      }
      case Reader::kPortLogin: {
        HDSPortInfo p;
        const int rc = impl->getPortLoginWWNList("CL4-E", p);
        return ifOk(rc, logins(p));
      }
      case Reader::kResourceGroup: {
        std::map<std::string, ResourceGroupInfo> m;
        const int rc = impl->getResourceGroupInfo(m, false);
        return ifOk(rc, resourceGroups(m));
      }
      default:
        ADD_FAILURE() << "no operation";
        return std::nullopt;
    }
  }
};

TEST_F(GoldenOperations, OperationsReadEverySampleAsTheTableSays) {
  for (const Golden& g : goldens()) {
    SCOPED_TRACE(g.id);
    const ZrReferenceSample s = sampleOf(g.id);
    const Outcome got = operate(g.reader, s);
    ASSERT_EQ(got.has_value(), g.read) << error().second;
    if (g.read) {
      EXPECT_EQ(*got, g.rows);
    }
  }
}

// ---- Garbled listings --------------------------------------------------------

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

// Every data row begins with blanks.
std::string indented(const std::string& out) {
  std::string s;
  const std::vector<std::string> lines = linesOf(out);
  for (size_t i = 0; i < lines.size(); ++i) s += (i ? "    " : "") + lines[i] + "\n";
  return s;
}

// Every column of the data rows flush right in its own width.
std::string rightAligned(const std::string& out) {
  const std::vector<std::string> lines = linesOf(out);
  std::vector<std::vector<std::string>> words;
  std::vector<size_t> width;
  for (size_t i = 1; i < lines.size(); ++i) {
    words.emplace_back();
    const hdscols::Row row(lines[i]);
    for (size_t k = 0; k < row.count(); ++k) {
      words.back().emplace_back(row.text(k));
      if (width.size() <= k) width.push_back(0);
      width[k] = std::max(width[k], row.text(k).size());
    }
  }
  std::string s = lines.empty() ? "" : lines[0] + "\n";
  for (const auto& w : words) {
    for (size_t k = 0; k < w.size(); ++k) s += std::string(width[k] - w[k].size() + 2, ' ') + w[k];
    s += "\n";
  }
  return s;
}

// The last row cut off in its middle, as a listing that ends early.
std::string lastRowCut(const std::string& out) {
  std::string s = out;
  while (!s.empty() && s.back() == '\n') s.pop_back();
  const size_t start = s.rfind('\n') + 1;
  return s.substr(0, start + (s.size() - start) / 2);
}

// The sample under the header line of another sample.
std::string underHeaderOf(const std::string& out, const std::string& otherId) {
  const std::string other = zrReferenceSample(otherId).stdoutText;
  return other.substr(0, other.find('\n') + 1) + out.substr(out.find('\n') + 1);
}

struct Garble {
  const char* what;
  Reader reader;
  const char* id;
  const char* otherHeader;  // a sample of another form whose header lacks a column read
};

TEST(GoldenReaders, GarbledListingsReadTheSameOrAreRefused) {
  const Garble garbles[] = {
      {"pools", Reader::kPool, "get_pool_key_opt/1", "get_pool_key_opt/2"},
      {"snapshots", Reader::kSnapshot, "get_snapshot/17", "get_pool_key_opt/1"},
      {"whole-array snapshots", Reader::kSnapshot, "get_snapshot/16", "get_snapshot/20"},
      {"copy groups", Reader::kCopyGroup, "get_copy_grp/2", "pairdisplay/1"},
      {"q-marker", Reader::kQMarker, "pairsyncwait/1", "get_command_status/1"},
      {"pair scan", Reader::kPairScan, "raidscan/1", "raidscan/3"},
      {"LU paths", Reader::kLun, "get_lun/1", "get_host_grp/4"},
      {"host groups", Reader::kHostGroup, "get_host_grp/4", "get_lun/1"},
      {"iSCSI host groups", Reader::kHostGroup, "get_host_grp/6", "get_port/1"},
      {"WWNs", Reader::kHostGroupWwn, "get_hba_wwn/1", "get_port/3"},
      {"ports", Reader::kPort, "get_port/1", "get_port/3"},
      {"port logins", Reader::kPortLogin, "get_port/3", "get_port/1"},
      {"resource groups", Reader::kResourceGroup, "get_resource/3", "get_snapshot/16"},
  };
  for (const Garble& g : garbles) {
    SCOPED_TRACE(g.what);
    const std::string out = zrReferenceSample(g.id).stdoutText;
    const Outcome plain = parseAs(g.reader, out);
    ASSERT_TRUE(plain.has_value());
    ASSERT_FALSE(plain->empty());
    EXPECT_EQ(parseAs(g.reader, indented(out)), plain) << indented(out);
    EXPECT_EQ(parseAs(g.reader, rightAligned(out)), plain) << rightAligned(out);
    EXPECT_EQ(parseAs(g.reader, lastRowCut(out)), std::nullopt) << lastRowCut(out);
    EXPECT_EQ(parseAs(g.reader, underHeaderOf(out, g.otherHeader)), std::nullopt);
    EXPECT_EQ(parseAs(g.reader, "Enter password:\n" + out.substr(out.find('\n') + 1)),
              std::nullopt);
  }
}

// Header words are found whatever their letter case: the host-group scan
// prints "PORT#", the bare-port scan "Port#", and a reader takes either.
TEST(GoldenReaders, HeaderWordsCompareWithoutLetterCase) {
  const struct {
    Reader reader;
    const char* id;
  } samples[] = {{Reader::kPairScan, "raidscan/1"}, {Reader::kPool, "get_pool_key_opt/1"},
                 {Reader::kHostGroup, "get_host_grp/4"}, {Reader::kSnapshot, "get_snapshot/19"},
                 {Reader::kResourceGroup, "get_resource/5"}};
  for (const auto& c : samples) {
    SCOPED_TRACE(c.id);
    const std::string out = zrReferenceSample(c.id).stdoutText;
    const size_t nl = out.find('\n');
    std::string upper = out, lower = out;
    for (size_t i = 0; i < nl; ++i) {
      upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
      lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
    }
    EXPECT_EQ(parseAs(c.reader, upper), parseAs(c.reader, out));
    EXPECT_EQ(parseAs(c.reader, lower), parseAs(c.reader, out));
  }
}

// The pool listing pads ids ("001"); the job's settings and the snapshot
// listing do not: the same pool either way.
TEST(GoldenReaders, PoolIdsCompareAsNumbers) {
  std::vector<HDSPoolInfo> v;
  ASSERT_TRUE(hdsparse::parsePoolList(zrReferenceSample("get_pool_key_opt/1").stdoutText, v).ok());
  ASSERT_EQ(5u, v.size());
  EXPECT_TRUE(hdsparse::samePoolId(v[2].poolId, "3"));
  EXPECT_TRUE(hdsparse::samePoolId("3", v[2].poolId));
  EXPECT_FALSE(hdsparse::samePoolId(v[2].poolId, "30"));
  EXPECT_TRUE(hdsparse::samePoolId("000", "0"));
  EXPECT_FALSE(hdsparse::samePoolId("", "0"));
  EXPECT_FALSE(hdsparse::samePoolId("snap", "0"));
  EXPECT_TRUE(hdsparse::samePoolId("snap", "snap"));
}

}  // namespace
