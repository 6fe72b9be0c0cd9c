// SCSI inquiry of operating-system devices: the standard page and vendor
// page 0xE2, read from a local device through the host's device tree or,
// for VMware devices, decoded from the page texts the host supplies.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/EvDebug.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZrDevice.h"
#include "host/ZrException.h"
#include "json/ParseJsonString.h"
#include "util/HDSCLIUtils.h"
#include "util/HDSCLIUtilsSupport.h"

using zrhds_support::contains;
using zrhds_support::hexToDecimalText;
using zrhds_support::parseHex;

namespace {

const int kInquiryBufferSize = 4096;
const int kInquiryTimeoutSeconds = 10;

// Standard page fields (offset, length).
const int kVendorOffset = 8, kVendorLength = 8;
const int kProductOffset = 16, kProductLength = 16;
const int kSerialOffset = 36, kSerialLength = 8;
const int kLdevOffset = 44, kLdevLength = 4;
// Page 0xE2 fields; HP-branded arrays place serial and LDEV earlier.
const int kBaseSerialOffset = 40, kBaseSerialOffsetHp = 8, kBaseSerialLength = 8;
const int kBaseLdevOffset = 48, kBaseLdevOffsetHp = 16, kBaseLdevLength = 4;
const int kModelCodeOffset = 138, kModelCodeLength = 4;

const char kUnknownModel[] = "UNKNOWN";
const char kVmwarePageSeparator[] = "*_ZRSO_*";

// Copies one fixed-width field into a zeroed scratch buffer (the reply stays
// untouched) and cleans it.
std::string field(const unsigned char* page, int offset, int length) {
  unsigned char scratch[64];
  std::memset(scratch, 0, sizeof(scratch));
  std::memcpy(scratch, page + offset, static_cast<size_t>(length));
  return ZRHDSCLIUtils::trimSpaces(scratch, length);
}

bool isHpVendor(const std::string& vendor) { return vendor == "HP" || vendor == "HPE"; }

// Vendors that sell Hitachi arrays under their own name. An empty vendor is
// never one: "contained in the configured list" would hold for any list.
bool isOemVendor(const std::string& vendor) {
  if (vendor.empty()) return false;
  char configured[1024];
  std::memset(configured, 0, sizeof(configured));
  ZRPlatformInfo info;
  info.getString("Tessavon", "ZR_HDS_VENDOR_NAME", configured, 1023);
  if (configured[0] != '\0' && std::strstr(configured, vendor.c_str()) != nullptr) return true;
  return vendor.compare(0, 2, "HP") == 0 || vendor.compare(0, 3, "SUN") == 0;
}

// Third character d as a digit and the five characters after it as
// hexadecimal ("50", d, five hex digits), five hex digits -> d*100000 + hex (32-bit unsigned).
bool decodeDigitSerial(const std::string& raw, std::string& serial) {
  if (raw.size() < 8 || raw[2] < '0' || raw[2] > '9') return false;
  unsigned long long hex = 0;
  if (!parseHex(raw.substr(3, 5), hex)) return false;
  const unsigned int value =
      static_cast<unsigned int>(raw[2] - '0') * 100000u + static_cast<unsigned int>(hex);
  serial = std::to_string(value);
  return true;
}

// Serial forms of the standard page:
//   "50 " + up to five hex digits       -> "R700", serial = the hex value
//   "50" + digit d + five hex digits    -> model by d, serial = d*100000 + hex
// Anything else, including a form cut short, stays undecoded: the caller keeps
// the raw text and "UNKNOWN".
bool decodeSerial(const std::string& raw, std::string& model, std::string& serial) {
  if (raw.size() < 3 || raw.compare(0, 2, "50") != 0) return false;
  unsigned long long value = 0;
  if (raw[2] == ' ') {
    if (!parseHex(raw.substr(3), value)) return false;
    model = "R700";
    serial = std::to_string(value);
    return true;
  }
  if (!decodeDigitSerial(raw, serial)) return false;
  switch (raw[2]) {
    case '3':
      model = "R800";
      break;
    case '4':
      model = "GX00";
      break;
    case '5':
      model = "R900";
      break;
    default:
      model = "HM70";
      break;
  }
  return true;
}

void hexDump(ZRSO::SnapInfo* device, const unsigned char* page, int length) {
  static const char digits[] = "0123456789ABCDEF";
  const int bytes = length < 1024 ? length : 1024;
  std::string line;
  for (int i = 0; i < bytes; ++i) {
    line += digits[page[i] >> 4];
    line += digits[page[i] & 0x0F];
    if (line.size() == 128 || i + 1 == bytes) {
      ZRHDS_DEVLOG(device, 0, "ZRHDSCLIUtils::HDSSCSIInquiryPageVPD", "%s", line.c_str());
      line.clear();
    }
  }
}

// Decodes hexadecimal text two digits at a time into buffer; stops at the
// first pair that is not hexadecimal and at capacity. Returns bytes written.
int decodeHexText(const std::string& text, unsigned char* buffer, int capacity) {
  int n = 0;
  for (size_t i = 0; i + 1 < text.size() && n < capacity; i += 2) {
    unsigned long long v = 0;
    if (!parseHex(text.substr(i, 2), v)) break;
    buffer[n++] = static_cast<unsigned char>(v);
  }
  return n;
}

}  // namespace

namespace ZRHDSCLIUtils {

int DoSCSIInquiry(std::string path, int page, int vpd, unsigned char* buffer, int length) {
  static const char kFn[] = "ZRHDSCLIUtils::DoSCSIInquiry";
  unsigned char cdb[6];
  std::memset(cdb, 0, sizeof(cdb));
  if (buffer == nullptr || length <= 0) return 0;
  std::memset(buffer, 0, static_cast<size_t>(length));

  CNqError error = CNqError::Success();
  SP<ZrDevice> device = ZrDeviceTree::getDevice(path.c_str(), &error);
  if (device.get() == nullptr) {
    EvDebug::DebugLvl(kFn, -1, "Failed to get ZrDevice. Error:[%s].", error.AsString().c_str());
    return 0;
  }
  cdb[0] = 0x12;
  cdb[1] = (vpd % 2 != 0) ? 1 : 0;
  cdb[2] = static_cast<unsigned char>(page);
  cdb[3] = 0;
  cdb[4] = 0xFF;
  cdb[5] = 0;

  ZrDeviceScsiIface* scsi = device->queryInterface("ZrDeviceScsiIface");
  if (scsi == nullptr) {
    EvDebug::DebugLvl(kFn, -1, "[%s] is not SCSI Device", device->getName().c_str());
    return 0;
  }
  try {
    if (scsi->send(cdb, 6, buffer, length, 0, 1, 0, 0, kInquiryTimeoutSeconds, &error) == -1) {
      throw ZrException(kFn, error.AsString(), "HDSCLIUtils", 399, -1);
    }
  } catch (const ZrException& e) {
    EvDebug::DebugLvl(kFn, -1, "Failed to send SCSI Inquiry CDB, caught exception: %s",
                      e.getMessage());
    device.reset();
    return 0;
  }
  return 1;
}

int getStdInquiryDetailsForVMware(std::string text, unsigned char* buffer, int length) {
  if (buffer == nullptr || length <= 0) return 1;
  std::memset(buffer, 0, static_cast<size_t>(length));
  std::string value;
  ::parseJsonString(text, "standardinqury", value, "");
  decodeHexText(value, buffer, length < 255 ? length : 255);
  return 1;
}

int HDSSCSIInquiryPageSTD(std::string path, ZRHDSSCSIInquiryData& data) {
  static const char kFn[] = "ZRHDSCLIUtils::HDSSCSIInquiryPageSTD";
  data.Initialize();
  data.model = kUnknownModel;
  if (path.empty()) {
    EvDebug::DebugLvl(kFn, -1, "Device Name is Empty.");
    return 0;
  }
  std::vector<unsigned char> reply(kInquiryBufferSize, 0);
  if (contains(path, "vmware")) {
    if (getStdInquiryDetailsForVMware(path, reply.data(), kInquiryBufferSize) == 0) {
      EvDebug::DebugLvl(kFn, -1, "Error while parsing the Standard Inquiry field.");
      return 0;
    }
  } else if (DoSCSIInquiry(path, 0, 0, reply.data(), kInquiryBufferSize) == 0) {
    EvDebug::DebugLvl(kFn, -1, "Unable to get the device details from Standard Page.");
    return 0;
  }

  data.vendor = field(reply.data(), kVendorOffset, kVendorLength);
  data.product = field(reply.data(), kProductOffset, kProductLength);
  const std::string rawSerial = field(reply.data(), kSerialOffset, kSerialLength);
  const std::string rawLdev = field(reply.data(), kLdevOffset, kLdevLength);
  data.arraySerial = rawSerial;
  data.devNo = rawLdev;

  const bool oem = isOemVendor(data.vendor);
  if (oem) EvDebug::DebugLvl(kFn, 0, "It is [%s] OEMed HDS.", data.vendor.c_str());
  data.isHitachi = oem || data.vendor == "HITACHI";

  if (data.isHitachi) decodeSerial(rawSerial, data.model, data.arraySerial);
  if (!rawLdev.empty()) hexToDecimalText(rawLdev, data.devNo);

  const char* na = "NA";
  EvDebug::DebugLvl(
      kFn, 0,
      "SCSI Inquiry on device-[%s]yielded IsHitachi-[%s], Model-[%s], ArraySerial-[%s], DevNo-[%s]",
      path.c_str(), data.isHitachi ? "TRUE" : "FALSE", data.isHitachi ? data.model.c_str() : na,
      data.isHitachi ? data.arraySerial.c_str() : na, data.isHitachi ? data.devNo.c_str() : na);
  return 1;
}

int getPageE2DetailsForVMware(std::string text, ZRSO::SnapInfo* device, ZRSO::ZROSUtil* util,
                              unsigned char* buffer, int& length) {
  static const char kFn[] = "ZRHDSCLIUtils::getPageE2DetailsForVMware";
  const int capacity = length;
  if (buffer == nullptr || capacity <= 0 || device == nullptr || util == nullptr) return 0;
  std::memset(buffer, 0, static_cast<size_t>(capacity));

  zrhds_support::HostBuffer source(4095);
  short sourceLength = source.shortCapacity();
  if (device->getValueString(ZRSO::GET_VALUE_VOL_SOURCE_PATH, source.data(), &sourceLength) != 0) {
    device->log(2, kFn, "Failed to get the Host Source Path");
    return 0;
  }
  const std::string sourceHostPath = source.text();

  std::string lunUuid;
  if (::parseJsonString(text, "lunuuid", lunUuid, "") == 0) {
    device->log(2, kFn, "Error while parsing JSON string [%s] for lunuuid", text.c_str());
    return 0;
  }
  int installationId = 2;
  if (device->getValueInt(ZRSO::GET_VALUE_VOL_HOLACRE_ID, &installationId) != 0) {
    device->log(2, kFn, "Failed to get the Hollacre ID");
    return 0;
  }
  int appId = 0;
  if (device->getValueInt(ZRSO::GET_VALUE_SUBCLINET_ID, &appId) != 0) {
    device->log(2, kFn, "Failed to get the AppId");
  }
  device->log(0, kFn,
              "Input for GetPageInforForVMwareDevice API SrcHostPath-[%s], sLunUuid-[%s], "
              "AppId-[%d], Hollacre ID-[%d]",
              sourceHostPath.c_str(), lunUuid.c_str(), appId, installationId);

  zrhds_support::HostBuffer reply(kInquiryBufferSize);
  if (util->getPageInfoForVMwareDevice(sourceHostPath.c_str(), lunUuid.c_str(), "GENERIC_VPD",
                                       appId, installationId, 5, '*', reply.intCapacity(),
                                       reply.data()) != 0) {
    device->log(2, kFn, "Failed to get the GENERIC_VPD details from the VMware server.");
    return 0;
  }

  // Items end with the separator; text after the last one is not an item.
  const std::string all = reply.text();
  std::string pageE2;
  size_t start = 0;
  const size_t sepLength = std::strlen(kVmwarePageSeparator);
  for (size_t end; (end = all.find(kVmwarePageSeparator, start)) != std::string::npos;
       start = end + sepLength) {
    const std::string item = all.substr(start, end - start);
    if (item.compare(0, 4, "00E2") == 0) {
      pageE2 = item;
      break;
    }
  }
  if (pageE2.empty()) {
    device->log(0, kFn, "The Source device-[%s] page inquiry don't have information regarding VSM.",
                text.c_str());
    length = 0;
    return 1;
  }
  device->log(1, kFn, "GENERIC_VPD details from the VMware server is [%s]", pageE2.c_str());
  length = decodeHexText(pageE2, buffer, capacity);
  return 1;
}

int HDSSCSIInquiryPageVPD(std::string path, ZRSO::SnapInfo* device, ZRSO::ZROSUtil* util,
                          ZRHDSSCSIInquiryData& data) {
  static const char kFn[] = "ZRHDSCLIUtils::HDSSCSIInquiryPageVPD";
  if (HDSSCSIInquiryPageSTD(path, data) == 0) {
    ZRHDS_DEVLOG(device, 2, kFn, "Failed to Inquire the VPD information for device-[%s]",
                 path.c_str());
    return 0;
  }
  std::vector<unsigned char> page(kInquiryBufferSize, 0);
  int length = kInquiryBufferSize;
  if (contains(path, "vmware")) {
    if (getPageE2DetailsForVMware(path, device, util, page.data(), length) == 0) {
      ZRHDS_DEVLOG(device, 2, kFn,
                   "Failed to Inquire  SCSI Page E2 related VMware Page for device-[%s]",
                   path.c_str());
      return 0;
    }
  } else if (DoSCSIInquiry(path, 0xE2, 1, page.data(), kInquiryBufferSize) == 0) {
    ZRHDS_DEVLOG(device, 2, kFn, "Failed to Inquire SCSI Page E2 for device-[%s]", path.c_str());
    return 0;
  }
  if (length == 0) return 1;  // a VMware device without page 0xE2
  if (page[1] != 0xE2) {
    ZRHDS_DEVLOG(device, 2, kFn, "Invalid Page returned for Page E2 SCSI Inquiry.");
    return 0;
  }

  const bool hp = isHpVendor(data.vendor);
  std::string baseSerial =
      field(page.data(), hp ? kBaseSerialOffsetHp : kBaseSerialOffset, kBaseSerialLength);
  std::string baseLdev =
      field(page.data(), hp ? kBaseLdevOffsetHp : kBaseLdevOffset, kBaseLdevLength);
  data.model = field(page.data(), kModelCodeOffset, kModelCodeLength);
  data.baseArraySerial = baseSerial;
  data.baseDevNo = baseLdev;

  if (data.isHitachi) {
    unsigned long long value = 0;
    if (data.model == "R700") {
      if (baseSerial.size() > 3 && parseHex(baseSerial.substr(3), value))
        data.baseArraySerial = std::to_string(value);
    } else if (data.model != kUnknownModel) {
      decodeDigitSerial(baseSerial, data.baseArraySerial);
    }
    if (!baseLdev.empty()) hexToDecimalText(baseLdev, data.baseDevNo);
  }

  ZRHDS_DEVLOG(device, 0, kFn,
               "Disk [%s] SCSI Inquiry (Page E2) data in HEX (first 1024 bytes only)",
               path.c_str());
  hexDump(device, page.data(), length);
  const char* na = "NA";
  const bool h = data.isHitachi;
  ZRHDS_DEVLOG(device, 1, kFn,
               "SCSI Inquiry on device-[%s]yielded IsHitachi-[%s], Model-[%s], ArraySerial-[%s], "
               "DevNo-[%s],Base "
               "ArraySerial-[%s], Base DevNo-[%s]",
               path.c_str(), h ? "TRUE" : "FALSE", h ? data.model.c_str() : na,
               h ? data.arraySerial.c_str() : na, h ? data.devNo.c_str() : na,
               h ? data.baseArraySerial.c_str() : na, h ? data.baseDevNo.c_str() : na);
  return 1;
}

bool IsVMware(ZRSO::SnapInfo* device) {
  if (device == nullptr) return false;
  std::string text;
  device->getClientTypeInfo(&text);
  std::string value;
  return ::parseJsonString(text, "idatype", value, "") == 1 && value == "vmware";
}

}  // namespace ZRHDSCLIUtils
