// Replication, GAD and virtual-array operations on the simulator: each
// discovery followed by the record it stores, and each failure code.
#include <string>

#include "container/tests/support/HDSContainerTestBed.h"

namespace {

class ContainerRemote : public HDSContainerTestBed {
 protected:
  void SetUp() override {
    ccisim::CopyGroup g;
    g.name = "CG1";
    g.ldevGroup = "DG1";
    g.mu = "1";  // the mirror of the pair below
    fx.addCopyGroup(kSerial, g);
    fx.addSourceLdev(kSerial, 256, 2097152, 0);
    fx.addLun(kSerial, "CL1-A", 1, 0, 256);
    ccisim::RemotePair pair;
    pair.ldev = 256;
    pair.mu = 1;
    pair.fence = "ASYNC";
    pair.rcuSerial = "412999";
    pair.partner = "70";
    fx.addRemotePair(kSerial, pair);
  }
  FakeSnapInfo& source() {
    FakeSnapInfo& d = addSource(256);
    d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "CG1");
    d.setMetadataText(HDS_METADATA_UNIQUE_OTHER, d.metadata(HDS_METADATA_UNIQUE));
    return d;
  }
};

TEST_F(ContainerRemote, ReplicationDiscoveryStoresThePartnerView) {
  FakeSnapInfo& d = source();
  auto c = make(OPERATION_TYPE_REMOTE_REPL);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  ASSERT_EQ(1, c->getRemoteReplicationInfo()) << error(*c).second;
  EXPECT_EQ("1S:412999**3L:70**5M:M8S**6RS:412345**8RL:256**15RM:1**",
            d.metadata(HDS_METADATA_UNIQUE));
  // An asynchronous pair is the host's Universal Replicator.
  EXPECT_EQ(ZRSO::REPLICATION_TYPE_UNIVERSAL_REPLICATOR, d.replicationType());
  EXPECT_EQ(0x8000000u | 0x2000000u, d.snapFlags());
  ASSERT_EQ(1u, d.arrayInformationCalls().size());
  EXPECT_EQ("412999", d.arrayInformationCalls()[0].serial);
}

TEST_F(ContainerRemote, ReplicationDiscoveryFailures) {
  FakeSnapInfo& d = source();
  d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "");
  {
    auto c = make(OPERATION_TYPE_REMOTE_REPL);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    fx.clearJournal();
    EXPECT_EQ(0, c->getRemoteReplicationInfo());
    EXPECT_EQ(std::make_pair(18, std::string("Empty Replication Copy Group passed.")), error(*c));
    EXPECT_TRUE(d.logged("Empty Replication Copy Group passed."));
    EXPECT_TRUE(fx.journal().empty());
  }
  // No pair in any MU: the handler's code, the log line for the user.
  d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "CG1");
  fx.setArray(kSerial, [](ccisim::Array& a) { a.remotePairs.clear(); });
  const std::string before = d.metadata(HDS_METADATA_UNIQUE);
  auto c = make(OPERATION_TYPE_REMOTE_REPL);
  EXPECT_EQ(0, c->getRemoteReplicationInfo());
  EXPECT_NE(0, error(*c).first);
  EXPECT_FALSE(error(*c).second.empty());
  EXPECT_TRUE(
      d.logged("No valid HUR/TC configured for the Source P-VOLs. Please check documentation."));
  EXPECT_EQ(before, d.metadata(HDS_METADATA_UNIQUE));
}

TEST_F(ContainerRemote, VirtualArrayCheckOnAPhysicalArray) {
  FakeSnapInfo& d = source();
  d.setMetadataText(HDS_METADATA_UNIQUE, "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**15RM:1**");
  auto c = make(OPERATION_TYPE_PREPARE_REMOTE);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  ASSERT_EQ(1, c->checkForVirtualArray()) << error(*c).second;
  EXPECT_EQ("1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**15RM:1**",
            d.metadata(HDS_METADATA_UNIQUE));
  ASSERT_EQ(1u, d.arrayInformationCalls().size());
  EXPECT_EQ("412345", d.arrayInformationCalls()[0].serial);
}

TEST_F(ContainerRemote, GadDiscovery) {
  FakeSnapInfo& d = source();
  {
    // Not a GAD volume: the handler's code and text stand; nothing stored.
    auto c = make(OPERATION_TYPE_SEGREGATE);
    ASSERT_TRUE(c->IsGADEnabled());
    const std::string before = d.metadata(HDS_METADATA_UNIQUE);
    EXPECT_EQ(0, c->getGADPairInfo());
    EXPECT_NE(0, error(*c).first);
    EXPECT_NE(std::string::npos, error(*c).second.find("is not GAD enabled")) << error(*c).second;
    EXPECT_EQ(before, d.metadata(HDS_METADATA_UNIQUE));
  }
  fx.setArray(kSerial, [](ccisim::Array& a) {
    a.ldevRef(256).attrs.push_back("GAD");
    a.remotePairs.front().fence = "NEVER";
  });
  auto c = make(OPERATION_TYPE_SEGREGATE);
  ASSERT_EQ(1, c->getGADPairInfo()) << error(*c).second;
  EXPECT_EQ("1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**14GS:1**",
            d.metadata(HDS_METADATA_UNIQUE));
  EXPECT_TRUE(d.logged("Generated metadata-[1S:412345**3L:256**"));
}

}  // namespace
