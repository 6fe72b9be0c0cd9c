// The container's own codes: a handler step that fails without a code of
// its own (the array layer left code 0) gets the operation's fallback code
// and text; one that left a code keeps it. Driven through a scripted
// array command interface, since real commands always leave a code.
#include <functional>
#include <string>

#include "container/tests/support/HDSContainerTestBed.h"
#include "handler/tests/support/HDSFakeImplementer.h"

namespace {

class ContainerFallback : public HDSContainerTestBed {
 protected:
  ~ContainerFallback() override { ZRHDSCommandHandler::setDefaultImplementerFactory(nullptr); }
  // Containers built from now on talk to a fake whose login and logout
  // succeed, then script.
  void useFake(std::function<void(HDSFakeImplementer&)> script) {
    ZRHDSCommandHandler::setDefaultImplementerFactory(
        HDSFakeImplementer::factory([script](HDSFakeImplementer& f) {
          f.onLogin = [](bool) { return 0; };
          f.onLogout = [] { return 0; };
          f.onResourceGroupFromLdev = [] { return 0; };
          script(f);
        }));
  }
};

struct Fallback {
  const char* name;
  OperationType type;
  std::function<void(HDSFakeImplementer&)> script;
  std::function<int(ZRHDSInfoContainer&)> run;
  int code;
  const char* text;
};

TEST_F(ContainerFallback, CodesOfTheContainer) {
  // The snapshot listing fails without a code of the array layer.
  const auto failListing = [](HDSFakeImplementer& f) {
    f.onSnapshotList = [](std::vector<HDSSnapshotGroupInfo>&, const std::string&, bool) {
      return 1;
    };
  };
  const Fallback rows[] = {
      {"reconcile listing", OPERATION_TYPE_RECONCILE, failListing,
       [](ZRHDSInfoContainer& c) { return c.Reconcile(); }, 9,
       "Failed reconcile Snap device information."},
      {"revert listing", OPERATION_TYPE_REVERT, failListing,
       [](ZRHDSInfoContainer& c) { return c.Revert(); }, 60005,
       "Failed Revert from Targetless Snapshot."},
      {"delete check", OPERATION_TYPE_DELETE, failListing,
       [](ZRHDSInfoContainer& c) { return c.Delete(); }, 12,
       "Failed to check if the targetless snaps are already mapped to LDEV or not."},
      {"copy groups", OPERATION_TYPE_REMOTE_REPL,
       [](HDSFakeImplementer& f) {
         f.onCopyGroup = [](std::vector<HDSCopyGroup>&, const std::string&) { return 1; };
       },
       [](ZRHDSInfoContainer& c) { return c.getRemoteReplicationInfo(); }, 19,
       "Failed to get the replication information for the source devices."},
      {"a code of the array layer stands", OPERATION_TYPE_RECONCILE,
       [](HDSFakeImplementer& f) {
         f.onSnapshotList = [&f](std::vector<HDSSnapshotGroupInfo>&, const std::string&, bool) {
           return f.failWith(62601, "Failed to get the snapshot group list");
         };
       },
       [](ZRHDSInfoContainer& c) { return c.Reconcile(); }, 62601,
       "Failed to get the snapshot group list"},
  };
  for (const Fallback& r : rows) {
    SCOPED_TRACE(r.name);
    devices.clear();
    FakeSnapInfo& d = addSource(256);
    d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "CG1");
    d.setMetadataText(HDS_METADATA_UNIQUE, "1S:412345**3L:256**5M:M8S**13SM:3**10SG:QB_12_5_A**");
    d.setMetadataText(HDS_METADATA_UNIQUE_OTHER, d.metadata(HDS_METADATA_UNIQUE));
    useFake(r.script);
    auto c = make(r.type);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    EXPECT_EQ(0, r.run(*c));
    EXPECT_EQ(std::make_pair(r.code, std::string(r.text)), error(*c));
  }
}

}  // namespace
