// Handler object: the initialisation steps and their errors, and teardown.
#include <gtest/gtest.h>

#include "handler/tests/support/HDSFakeImplementer.h"
#include "handler/tests/support/HDSHandlerTestBed.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "host/ZRPlatformInfo.h"
#include "host/testing/ZrFakeDeviceTree.h"

namespace {

using Script = std::function<void(HDSFakeImplementer&)>;

int ok() { return 0; }

// A fake that logs in and reads the resource group without trouble.
void healthy(HDSFakeImplementer& f) {
  f.onLogin = [](bool) { return 0; };
  f.onLogout = ok;
  f.onResourceGroupFromLdev = ok;
}

class HandlerInit : public ::testing::Test {
 protected:
  std::unique_ptr<ZRHDSCommandHandler> withFake(const Script& script, int op = 1) {
    bed.params.operationType = op;
    return std::unique_ptr<ZRHDSCommandHandler>(
        new ZRHDSCommandHandler(bed.params, HDSFakeImplementer::factory(script, &fake)));
  }
  HDSHandlerTestBed bed;
  HDSFakeImplementer* fake = nullptr;
};

struct InitCase {
  const char* name;
  Script script;
  int code;
  const char* text;
  bool loggedIn;  // the destructor then logs out
};

TEST_F(HandlerInit, EachStepFailingPassesTheImplementationsErrorOrSetsItsOwn) {
  const InitCase cases[] = {
      {"not initialised, code 0", [](HDSFakeImplementer& f) { f.initialized = false; }, 1,
       "Failed to Initialize Command Implementer.", false},
      {"not initialised, own code",
       [](HDSFakeImplementer& f) {
         f.initialized = false;
         f.failWith(62600, "Failed to start HORCM instance-[3532].");
       },
       62600, "Failed to start HORCM instance-[3532].", false},
      {"login, code 0", [](HDSFakeImplementer& f) { f.onLogin = [](bool) { return 1; }; }, 1,
       "Failed to perform Login operation.", false},
      {"login, own code",
       [](HDSFakeImplementer& f) {
         f.onLogin = [&f](bool) { return f.failWith(62602, "Failed to login into array."); };
       },
       62602, "Failed to login into array.", false},
      // A code of the array layer travels with its own text, even an empty
      // one: the handler's text belongs to a code of 0 only.
      {"login, own code without text",
       [](HDSFakeImplementer& f) { f.onLogin = [&f](bool) { return f.failWith(5, ""); }; }, 5, "",
       false},
      {"resource group, code 0",
       [](HDSFakeImplementer& f) {
         healthy(f);
         f.onResourceGroupFromLdev = [] { return 1; };
       },
       1, "Failed to get resource group information.", true},
      {"resource group, own code",
       [](HDSFakeImplementer& f) {
         healthy(f);
         f.onResourceGroupFromLdev = [&f] {
           return f.failWith(62601,
                             "Unable to find resource group corresponging to source LDEV256");
         };
       },
       62601, "Unable to find resource group corresponging to source LDEV256", true},
  };
  bed.addSources({256});
  for (const InitCase& c : cases) {
    SCOPED_TRACE(c.name);
    int logouts = 0;
    {
      auto h = withFake([&](HDSFakeImplementer& f) {
        c.script(f);
        f.onLogout = [&] { return ++logouts, 0; };
      });
      EXPECT_FALSE(h->IsHandlerInitialized());
      EXPECT_EQ(c.code, HDSHandlerTestBed::error(*h).first);
      EXPECT_EQ(c.text, HDSHandlerTestBed::error(*h).second);
      bool loggedIn = false;
      h->getIsLoggedIn(loggedIn);
      EXPECT_EQ(c.loggedIn, loggedIn);
    }
    EXPECT_EQ(c.loggedIn ? 1 : 0, logouts);
  }
}

TEST_F(HandlerInit, NoImplementationIsAnAllocationFailure) {
  bed.addSources({256});
  // Implementer type other than the CCI one: nothing is built.
  bed.params.implementerType = 2;
  ZRHDSCommandHandler plain(bed.params);
  EXPECT_FALSE(plain.IsHandlerInitialized());
  EXPECT_EQ(1, HDSHandlerTestBed::error(plain).first);
  EXPECT_EQ("Failed to Initialize Command Implementer. Memory Allocation Failed",
            HDSHandlerTestBed::error(plain).second);
  // A factory that builds nothing.
  ZRHDSCommandHandler empty(
      bed.params, ZRHDSImplementerFactory([](ZRSO::SnapInfo*&, ZRHDSCommandHandlerInputParams&) {
        return std::unique_ptr<ZRHDSCommandImplementer>();
      }));
  EXPECT_EQ("Failed to Initialize Command Implementer. Memory Allocation Failed",
            HDSHandlerTestBed::error(empty).second);
}

TEST_F(HandlerInit, NoRecordsFailsWithoutBuildingAnything) {
  bool built = false;
  ZRHDSCommandHandler h(
      bed.params, ZRHDSImplementerFactory([&](ZRSO::SnapInfo*&, ZRHDSCommandHandlerInputParams&) {
        built = true;
        return std::unique_ptr<ZRHDSCommandImplementer>();
      }));
  EXPECT_FALSE(h.IsHandlerInitialized());
  EXPECT_FALSE(built);
  EXPECT_EQ(1, HDSHandlerTestBed::error(h).first);
  EXPECT_FALSE(HDSHandlerTestBed::error(h).second.empty());
}

TEST_F(HandlerInit, LoginCountKeyFailureStopsBeforeTheImplementation) {
  bed.addSources({256});
  bed.options.baseSerialNum = "";  // no array to keep a count for
  auto h = withFake(healthy);
  EXPECT_EQ(nullptr, fake);
  EXPECT_EQ(62602, HDSHandlerTestBed::error(*h).first);
  EXPECT_EQ("Failed to login to the array.", HDSHandlerTestBed::error(*h).second);
  EXPECT_TRUE(bed.logs().find("Failed to set login count for array-[]") != std::string::npos);
}

TEST_F(HandlerInit, CreateJobSkipsTheCountKeyAndTheResourceGroup) {
  bed.addSources({256});
  bed.options.baseSerialNum = "";  // would fail the key step
  auto h = withFake(
      [](HDSFakeImplementer& f) {
        f.onLogin = [](bool) { return 0; };
        f.onLogout = ok;
      },
      8);
  EXPECT_TRUE(h->IsHandlerInitialized());
  EXPECT_EQ(std::vector<std::string>{"login"}, fake->calls);
}

TEST_F(HandlerInit, GivenImplementationIsUsedAndDestroyedWithTheHandler) {
  bed.addSources({256});
  ZRSO::SnapInfo* callerLogger = &bed.device(0);
  std::unique_ptr<HDSFakeImplementer> impl(new HDSFakeImplementer(callerLogger, bed.params));
  healthy(*impl);
  {
    ZRHDSCommandHandler h(bed.params, std::unique_ptr<ZRHDSCommandImplementer>(std::move(impl)));
    EXPECT_TRUE(h.IsHandlerInitialized());
  }
  // The implementation's destructor cleared the pointer it was bound to.
  EXPECT_EQ(nullptr, callerLogger);
}

TEST_F(HandlerInit, AgainstTheSimulatorLogsInOnceAndOutAtTeardown) {
  bed.addSources({256, 257});
  {
    auto h = bed.handler();
    ASSERT_TRUE(h->IsHandlerInitialized()) << HDSHandlerTestBed::error(*h).second;
    EXPECT_TRUE(bed.sim.instance(3532).loggedIn);
    ZRPlatformInfo settings;
    int count = -1;
    EXPECT_NE(0, settings.getRegInt("~Tessavon", "sZRHDSRaidcomLockCount_412345", &count));
    EXPECT_EQ(1, count);
  }
  EXPECT_EQ(1u, bed.count("-login"));
  EXPECT_EQ(1u, bed.count("-logout"));
  EXPECT_FALSE(bed.sim.instance(3532).loggedIn);
  // The osUtil pointer variable of the caller was cleared by the teardown.
  EXPECT_EQ(nullptr, bed.osUtil);
}

TEST_F(HandlerInit, PlainConstructionRunsTheWholeCciSetUpAgainstTheSimulator) {
  // The command device as the host's inquiry sees it.
  bed.sim.addCommandDevice("/dev/sdc", "412345", 2047);
  ZrFakeDeviceTree tree;
  ZrFakeDeviceTree::Disk disk;
  disk.standard = bed.sim.commandDeviceInquiryStandard("/dev/sdc");
  disk.e2 = bed.sim.commandDeviceInquiryE2("/dev/sdc");
  tree.addDisk("/dev/sdc", disk);
  ZrScopedDeviceTree installed(&tree);
  bed.os.setDevices({"/dev/sda", "/dev/sdc"});
  bed.sim.setInstanceStopped(3532);
  bed.options.horcmInst = "";
  ZRHDSRaidcomTestPeer::setLocalHostName("");
  bed.addSources({256});
  {
    ZRHDSCommandHandler h(bed.params);
    ASSERT_TRUE(h.IsHandlerInitialized()) << HDSHandlerTestBed::error(h).second;
    EXPECT_LE(1u, bed.count("", "horcmstart.sh"));
    EXPECT_TRUE(bed.sim.instance(3532).running);
    EXPECT_EQ(1u, bed.count("-login"));
  }
  EXPECT_EQ(1u, bed.count("-logout"));
}

TEST_F(HandlerInit, SimulatorRefusingTheLoginPassesItsCodeThrough) {
  bed.addSources({256});
  bed.options.password = "wrong";
  auto h = bed.handler();
  EXPECT_FALSE(h->IsHandlerInitialized());
  EXPECT_EQ(62602, HDSHandlerTestBed::error(*h).first);
  EXPECT_EQ("Failed to login into array.", HDSHandlerTestBed::error(*h).second);
  h.reset();
  EXPECT_EQ(0u, bed.count("-logout"));
}

}  // namespace
