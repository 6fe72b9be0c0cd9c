#include "handler/tests/support/HDSHandlerTestBed.h"

#include <sys/stat.h>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "array/tests/support/HDSTestDefaults.h"
#include "host/ZRPlatformInfo.h"

HDSHandlerTestBed::HDSHandlerTestBed() : params(osUtil, options, snaps) {
  sim.exportEnv();
  sim.addArray(kSerial);
  sim.addUser("cciuser", "secret");
  // A prepared instance: its file names the array (the first login of a
  // job checks that), and it is running.
  sim.addCommandDevice("/dev/sdc", kSerial, 2047);
  sim.writeHorcmFile(kInstance, "mahost01", kSerial, {"/dev/sdc"});
  sim.setInstanceRunning(kInstance, kSerial);
  ccisim::Pool pool;
  pool.id = kPool;
  pool.name = "tipool";
  sim.addPool(kSerial, pool);

  hdstest::applyTestDefaults(options);
  options.horcmInstPath = ccisim::toolDir();
  options.arrayId = kSerial;
  options.userName = "cciuser";
  options.password = "secret";
  options.pool = std::to_string(kPool);
  options.snapshotGroup = "QB_7";
  ::mkdir((tmp.path() + "/tmp").c_str(), 0700);
}

HDSHandlerTestBed::~HDSHandlerTestBed() = default;

void HDSHandlerTestBed::addSources(const std::vector<int>& ldevs, bool defineOnArray) {
  for (int id : ldevs) {
    devices.emplace_back();
    FakeSnapInfo& device = devices.back();
    device.setSourceDevicePathText("/dev/sd" + std::to_string(id));
    ZRHDSSnapInfo snap;
    snap.snapInfo = &device;
    snap.baseSerialNo = kSerial;
    snap.baseDevNo = std::to_string(id);
    snap.sourceDevice = "/dev/sd" + std::to_string(id);
    snaps.push_back(snap);
    if (defineOnArray && sim.load().arrays.at(kSerial).ldevs.count(id) == 0) {
      sim.addSourceLdev(kSerial, id, 4194304, 1);
    }
  }
}

ZRHDSImplementerFactory HDSHandlerTestBed::simulatorFactory() {
  const std::string tempDir = tmp.path() + "/tmp";
  return [tempDir](ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& p) {
    std::unique_ptr<ZRHDSRaidcomImplementer> impl(
        new ZRHDSRaidcomImplementer(logger, p, ZRHDSCommandHelperRunner::instance(), false));
    ZRHDSRaidcomTestPeer::setReady(*impl, tempDir);
    // Real children: a stuck tool must not hold a test for minutes.
    ZRHDSRaidcomTestPeer::setCommandTimeout(*impl, 30);
    return std::unique_ptr<ZRHDSCommandImplementer>(std::move(impl));
  };
}

std::unique_ptr<ZRHDSCommandHandler> HDSHandlerTestBed::handler(int operationType) {
  params.operationType = operationType;
  return std::unique_ptr<ZRHDSCommandHandler>(new ZRHDSCommandHandler(params, simulatorFactory()));
}

std::pair<int, std::string> HDSHandlerTestBed::error(ZRHDSCommandHandler& h) {
  std::pair<int, std::string> e;
  h.getErrorCodeString(e.first, e.second);
  return e;
}

size_t HDSHandlerTestBed::count(const std::string& match, const std::string& tool) const {
  return sim.journal(tool, match).size();
}

std::vector<std::string> HDSHandlerTestBed::lines(const std::string& tool) const {
  std::vector<std::string> out;
  for (const ccisim::JournalEntry& e : sim.journal()) {
    if (e.tool == tool) out.push_back(e.line());
  }
  return out;
}

void HDSHandlerTestBed::setSetting(const std::string& key, int value) {
  ZRPlatformInfo settings;
  settings.setRegInt("~Tessavon", key.c_str(), value);
}

void HDSHandlerTestBed::setStringSetting(const std::string& section, const std::string& key,
                                         const std::string& value) {
  ZRPlatformInfo settings;
  settings.setRegString(section.c_str(), key.c_str(), value.c_str());
}

std::string HDSHandlerTestBed::logs() const {
  std::string all;
  for (const FakeSnapInfo& d : devices) {
    for (const std::string& t : d.logTexts(-1)) all += t + "\n";
  }
  return all;
}
