// A stand-in plug-in for the test host's own tests. It exports a few zrso_
// names and, through them, uses the host objects the way the plug-in does:
// SCSI inquiry of the source device through the host's device tree, the
// device list and rescans of the OS utility, and a remote request through
// metadata 61 and 60 and executeOnRemoteMA. It says nothing about the real
// plug-in's behaviour.
#include <unistd.h>

#include <cstring>
#include <string>

#include "host/ZRSOSnapInfo.h"
#include "host/ZrDeviceTree.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string text(ZRSO::SnapInfo* d, int (ZRSO::SnapInfo::*get)(char*, short*)) {
  char buffer[1024] = {0};
  short length = 1023;
  return (d->*get)(buffer, &length) == 0 ? std::string(buffer) : std::string();
}

std::string metadata(ZRSO::SnapInfo* d, int id) {
  int length = 0;
  if (d->getMetadataBlob(id, nullptr, &length) != 0 || length <= 0) return "";
  std::string out(static_cast<size_t>(length) + 1, '\0');
  if (d->getMetadataBlob(id, &out[0], &length) != 0) return "";
  out.resize(std::strlen(out.c_str()));
  return out;
}

// "vendor/product/serial field/LDEV field" of the standard page; "" on failure.
std::string standardInquiry(const std::string& path) {
  CNqError error;
  SP<ZrDevice> device = ZrDeviceTree::getDevice(path.c_str(), &error);
  if (!device) return "";
  ZrDeviceScsiIface* scsi = device->queryInterface("ZrDeviceScsiIface");
  if (scsi == nullptr) return "";
  unsigned char cdb[6] = {0x12, 0, 0, 0, 255, 0};
  unsigned char reply[255] = {0};
  if (scsi->send(cdb, 6, reply, 255, 0, 1, 0, 0, 10, &error) < 48) return "";
  auto field = [&](int at, int n) {
    std::string s(reinterpret_cast<char*>(reply) + at, static_cast<size_t>(n));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  return field(8, 8) + "/" + field(16, 16) + "/" + field(36, 8) + "/" + field(44, 4);
}

}  // namespace

PROBE_EXPORT void zrso_version(short* major, short* minor, short* patch) {
  if (major && minor && patch) *major = 9, *minor = 8, *patch = 7;
}

PROBE_EXPORT int zrso_prepareDevices(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil*) {
  int done = 0;
  for (short i = 0; i < count; ++i) {
    const std::string inquiry =
        standardInquiry(text(devices[i], &ZRSO::SnapInfo::getSourceDevicePath));
    devices[i]->log(1, "zrso_prepareDevices", "inquiry [%s]", inquiry.c_str());
    if (inquiry.empty()) {
      devices[i]->setError(62504, "no inquiry");
      continue;
    }
    devices[i]->setMetadata(6, ("INQ:" + inquiry + "**").c_str());
    devices[i]->setStatus(1);
    ++done;
  }
  return done == count ? 0 : (done == 0 ? 1 : 2);
}

// Rescans and stores the device list in metadata 65 of the first device.
PROBE_EXPORT int zrso_mapSnaps(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil* util) {
  if (count < 1) return 1;
  const char* none[] = {nullptr};
  util->refreshSystemBus(nullptr, none, none);
  char buffer[4096] = {0};
  if (util->getDeviceList("host", "HITACHI", '*', sizeof buffer, buffer) != 0) return 1;
  devices[0]->setMetadata(65, buffer);
  return 0;
}

PROBE_EXPORT int zrso_snapDevices(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil* util) {
  if (count < 1) return 1;
  char agent[1024] = {0};
  int length = 1023;
  if (devices[0]->getSnapConfigValue("SMCONFIG_NAME_REMOTE_SNAP_MA", agent, &length) == 0 &&
      agent[0] != '\0') {
    devices[0]->setMetadataByType(61, "2");
    devices[0]->setMetadataByType(60, "{\"controlHostId\": 1}");
    if (!util->executeOnRemoteMA(agent)) return 1;
    const std::string response = metadata(devices[0], 60);
    devices[0]->log(1, "zrso_snapDevices", "response [%s]", response.c_str());
    return response.find("\"opResp\": 0") != std::string::npos ? 0 : 1;
  }
  for (short i = 0; i < count; ++i) devices[i]->setStatus(5);
  return 0;
}

// The receiving side: every device gets status 5 and the answer names the
// process that ran it.
PROBE_EXPORT int zrso_execSnapEngineOp(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil*) {
  ZRSO::SnapInfo* message = nullptr;
  for (short i = 0; i < count && message == nullptr; ++i) {
    if (!metadata(devices[i], 61).empty()) message = devices[i];
  }
  if (message == nullptr || metadata(message, 60).empty()) return 1;
  for (short i = 0; i < count; ++i) devices[i]->setStatus(5);
  message->log(1, "zrso_execSnapEngineOp", "served in %d", static_cast<int>(::getpid()));
  const std::string response = "{\"opResp\": 0, \"pid\": " + std::to_string(::getpid()) + "}";
  return message->setMetadataByType(60, response.c_str()) == 0 ? 0 : 1;
}
