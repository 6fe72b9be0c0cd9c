#pragma once
// SCSI INQUIRY replies of Hitachi LDEVs built byte by byte, for the device
// tree double (host/testing/ZrFakeDeviceTree.h) and for VMware page texts.
//
// Standard page (at least 96 bytes): vendor at 8 (8 bytes), product at 16
// (16), revision at 32 (4), raw serial at 36 (8), raw LDEV number at 44 (4,
// hexadecimal text); text fields are blank-padded.
// Page 0xE2 (160 bytes, byte 1 = 0xE2): raw base serial at 40 (8) and raw
// base LDEV at 48 (4), or at 8 and 16 for vendors "HP" and "HPE"; model
// code at 138 (4).
#include <cstdint>
#include <string>
#include <vector>

namespace zrinq {

using Page = std::vector<uint8_t>;

// What a test says about one LDEV; the raw fields are derived from it.
struct LdevIdentity {
  std::string vendor = "HITACHI";
  std::string product = "OPEN-V";
  std::string model = "R800";      // "R700", "R800", "GX00", "R900", "HM70"
  unsigned serial = 0;             // array serial seen on the standard page
  unsigned ldev = 0;               // LDEV number seen on the standard page
  unsigned baseSerial = 0;         // physical array serial (page 0xE2)
  unsigned baseLdev = 0;           // physical LDEV (page 0xE2)
  std::string modelCode = "R800";  // page 0xE2 model code
};

// An LDEV outside any virtual storage machine: both pages show the same
// serial and LDEV number; the other fields keep their defaults.
LdevIdentity physicalLdev(unsigned serial, unsigned ldev);

// The 8-character raw serial field an array of model shows for serial:
// "50 " and five hexadecimal digits for "R700"; otherwise "50", the
// hundred-thousands digit and five hexadecimal digits of the rest.
std::string rawSerial(const std::string& model, unsigned serial);
// Four upper-case hexadecimal digits.
std::string rawLdev(unsigned ldev);

// Pages from raw fields; each text is blank-padded or cut to its field.
Page standardPage(const std::string& vendor, const std::string& product,
                  const std::string& rawSerial, const std::string& rawLdev);
Page pageE2(const std::string& vendor, const std::string& rawBaseSerial,
            const std::string& rawBaseLdev, const std::string& modelCode);

Page standardPageFor(const LdevIdentity& id);
Page pageE2For(const LdevIdentity& id);

// Upper-case hexadecimal text of the bytes, two digits each.
std::string toHex(const Page& page);

// The host's text for a VMware device: "{idatype:vmware,standardinqury:" the
// standard page in hexadecimal ",lunuuid:" uuid "}".
std::string vmwareDeviceText(const Page& standard, const std::string& lunUuid);
// The host's reply to a VMware page query: every page text followed by
// "*_ZRSO_*".
std::string vmwarePageReply(const std::vector<std::string>& pageTexts);

}  // namespace zrinq
