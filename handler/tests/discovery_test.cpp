// GAD pair, TrueCopy / Universal Replicator mirror unit and virtual storage
// machine discovery against the simulator's pair scans and resource groups.
#include <gtest/gtest.h>

#include "handler/tests/support/HDSHandlerTestBed.h"

namespace {

const char kSerial[] = "412345";

class HandlerDiscovery : public ::testing::Test {
 protected:
  HandlerDiscovery() {
    bed.sim.addPort(kSerial, "CL1-A", "50060e8012345600");
    bed.sim.addPort(kSerial, "CL2-A", "50060e8012345610");
    bed.sim.addHostGroup(kSerial, "CL1-A", 1, "hg1");
    bed.sim.addHostGroup(kSerial, "CL2-A", 2, "hg2");
  }
  // A source LDEV mapped at CL1-A-1 (and CL2-A-2 when multipath).
  void source(int id, bool gad = false, bool multipath = false) {
    ccisim::Ldev l;
    l.id = id;
    l.capacity = 2097152;
    l.attrs = {"CVS", "HDP"};
    if (gad) l.attrs.push_back("GAD");
    bed.sim.addLdev(kSerial, l);
    bed.sim.addLun(kSerial, "CL1-A", 1, id - 300, id);
    if (multipath) bed.sim.addLun(kSerial, "CL2-A", 2, id - 300, id);
  }
  void pair(int ldev, int mu, const std::string& status, const std::string& fence = "ASYNC",
            const std::string& role = "P-VOL", const std::string& rcu = "512345") {
    ccisim::RemotePair p;
    p.ldev = ldev;
    p.mu = mu;
    p.role = role;
    p.status = status;
    p.fence = fence;
    p.rcuSerial = rcu;
    p.partner = std::to_string(ldev + 1000);
    bed.sim.addRemotePair(kSerial, p);
  }
  void copyGroup(const std::string& mu) {
    ccisim::CopyGroup g;
    g.name = "cg1";
    g.ldevGroup = "dg1";
    g.mu = mu;
    bed.sim.addCopyGroup(kSerial, g);
    bed.options.copyGroup = "cg1";
  }
  std::pair<int, std::string> error() { return HDSHandlerTestBed::error(*h); }

  HDSHandlerTestBed bed;
  std::unique_ptr<ZRHDSCommandHandler> h;
};

TEST_F(HandlerDiscovery, GadPairOfEachSourceIsTheFirstOneInPair) {
  struct Case {
    const char* name;
    std::vector<std::tuple<int, std::string, std::string>> pairs;  // MU, status, role
    bool found;
    int mu;
    int side;
  };
  const Case cases[] = {
      {"P-VOL in PAIR", {{0, "PAIR", "P-VOL"}}, true, 0, 1},
      {"S-VOL in PAIR", {{1, "PAIR", "S-VOL"}}, true, 1, 2},
      {"COPY then PAIR", {{0, "COPY", "P-VOL"}, {2, "PAIR", "P-VOL"}}, true, 2, 1},
      {"only COPY and PSUS", {{0, "COPY", "P-VOL"}, {1, "PSUS", "P-VOL"}}, false, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bed.sim.setArray(kSerial, [](ccisim::Array& a) { a.remotePairs.clear(); });
    for (const auto& p : c.pairs)
      pair(301, std::get<0>(p), std::get<1>(p), "NEVER", std::get<2>(p));
    if (bed.snaps.empty()) {
      source(301, true);
      bed.addSources({301}, false);
      h = bed.handler();
    }
    // Stored values of an earlier job must not pass for a found pair.
    bed.snaps[0].rcuBaseDevNo = "9999";
    bed.snaps[0].replicationMu = -1;
    bed.snaps[0].gadSide = 0;
    EXPECT_EQ(c.found, h->getGADPairInfoForDevices());
    EXPECT_EQ(4, bed.device(0).replicationType());
    if (c.found) {
      EXPECT_EQ("512345", bed.snaps[0].rcuBaseSerialNo);
      EXPECT_EQ("1301", bed.snaps[0].rcuBaseDevNo);
      EXPECT_EQ(c.mu, bed.snaps[0].replicationMu);
      EXPECT_EQ(c.side, bed.snaps[0].gadSide);
    } else {
      EXPECT_EQ(5, error().first);
      EXPECT_EQ("No valid GAD configuration found for source device-301", error().second);
    }
  }
}

TEST_F(HandlerDiscovery, GadAttributeIsRequiredOfTheFirstSourceOnly) {
  source(301, false);
  source(302, true);
  pair(301, 0, "PAIR");
  bed.addSources({301, 302}, false);
  h = bed.handler();
  EXPECT_FALSE(h->getGADPairInfoForDevices());
  EXPECT_EQ(5, error().first);
  EXPECT_EQ("The source device-/dev/sd301 is not GAD enabled. All devices need to be GAD enabled.",
            error().second);
  EXPECT_EQ(0, bed.device(0).replicationType());

  bed.sim.setArray(kSerial, [](ccisim::Array& a) { a.ldevs[301].attrs.push_back("GAD"); });
  // The second source (GAD, but without a pair) fails at the pair search.
  EXPECT_FALSE(h->getGADPairInfoForDevices());
  EXPECT_EQ("No valid GAD configuration found for source device-302", error().second);
  EXPECT_EQ(4, bed.device(1).replicationType());
}

TEST_F(HandlerDiscovery, SourcesBehindOneHostGroupScanItOnce) {
  source(301, true);
  source(302, true);
  pair(301, 0, "PAIR");
  pair(302, 0, "PAIR");
  bed.addSources({301, 302}, false);
  h = bed.handler();
  bed.sim.clearJournal();
  ASSERT_TRUE(h->getGADPairInfoForDevices()) << error().second;
  EXPECT_EQ(3u, bed.count("-p CL1-A-1", "raidscan"));  // MU 0, 1 and 2, once
  EXPECT_EQ(2u, bed.count("get ldev"));
}

struct ReplCase {
  const char* name;
  std::string copyGroupMu;
  std::vector<std::tuple<int, int, std::string, std::string, std::string>> pairs;
  // (LDEV, MU, status, fence, RCU)
  bool chosen;
  int kind;  // replication kind of the records when chosen
};

TEST_F(HandlerDiscovery, ReplicationMirrorUnitMustHoldEverySourceInPair) {
  const ReplCase cases[] = {
      {"MU 1, ASYNC",
       "h1",
       {{301, 1, "PAIR", "ASYNC", "512345"}, {302, 1, "PAIR", "ASYNC", "512345"}},
       true,
       1},
      {"MU 1, NEVER",
       "h1",
       {{301, 1, "PAIR", "NEVER", "512345"}, {302, 1, "PAIR", "NEVER", "512345"}},
       true,
       2},
      {"MU 1, DATA",
       "h1",
       {{301, 1, "PAIR", "DATA", "512345"}, {302, 1, "PAIR", "DATA", "512345"}},
       true,
       2},
      {"MU 1, STATUS",
       "h1",
       {{301, 1, "PAIR", "STATUS", "512345"}, {302, 1, "PAIR", "STATUS", "512345"}},
       true,
       2},
      {"MU 0 found, group of MU 1",
       "h1",
       {{301, 0, "PAIR", "ASYNC", "512345"}, {302, 0, "PAIR", "ASYNC", "512345"}},
       false,
       0},
      {"one pair in COPY",
       "h1",
       {{301, 1, "PAIR", "ASYNC", "512345"}, {302, 1, "COPY", "ASYNC", "512345"}},
       false,
       0},
      {"different fences",
       "h1",
       {{301, 1, "PAIR", "ASYNC", "512345"}, {302, 1, "PAIR", "NEVER", "512345"}},
       false,
       0},
      {"different RCUs",
       "h1",
       {{301, 1, "PAIR", "ASYNC", "512345"}, {302, 1, "PAIR", "ASYNC", "612345"}},
       false,
       0},
      {"one source unpaired", "h1", {{301, 1, "PAIR", "ASYNC", "512345"}}, false, 0},
      {"MU 2 after an incomplete MU 1",
       "h2",
       {{301, 1, "PAIR", "ASYNC", "512345"},
        {301, 2, "PAIR", "ASYNC", "512345"},
        {302, 2, "PAIR", "ASYNC", "512345"}},
       true,
       1},
  };
  source(301, false, true);  // multipath: seen through two host groups
  source(302);
  bed.addSources({301, 302, 301}, false);  // two records on one LDEV
  h = bed.handler();
  for (const ReplCase& c : cases) {
    SCOPED_TRACE(c.name);
    bed.sim.setArray(kSerial, [](ccisim::Array& a) {
      a.remotePairs.clear();
      a.copyGroups.clear();
    });
    copyGroup(c.copyGroupMu);
    for (const auto& p : c.pairs) {
      pair(std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p), "P-VOL", std::get<4>(p));
    }
    for (ZRHDSSnapInfo& s : bed.snaps) {
      s.replicationType = 0;
      s.rcuBaseDevNo.clear();
    }
    EXPECT_EQ(c.chosen, h->getReplPairInfoForDevices());
    if (!c.chosen) {
      EXPECT_EQ(16, error().first);
      EXPECT_EQ("CopyGroup-[cg1] with MU-[" + c.copyGroupMu.substr(1) + "] cannot be used.",
                error().second);
      continue;
    }
    const int mu = c.copyGroupMu[1] - '0';
    for (const ZRHDSSnapInfo& s : bed.snaps) {
      EXPECT_EQ(c.kind, s.replicationType);
      EXPECT_EQ(mu, s.replicationMu);
      EXPECT_EQ("512345", s.rcuBaseSerialNo);
      EXPECT_EQ(std::to_string(std::stoi(s.baseDevNo) + 1000), s.rcuBaseDevNo);
    }
  }
}

// The array lists a copy group once per device group, and a side made
// without a mirror unit shows MU "-": the group's MU is the first one named.
TEST_F(HandlerDiscovery, CopyGroupMirrorUnitIsTheFirstDeviceGroupThatNamesOne) {
  struct Case {
    const char* name;
    std::string firstMu;
    std::vector<std::pair<std::string, std::string>> more;  // device group, MU
    bool chosen;
    const char* refusedMu;  // the MU the refusal names
  } cases[] = {
      {"S side first, P side with MU 1", "-", {{"dgP", "h1"}}, true, ""},
      {"P side first with MU 1, S side", "h1", {{"dgS", "-"}}, true, ""},
      {"first named MU 0 wins over a later MU 1", "-", {{"dgA", "0"}, {"dgB", "h1"}}, false, "0"},
      {"no side names an MU", "-", {{"dgS", "-"}}, false, "-1"},
  };
  source(301);
  bed.addSources({301}, false);
  h = bed.handler();
  pair(301, 1, "PAIR");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bed.sim.setArray(kSerial, [&](ccisim::Array& a) {
      ccisim::CopyGroup g;
      g.name = "cg1";
      g.ldevGroup = "dg0";
      g.mu = c.firstMu;
      g.jid = "-";
      for (const auto& m : c.more) {
        ccisim::CopyGroup::LdevGroup d;
        d.name = m.first;
        d.mu = m.second;
        g.moreLdevGroups.push_back(d);
      }
      a.copyGroups = {{"cg1", g}};
    });
    bed.options.copyGroup = "cg1";
    bed.snaps[0].rcuBaseDevNo.clear();
    EXPECT_EQ(c.chosen, h->getReplPairInfoForDevices());
    if (c.chosen) {
      EXPECT_EQ(1, bed.snaps[0].replicationMu);
      EXPECT_EQ("1301", bed.snaps[0].rcuBaseDevNo);
    } else {
      EXPECT_EQ(16, error().first);
      EXPECT_EQ(std::string("CopyGroup-[cg1] with MU-[") + c.refusedMu + "] cannot be used.",
                error().second);
    }
  }
}

TEST_F(HandlerDiscovery, MissingCopyGroupAndScanFailure) {
  source(301);
  bed.addSources({301}, false);
  h = bed.handler();
  bed.options.copyGroup = "nosuch";
  EXPECT_FALSE(h->getReplPairInfoForDevices());
  EXPECT_EQ(15, error().first);
  EXPECT_EQ("Replication CopyGroup-[nosuch] doesn't exist.", error().second);

  copyGroup("h1");
  bed.sim.addFault(ccisim::Fault::fail("raidscan", "-p", 1, "broken"));
  EXPECT_FALSE(h->getReplPairInfoForDevices());
  EXPECT_EQ(62601, error().first);
}

TEST_F(HandlerDiscovery, VirtualStorageMachineIsSetOnlyWhenItsResourceGroupMatches) {
  struct Case {
    const char* name;
    int vid;    // virtual LDEV id; -1 none
    int rsgid;  // resource group of the sources
    bool ok;
    bool vsm;
  };
  const Case cases[] = {
      {"no virtual id", -1, 0, true, false},
      {"virtual id in meta_resource", 4301, 0, true, false},
      {"virtual id in a machine's group", 4301, 1, true, true},
      {"virtual id in an unknown group", 4301, 7, false, false},
  };
  bed.sim.addResourceGroup(kSerial, "vsm_rg", 1, "498765", "M850S");
  source(301);
  source(302);
  bed.addSources({301, 302}, false);
  h = bed.handler();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bed.sim.setArray(kSerial, [&](ccisim::Array& a) {
      for (int id : {301, 302}) {
        a.ldevs[id].vid = c.vid < 0 ? ccisim::kVidImplicit : c.vid + (id - 301);
        a.ldevs[id].rsgid = c.rsgid;
      }
    });
    bed.options.isVSM = false;
    bed.options.resourceGroup = "meta_resource";
    bed.options.modelNo = "M8S";
    for (ZRHDSSnapInfo& s : bed.snaps) s.vsmDevNo = s.vsmSerialNo = "";
    EXPECT_EQ(c.ok, h->checkIfVirtualArray()) << error().second;
    EXPECT_EQ(c.vsm, bed.options.isVSM);
    if (c.vsm) {
      EXPECT_EQ("vsm_rg", bed.options.resourceGroup);
      EXPECT_EQ("M850S", bed.options.modelNo);
      EXPECT_EQ("498765", bed.snaps[1].vsmSerialNo);
      EXPECT_EQ("4302", bed.snaps[1].vsmDevNo);
    } else {
      EXPECT_EQ("meta_resource", bed.options.resourceGroup);
      EXPECT_EQ("", bed.snaps[0].vsmDevNo);
    }
    if (!c.ok) {
      EXPECT_EQ(1, error().first);
      EXPECT_EQ("Failed to get resource group information.", error().second);
    }
  }
}

}  // namespace
