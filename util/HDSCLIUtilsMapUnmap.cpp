// Host-side steps around a map or unmap: host identifiers, initiator (HBA)
// detection, the OS device list, bus rescans, and PrepareToMapUnmap which
// records all of it before the array work; host-group list conversions.
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "util/HDSCLIUtils.h"
#include "util/HDSCLIUtilsSupport.h"
#include "util/HDSCLIUtilsTestHooks.h"

using zrhds_support::HostBuffer;

namespace {

const int kDeviceListInitialSize = 4096;
// Calls of ZRSO::ZROSUtil::getDeviceList / detectHba per request: the first
// and up to three answers "give me a larger buffer".
const int kMaxHostSizingCalls = 4;
// Largest buffer the host may ask for; a larger request is treated as a
// failed allocation rather than trusted.
const int kMaxHostBufferSize = 64 * 1024 * 1024;

std::atomic<ZRHDSCLIUtilsTesting::HostNameFunction> g_hostName{nullptr};

// This machine's name; false when the lookup fails or gives nothing.
bool localHostName(std::string& out) {
  char name[512];
  std::memset(name, 0, sizeof(name));
  ZRHDSCLIUtilsTesting::HostNameFunction fn = g_hostName.load(std::memory_order_acquire);
  const int rc = fn != nullptr ? fn(name, 511) : gethostname(name, 511);
  name[511] = '\0';
  if (rc != 0 || name[0] == '\0') return false;
  out = name;
  return true;
}

std::string sourcePath(ZRSO::SnapInfo* device) {
  return zrhds_support::hostText(device, &ZRSO::SnapInfo::getSourceDevicePath, 1023);
}

// A null-terminated array of the items' texts, valid while items lives.
std::vector<const char*> cStrings(const std::vector<std::string>& items) {
  std::vector<const char*> out;
  out.reserve(items.size() + 1);
  for (const std::string& s : items) out.push_back(s.c_str());
  out.push_back(nullptr);
  return out;
}

}  // namespace

namespace ZRHDSCLIUtilsTesting {

HostNameFunction setHostNameFunction(HostNameFunction fn) {
  return g_hostName.exchange(fn, std::memory_order_acq_rel);
}

}  // namespace ZRHDSCLIUtilsTesting

namespace ZRHDSCLIUtils {

int getHostIdentifier(ZRSO::SnapInfo*& device, std::string& out, bool useVmHost) {
  static const char kFn[] = "ZRHDSCLIUtils::getHostIdentifier";
  if (useVmHost && device != nullptr && sourcePath(device).find("vmware") != std::string::npos) {
    HostBuffer buffer(511);
    short length = buffer.shortCapacity();
    if (device->getHostIdentifier(buffer.data(), &length) != 0) {
      device->log(2, kFn, "Failed to get the Host Identifier");
      return 0;
    }
    out = buffer.text();
    return 1;
  }
  std::string name;
  if (!localHostName(name)) {
    ZRHDS_DEVLOG(device, 2, kFn, "Failed to get the Local Host Identifier");
    return 0;
  }
  out = name;
  return 1;
}

bool refreshSystemBus(ZRSO::ZROSUtil* util, std::vector<std::string> first,
                      std::vector<std::string> second, std::string option) {
  if (util == nullptr) return false;
  const std::vector<const char*> a = cStrings(first);
  const std::vector<const char*> b = cStrings(second);
  return util->refreshSystemBus(option.empty() ? nullptr : option.c_str(), a.data(), b.data()) != 0;
}

int getDeviceList(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil*& util, std::vector<std::string>& out,
                  const std::string& hostId, const std::string& vendor) {
  static const char kFn[] = "ZRHDSCLIUtils::getDeviceList";
  out.clear();
  if (util == nullptr) return 0;
  int size = kDeviceListInitialSize;
  std::string text;
  for (int call = 1;; ++call) {
    std::vector<char> buffer;
    try {
      if (size > kMaxHostBufferSize) throw std::bad_alloc();
      buffer.assign(static_cast<size_t>(size) + 1, '\0');  // + 1: always terminated
    } catch (const std::bad_alloc&) {
      ZRHDS_DEVLOG(device, 2, kFn, "Unable to allocate memory for device list");
      return 0;
    }
    const int rc = util->getDeviceList(hostId.c_str(), vendor.c_str(), '*', size, buffer.data());
    if (rc > 0) {
      if (call >= kMaxHostSizingCalls) {
        ZRHDS_DEVLOG(device, 2, kFn, "Unable to get the device list after max retry.");
        return 0;
      }
      size = rc;
      continue;
    }
    if (rc < 0) {
      ZRHDS_DEVLOG(device, 2, kFn, "Unable to get the device list");
      return 0;
    }
    text = buffer.data();
    break;
  }

  // Items end with '*'. VMware items are texts starting with
  // "{idatype:vmware" that may hold '*' themselves, so there only a '*' in
  // front of the next such item ends one.
  const bool vmware = text.find("vmware") != std::string::npos;
  const std::string separator = vmware ? "*{idatype:vmware" : "*";
  while (!text.empty()) {
    const size_t pos = text.find(separator);
    if (pos == std::string::npos) {
      // The last item: its own terminator is not part of the name.
      if (vmware && text.back() == '*') text.pop_back();
      out.push_back(text);
      break;
    }
    out.push_back(text.substr(0, pos));
    text.erase(0, pos + 1);
  }
  if (out.empty()) {
    ZRHDS_DEVLOG(device, 2, kFn, "Device list is empty");
    return 0;
  }
  return 1;
}

bool isColon(char c) { return c == ':'; }

int detectHbaList(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil* util, std::vector<std::string>& out,
                  const std::string& host, const std::string& second, bool& isIscsi) {
  static const char kFn[] = "ZRHDSCLIUtils::detectHbaList";
  ZRHDS_DEVLOG(device, 1, kFn, "Calling the OS Utility detectHbaList");
  if (util == nullptr) return 0;
  auto call = [&](char* names, short* namesLength, char* types, short* typesLength,
                  short* reserved) {
    return host.empty() ? util->detectHbaList(nullptr, second.c_str(), names, namesLength, types,
                                              typesLength, reserved)
                        : util->detectHbaListForHost(host.c_str(), second.c_str(), names,
                                                     namesLength, types, typesLength, reserved);
  };
  short namesLength = 0, typesLength = 0, reserved = 0;
  call(nullptr, &namesLength, nullptr, &typesLength, &reserved);
  if (namesLength <= 0) {
    ZRHDS_DEVLOG(device, 2, kFn, "Unable to detect Initiator Information.");
    return 0;
  }
  if (typesLength < 0) typesLength = 0;
  std::vector<char> names, types;
  try {
    names.assign(static_cast<size_t>(namesLength) + 1, '\0');
    types.assign(static_cast<size_t>(typesLength) + 1, '\0');
  } catch (const std::bad_alloc&) {
    ZRHDS_DEVLOG(device, 2, kFn, "Unable to allocate memory for the Initiator name list.");
    return 0;
  }
  const short typesCapacity = typesLength;
  if (!call(names.data(), &namesLength, types.data(), &typesLength, &reserved) ||
      namesLength <= 0) {
    ZRHDS_DEVLOG(device, 2, kFn, "Unable to detect Initiator Information.");
    return 0;
  }
  // Only the type bytes the host actually gave belong to a name; a name
  // without one is of unknown kind and is left out.
  const int typesGiven =
      typesLength < 0 ? 0 : (typesLength > typesCapacity ? typesCapacity : typesLength);
  ZRHDS_DEVLOG(device, 1, kFn, "detectHbaList-[%s]", names.data());
  isIscsi = typesGiven > 0 && types[0] != 0;

  const std::string text = names.data();
  int index = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string token = text.substr(start, comma - start);
    start = comma + 1;
    if (token.empty()) continue;
    const int i = index++;
    if (i >= typesGiven) continue;
    if (!isIscsi && types[static_cast<size_t>(i)] == 0) {
      out.push_back(token);
      ZRHDS_DEVLOG(device, 1, kFn, "FC Initiator-[%s]", token.c_str());
    } else if (isIscsi && types[static_cast<size_t>(i)] == 1) {
      out.push_back(token);
      ZRHDS_DEVLOG(device, 1, kFn, "iSCSI Initiator-[%s]", token.c_str());
    }
  }
  return 1;
}

int detectHba(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil* util, std::string& out,
              const std::string& host, const std::string& second, bool& isIscsi) {
  static const char kFn[] = "ZRHDSCLIUtils::detectHba";
  if (util == nullptr) return 0;
  int size = 1024;
  std::string name;
  for (int call = 1;; ++call) {
    std::vector<char> buffer;
    try {
      buffer.assign(static_cast<size_t>(size) + 1, '\0');  // + 1: always terminated
    } catch (const std::bad_alloc&) {
      ZRHDS_DEVLOG(device, 2, kFn, "Unable to allocate memory for HBA Name");
      return 0;
    }
    short length = static_cast<short>(size);
    if (util->detectHba(host.c_str(), second.c_str(), buffer.data(), &length, isIscsi)) {
      name = buffer.data();
      break;
    }
    if (length <= 0) {
      ZRHDS_DEVLOG(device, 2, kFn, "Unable to detect Initiator information.");
      return 0;
    }
    if (call >= kMaxHostSizingCalls) {
      ZRHDS_DEVLOG(device, 2, kFn, "Unable to detect Initiator information after max retry.");
      return 0;
    }
    size = length;
  }
  if (!isIscsi) {
    ZRHDS_DEVLOG(device, 1, kFn, "Detected FC Initiator port-[%s]", name.c_str());
    out.clear();
    for (char c : name) {
      if (!isColon(c)) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  } else {
    ZRHDS_DEVLOG(device, 1, kFn, "Detected iSCSI Initiator port-[%s]", name.c_str());
    out = name;
  }
  return 1;
}

std::string deviceKey(const std::string& arraySerial, const std::string& ldev) {
  return arraySerial + ":" + ldev;
}

int PrepareToMapUnmap(ZRSO::SnapInfo*& device, ZRSO::ZROSUtil* util, const bool& isUnmap,
                      ZRMapInitiatorParams& params) {
  static const char kFn[] = "ZRHDSCLIUtils::PrepareToMapUnmap";
  if (device == nullptr) return 0;
  const bool vmware = sourcePath(device).find("vmware") != std::string::npos;
  bool isIscsi = false;

  std::string hostId;
  if (getHostIdentifier(device, hostId, vmware) == 0) {
    // Without a VMware source the identifier is this machine's name.
    const char* text =
        vmware ? "Failed to get the Host Identifier." : "Failed to get the Local Host Identifier.";
    device->log(2, kFn, "%s", text);
    SetError(device, 62002, text);
    return 0;
  }
  device->log(1, kFn, "Host Identifier-[%s]", hostId.c_str());

  std::vector<std::string> localInitiators;
  if (detectHbaList(device, util, localInitiators, "", "", isIscsi) == 0 ||
      localInitiators.empty()) {
    if (!vmware) {
      SetError(device, 62003, "Failed to detect initiator information.");
      return 0;
    }
    device->log(2, kFn, "Failed to detect initiator information.");
  }
  if (!isIscsi) {
    for (std::string& name : localInitiators) {
      std::string cleaned;
      for (char c : name) {
        if (!isColon(c)) cleaned += c;
      }
      name = cleaned;
    }
  }
  std::string joined;
  for (const std::string& name : localInitiators) joined += name + ",";
  device->log(1, kFn, "Local Initiator Information-[%s]", joined.c_str());

  std::vector<std::string> vmInitiators;
  std::string vmHostId;
  if (vmware) {
    isIscsi = false;
    std::string vmInitiator;
    if (detectHba(device, util, vmInitiator, hostId, "", isIscsi) == 0 || vmInitiator.empty()) {
      SetError(device, 62003, "Failed to detect VM's initiator information.");
      return 0;
    }
    vmInitiators.push_back(vmInitiator);
    device->log(1, kFn, "VM Initiator Information-[%s]", vmInitiator.c_str());
    vmHostId = hostId;
    hostId.clear();
    if (getHostIdentifier(device, hostId, false) == 0) {
      device->log(2, kFn, "Failed to get the Local Host Identifier.");
      SetError(device, 62002, "Failed to get the Local Host Identifier.");
    }
  }

  ZRHDSMetadataInfo metadata;
  getInfoFromVendorMetadata(device, metadata);

  std::vector<std::string> devicesBefore;
  if (getDeviceList(device, util, devicesBefore, vmware ? vmHostId : hostId, metadata.vendorName) ==
      0) {
    device->log(2, kFn, "Failed to get device list before Map/Unmap.");
    SetError(device, 62006, "Failed to get device list before Map/Unmap.");
    return 0;
  }

  std::map<std::string, std::vector<std::string>> byDevice;
  if (isUnmap) {
    for (const std::string& name : devicesBefore) {
      ZRHDSSCSIInquiryData inquiry;
      if (HDSSCSIInquiryPageSTD(name, inquiry) != 0 && inquiry.isHitachi) {
        byDevice[deviceKey(inquiry.arraySerial, inquiry.devNo)].push_back(name);
      }
    }
  }

  device->log(1, kFn, "Device List before performing Map/Unmap..");
  for (size_t i = 0; i < devicesBefore.size(); ++i) {
    device->log(0, kFn, " Volume-[%d] DeviceName-[%s]", static_cast<int>(i),
                devicesBefore[i].c_str());
  }

  params.isVMware = vmware;
  params.hostIdentifier = vmHostId;
  params.localHostIdentifier = hostId;
  params.deviceListBefore = devicesBefore;
  params.vmInitiators = vmInitiators;
  params.localInitiators = localInitiators;
  params.devicesByDevNo = byDevice;
  return 1;
}

int convertHostGroupStringToVector(const std::string& text, std::vector<std::string>& out) {
  if (text.empty()) {
    out.clear();
    return 1;
  }
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    bool seen = false;
    for (const std::string& s : out) seen = seen || s == item;
    if (!seen) out.push_back(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return 1;
}

std::string convertHostGroupVectorToString(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& s : list) out += s + ",";
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace ZRHDSCLIUtils
