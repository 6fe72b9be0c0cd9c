// Shape checks of the values that the stored records hold: what a record
// names is acted on later (an LDEV deleted, a group listed, an instance
// started), so a value that the plug-in could not have written is refused
// where it is read, with a text that names the key and the value.
#include <cstdlib>
#include <string>

#include "records/HDSConstants.h"
#include "util/HDSCLIUtils.h"

namespace {

constexpr long kMaxSerial = 999999;
constexpr long kMaxMu = 1023;
constexpr long kMaxInstance = 9999;
constexpr size_t kMaxGroupName = 32;
constexpr size_t kMaxLabel = 32;
constexpr size_t kMaxShortText = 16;
constexpr size_t kMaxQuoted = 64;
// Host group numbers of a port ("<port>-<GID>").
constexpr long kMaxHostGroupId = 254;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) {
  return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A decimal number of at most 9 digits within [low, high].
bool decimalIn(const std::string& text, long low, long high) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!isDigit(c)) return false;
  }
  const long v = std::strtol(text.c_str(), nullptr, 10);
  return v >= low && v <= high;
}

bool allOf(const std::string& text, bool (*ok)(char)) {
  for (char c : text) {
    if (!ok(c)) return false;
  }
  return true;
}

bool printable(char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f; }
bool portChar(char c) { return isAlnum(c) || c == '-'; }
bool groupChar(char c) { return isAlnum(c) || c == '_'; }
bool hexChar(char c) {
  return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "<port>-<GID>" as the container records a host group: a port name (as
// "12P") and a host group number, split at the last "-".
bool isHostGroupText(const std::string& item) {
  const size_t dash = item.rfind('-');
  if (dash == std::string::npos || dash == 0 || dash > kMaxShortText) return false;
  const std::string port = item.substr(0, dash);
  return allOf(port, portChar) && decimalIn(item.substr(dash + 1), 0, kMaxHostGroupId);
}

// A non-empty "17HG": "N/A", or host groups joined by "," (an empty value,
// as older records hold, names none).
bool isHostGroupList(const std::string& text) {
  if (text == ZR_HDS_NO_HOST_GROUPS) return true;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!isHostGroupText(item)) return false;
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// Collects the first fault found in a record.
class Faults {
 public:
  // "key K holds [V], not <what>" when the non-empty value fails ok.
  Faults& check(const char* key, const std::string& value, bool ok, const char* what) {
    if (m_text.empty() && !value.empty() && !ok) {
      m_text = std::string("key ") + key + " holds [" + ZRHDSCLIUtils::quotedValue(value) +
               "], not " + what;
    }
    return *this;
  }
  Faults& serial(const char* key, const std::string& v) {
    return check(key, v, decimalIn(v, 1, kMaxSerial), "an array serial");
  }
  Faults& ldev(const char* key, const std::string& v) {
    return check(key, v, decimalIn(v, 0, ZR_HDS_DEFAULT_MAX_LDEV_NUMBER), "an LDEV number");
  }
  Faults& mu(const char* key, const std::string& v) {
    return check(key, v, decimalIn(v, 0, kMaxMu), "an MU number (0 to 1023)");
  }
  const std::string& text() const { return m_text; }

 private:
  std::string m_text;
};

}  // namespace

namespace ZRHDSCLIUtils {

std::string quotedValue(const std::string& value) {
  std::string out;
  for (char c : value.substr(0, kMaxQuoted)) out += printable(c) ? c : '?';
  if (value.size() > kMaxQuoted) out += "... (" + std::to_string(value.size()) + " characters)";
  return out;
}

bool isSnapshotGroupName(const std::string& name) {
  const std::string prefix = ZR_HDS_OBJECT_PREFIX;
  return name.size() > prefix.size() && name.size() <= kMaxGroupName &&
         name.compare(0, prefix.size(), prefix) == 0 && allOf(name, groupChar);
}

std::string uniqueRecordFault(const ZRHDSMetadataInfo& md) {
  Faults f;
  f.serial("1S", md.baseSerialNo).serial("2VS", md.vsmSerialNo);
  f.ldev("3L", md.baseDevNo).ldev("4VL", md.vsmDevNo);
  f.check("5M", md.modelNo, md.modelNo.size() <= kMaxShortText && allOf(md.modelNo, isAlnum),
          "an array model code");
  f.mu("13SM", md.snapMu);
  f.serial("6RS", md.rcuBaseSerialNo).serial("7RVS", md.rcuVsmSerialNo);
  f.ldev("8RL", md.rcuBaseDevNo).ldev("9RVL", md.rcuVsmDevNo);
  f.check("10SG", md.snapshotGroup, isSnapshotGroupName(md.snapshotGroup),
          "a snapshot group name of this plug-in (QB_ and at most 32 letters, digits or _)");
  f.check("11C", md.capacity, md.capacity.size() <= 20 && allOf(md.capacity, isDigit),
          "a capacity in blocks");
  f.check("12P", md.preSnapPort, md.preSnapPort.size() <= kMaxShortText &&
          allOf(md.preSnapPort, portChar), "a port name");
  f.check("14GS", md.activeGadSide, md.activeGadSide == "1" || md.activeGadSide == "2",
          "a GAD side (1 or 2)");
  f.mu("15RM", md.replicationMu);
  return f.text();
}

std::string mapRecordFault(const ZRHDSMetadataInfo& md) {
  Faults f;
  f.check("16ON", md.snapOriginalName,
          md.snapOriginalName.size() <= kMaxLabel && allOf(md.snapOriginalName, printable),
          "an LDEV label");
  f.ldev("22LI", md.snapLdevId);
  f.check("24VI", md.snapVirLdevId,
          md.snapVirLdevId.size() <= kMaxShortText && allOf(md.snapVirLdevId, portChar),
          "a virtual LDEV id");
  f.check("23OS", md.snapOriginalState,
          md.snapOriginalState == ZR_HDS_SNAP_ORIGINAL_STATE_OLD ||
              md.snapOriginalState == ZR_HDS_SNAP_ORIGINAL_STATE_NEW,
          "OLDDEV or NEWDEV");
  f.check("17HG", md.mappedHostGroups, isHostGroupList(md.mappedHostGroups),
          "N/A or host groups (<port>-<GID>, joined by \",\")");
  return f.text();
}

std::string replicationRecordFault(const ZRHDSMetadataInfo& md) {
  Faults f;
  f.serial("18MC", md.mcuSerial).ldev("19MP", md.pvolLdev);
  f.check("20QM", md.qMarker, md.qMarker.size() <= kMaxShortText && allOf(md.qMarker, hexChar),
          "a Q-marker");
  f.check("21MH", md.horcmInst, decimalIn(md.horcmInst, 0, kMaxInstance), "a HORCM instance");
  return f.text();
}

std::string horcmInstanceFault(const std::string& text) {
  return Faults().check("instance", text, decimalIn(text, 0, kMaxInstance), "a HORCM instance")
      .text();
}

}  // namespace ZRHDSCLIUtils
