#include "container/tests/support/HDSContainerTestBed.h"

#include "host/ZRPlatformInfo.h"

std::string HDSContainerTestBed::details(const std::string& password, int engine) {
  return "hostUserName:cciuser,hostPassword:" + password +
         ",engineName:cci,engineId:" + std::to_string(engine) + ",arrayId:412345,";
}

std::string HDSContainerTestBed::startInstance() {
  std::vector<std::unique_ptr<FakeSnapInfo>> kept;
  kept.swap(devices);
  addSource(2000);
  {
    auto c = make(OPERATION_TYPE_PREPARE);
    EXPECT_TRUE(c->IsInitialized()) << error(*c).second;
    m_instance = Peer::options(*c).horcmInst;
  }
  devices.swap(kept);
  return m_instance;
}

HDSContainerTestBed::HDSContainerTestBed() : m_scopedTree(&tree), m_scopedClock(&clock) {
  tmp.setEnv("CCISIM_STATE", fx.statePath());
  fx.addArray(kSerial);
  fx.addUser("cciuser", "secret");
  fx.addCommandDevice("/dev/sdc", kSerial, 2047);
  ccisim::Pool pool;
  pool.id = kPool;
  pool.name = "tipool";
  fx.addPool(kSerial, pool);
  fx.addPort(kSerial, "CL1-A", "50060e8007e2a300");
  fx.addHostGroup(kSerial, "CL1-A", 1, "client01");

  ZrFakeDeviceTree::Disk disk;
  disk.standard = fx.commandDeviceInquiryStandard("/dev/sdc");
  disk.e2 = fx.commandDeviceInquiryE2("/dev/sdc");
  tree.addDisk("/dev/sdc", disk);
  os.setDevices({"/dev/sda", "/dev/sdc"});
}

HDSContainerTestBed::~HDSContainerTestBed() = default;

FakeSnapInfo& HDSContainerTestBed::addDevice(std::unique_ptr<FakeSnapInfo> device) {
  devices.push_back(device ? std::move(device) : std::make_unique<FakeSnapInfo>());
  FakeSnapInfo& d = *devices.back();
  const std::string n = std::to_string(devices.size());
  d.setArrayDetailsText(details());
  d.setSnapConfigText("SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS", std::to_string(kPool));
  d.setSnapConfigText("SMCONFIG_NAME_HORCM_INSTALLATION_PATH", ccisim::toolDir());
  d.setValueIntFor(ZRSO::GET_VALUE_SUBCLINET_ID, kSubclient);
  d.setSnapName("snap" + n);
  d.setSourceDevicePathText("/dev/sd" + std::string(1, static_cast<char>('d' + devices.size())));
  d.setSnapId(100 + static_cast<int>(devices.size()));
  d.setControlHostId(1);
  return d;
}

FakeSnapInfo& HDSContainerTestBed::addSource(int ldev, std::unique_ptr<FakeSnapInfo> device) {
  bool known = false;
  fx.update([&](ccisim::State& s) { known = s.array(kSerial)->ldev(ldev).defined; });
  if (!known) fx.addSourceLdev(kSerial, ldev, 2097152, 0);
  FakeSnapInfo& d = addDevice(std::move(device));
  d.setMetadataText(HDS_METADATA_UNIQUE,
                    std::string("1S:") + kSerial + "**3L:" + std::to_string(ldev) + "**5M:M8S**");
  if (!m_instance.empty()) d.setMetadataText(HDS_METADATA_HORCM_INSTANCE, m_instance);
  return d;
}

void HDSContainerTestBed::addMappableSources(const std::vector<int>& ldevs) {
  for (int ldev : ldevs) {
    fx.addSourceLdev(kSerial, ldev, 2097152, 0);
    fx.addLun(kSerial, "CL1-A", 1, ldev - 256, ldev);
    FakeSnapInfo& d = addSource(ldev);
    d.setSnapConfigIntValue("SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI", 1);
    d.setSnapConfigText("SMCONFIG_NAME_HOST_GROUP_FOR_SVOLS", "CL1-A-1");
    d.setValueIntFor(ZRSO::GET_VALUE_SOURCE_CLIENT_ID, 5);
    d.setValueIntFor(ZRSO::GET_VALUE_PROXY_CLIENT_ID, 0);
    d.setValueIntFor(ZRSO::GET_VALUE_MOUNT_HOST_ID, 5);
    d.setValueIntFor(ZRSO::GET_SNAP_ACTION_FLAGS, 0);
  }
}

void HDSContainerTestBed::prepareAndCreate() {
  auto p = make(OPERATION_TYPE_PREPARE);
  ASSERT_EQ(1, p->Prepare()) << error(*p).second;
  ASSERT_EQ(1, p->savePrepareMetadata());
  p.reset();
  auto c = make(OPERATION_TYPE_CREATE);
  ASSERT_EQ(1, c->Create()) << error(*c).second;
}

std::vector<ZRSO::SnapInfo*> HDSContainerTestBed::batch() {
  std::vector<ZRSO::SnapInfo*> list;
  for (auto& d : devices) list.push_back(d.get());
  return list;
}

ZRSO::SnapInfo** HDSContainerTestBed::snaps() {
  m_array = batch();
  return m_array.data();
}

std::vector<int> HDSContainerTestBed::statuses() const {
  std::vector<int> out;
  for (const auto& d : devices) out.push_back(d->getStatus());
  return out;
}

std::unique_ptr<ZRHDSInfoContainer> HDSContainerTestBed::make(OperationType type) {
  return make(type, batch());
}

std::unique_ptr<ZRHDSInfoContainer> HDSContainerTestBed::make(OperationType type,
                                                              std::vector<ZRSO::SnapInfo*> list) {
  return std::make_unique<ZRHDSInfoContainer>(list, &os, type);
}

std::pair<int, std::string> HDSContainerTestBed::error(ZRHDSInfoContainer& c) {
  std::pair<int, std::string> e;
  c.getErrorCodeString(e.first, e.second);
  return e;
}

int HDSContainerTestBed::setting(const std::string& key) {
  ZRPlatformInfo p;
  int v = -999;
  p.getRegInt("~Tessavon", key.c_str(), &v);
  return v;
}

void HDSContainerTestBed::setSetting(const std::string& key, int value) {
  ZRPlatformInfo p;
  ASSERT_EQ(0, p.setRegInt("~Tessavon", key.c_str(), value));
}

void HDSContainerTestBed::setStringSetting(const std::string& key, const std::string& value) {
  ZRPlatformInfo p;
  ASSERT_EQ(0, p.setRegString("~Tessavon", key.c_str(), value.c_str()));
}

size_t HDSContainerTestBed::raidcomCount(const std::string& match) const {
  return fx.journal("raidcom", match).size();
}
