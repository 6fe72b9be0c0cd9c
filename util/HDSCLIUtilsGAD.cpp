// GAD pair role: re-describes each device of a GAD pair in its unique
// metadata, with the paired array in the base keys where the S-VOL side is
// the active one.
#include <cstdlib>
#include <string>

#include "util/HDSCLIUtils.h"
#include "util/HDSCLIUtilsSupport.h"

namespace {

const size_t kMaxMetadataText = 4095;

void entry(std::string& text, const char* key, const std::string& value) {
  text += key;
  text += ":";
  text += value;
  text += "**";
}

// One side of a GAD pair: the LDEV's array serial and number, and the virtual
// storage machine's serial and LDEV when it is inside one.
struct SideIdentity {
  const std::string& serial;
  const std::string& ldev;
  const std::string& vsmSerial;
  const std::string& vsmLdev;

  bool inVsm() const { return !vsmSerial.empty() && vsmSerial != serial; }
};

// The array/device record as seen from own's side: own identity in the base
// keys, the partner's in the remote ones, and each virtual identity only
// where it differs from the physical one.
void appendSideRecord(std::string& text, const SideIdentity& own, const SideIdentity& partner,
                      const std::string& model) {
  entry(text, "1S", own.serial);
  entry(text, "3L", own.ldev);
  entry(text, "5M", model);
  entry(text, "6RS", partner.serial);
  entry(text, "8RL", partner.ldev);
  if (partner.inVsm()) {
    entry(text, "7RVS", partner.vsmSerial);
    entry(text, "9RVL", partner.vsmLdev);
  }
  if (own.inVsm()) {
    entry(text, "2VS", own.vsmSerial);
    entry(text, "4VL", own.vsmLdev);
  }
}

}  // namespace

namespace ZRHDSCLIUtils {

int setGADPairInfo(ZRSO::SnapInfo** snaps, short count) {
  static const char kFn[] = "ZRHDSCLIUtils::setGADPairInfo";
  if (snaps == nullptr || count < 1) return 1;
  ZRSO::SnapInfo* first = snaps[0];

  for (short i = 0; i < count; ++i) {
    ZRSO::SnapInfo* device = snaps[i];
    if (device == nullptr) continue;
    ZRHDSMetadataInfo md;
    md.initialize();
    if (getInfoFromUniqueMetadata(device, md, false) == 0) {
      ZRHDS_DEVLOG(first, 2, kFn, "Unable to get the array info in the DB.");
      SetError(first, 62005, "Failed to get the array information in DB.");
      return 0;
    }
    const std::string key = "sZRHDSArrayGadPairedWith_" + md.baseSerialNo;
    const std::string paired = zrhds_support::readSettingString("~Tessavon", key.c_str());

    const int side = std::atoi(md.activeGadSide.c_str());
    if (side == 2) {
      if (paired.empty()) {
        ZRHDS_DEVLOG(first, 2, kFn,
                     "S-VOL side of the GAD pair is active. Please enable the P-VOL side of the "
                     "GAD pair to backup GAD "
                     "paired devices.");
        SetError(first, 62008, "Failed to get the GAD pair information for the source devices.");
        return 0;
      }
      ZRHDS_DEVLOG(first, 1, kFn, "Read the Reg Key-[%s], Value-[%s]", key.c_str(), paired.c_str());
      md.rcuBaseSerialNo = paired;
    }

    // The partner's virtual identity: a virtual storage machine's identity
    // is shared by both sides; without one the partner shows the P-VOL
    // array's identity.
    if (!md.vsmSerialNo.empty() && md.vsmSerialNo != md.rcuBaseSerialNo) {
      md.rcuVsmSerialNo = md.vsmSerialNo;
      md.rcuVsmDevNo = md.vsmDevNo;
    } else if (!md.vsmSerialNo.empty()) {
      md.rcuVsmSerialNo.clear();
      md.rcuVsmDevNo.clear();
    } else {
      md.rcuVsmSerialNo = md.baseSerialNo;
      md.rcuVsmDevNo = md.baseDevNo;
    }

    const SideIdentity local{md.baseSerialNo, md.baseDevNo, md.vsmSerialNo, md.vsmDevNo};
    const SideIdentity remote{md.rcuBaseSerialNo, md.rcuBaseDevNo, md.rcuVsmSerialNo,
                              md.rcuVsmDevNo};
    std::string text;
    if (side == 2) {
      const std::string& bindSerial =
          md.rcuVsmSerialNo.empty() ? md.rcuBaseSerialNo : md.rcuVsmSerialNo;
      if (device->setArrayInformation(bindSerial.c_str(), md.rcuBaseSerialNo.c_str(), 1) != 0) {
        ZRHDS_DEVLOG(first, 2, kFn, "Unable to get the array info from the DB.");
        SetError(first, 62005, "Failed to get the array information from DB.");
        return 0;
      }
      appendSideRecord(text, remote, local, md.modelNo);
    } else {
      appendSideRecord(text, local, remote, md.modelNo);
    }
    // The host stores at most 4095 characters of a unique metadata text.
    if (text.size() > kMaxMetadataText) text.resize(kMaxMetadataText);

    ZRHDS_DEVLOG(first, 0, kFn, "Generated metadata-[%s] after Segregating the source device",
                 text.c_str());
    if (device->setMetadata(6, text.c_str()) != 0) {
      ZRHDS_DEVLOG(first, 2, kFn, " Failed to set HDS metadata [Id : %d]", 6);
      SetError(first, 62008, "Failed to set HDS metadata.");
      return 0;
    }
  }
  return 1;
}

}  // namespace ZRHDSCLIUtils
