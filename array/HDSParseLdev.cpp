#include "array/HDSParseLdev.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "array/HDSTextColumns.h"
#include "records/HDSConstants.h"

namespace hdsparse {

namespace {

// Cuts "<marker>:<value>" off the end of text (the marker and everything
// after it) and puts value, up to a later marker, in out; text keeps what
// stood before the marker. Nothing happens without the marker.
void cutMarked(std::string& text, const char* marker, std::string& out) {
  const size_t at = text.find(marker);
  if (at == std::string::npos) return;
  size_t from = at + std::strlen(marker);
  if (from < text.size() && text[from] == ':') ++from;
  std::string rest = from < text.size() ? text.substr(from) : std::string();
  // A later marker (VIR_LDEV after PHY_LDEV, or the other way round) stays
  // in text for its own cut.
  size_t next = std::string::npos;
  for (const char* other : {"VIR_LDEV", "PHY_LDEV"}) {
    size_t p = rest.find(other);
    if (p != std::string::npos && p < next) next = p;
  }
  out = rest.substr(0, next);
  std::string tail = next == std::string::npos ? std::string() : rest.substr(next);
  text = text.substr(0, at) + tail;
}

// White space as isspace() sees it in the "C" locale, without its cost.
inline bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

enum class LdevKey {
  kNone,
  kSerial,
  kLdev,
  kVolType,
  kCapacity,
  kPorts,
  kPoolId,
  kVolAttr,
  kLabel,
  kRsgid,
  kNumPort,
  kMpBlade
};

// The longest key acted on is "VOL_Capacity(BLK)"; a longer key is none of
// them and its line is skipped without looking further.
constexpr size_t kMaxKeyLength = 17;

template <size_t N>
inline bool keyIs(const char* key, size_t n, const char (&want)[N]) {
  return n == N - 1 && std::memcmp(key, want, N - 1) == 0;
}

LdevKey classifyKey(const char* key, size_t n) {
  switch (n) {
    case 3:
      if (keyIs(key, n, "MP#")) return LdevKey::kMpBlade;
      break;
    case 4:
      if (keyIs(key, n, "LDEV")) return LdevKey::kLdev;
      break;
    case 5:
      if (keyIs(key, n, "PORTs")) return LdevKey::kPorts;
      if (keyIs(key, n, "RSGID")) return LdevKey::kRsgid;
      break;
    case 7:
      if (keyIs(key, n, "Serial#")) return LdevKey::kSerial;
      break;
    case 8:
      if (keyIs(key, n, "VOL_TYPE")) return LdevKey::kVolType;
      if (keyIs(key, n, "B_POOLID")) return LdevKey::kPoolId;
      if (keyIs(key, n, "VOL_ATTR")) return LdevKey::kVolAttr;
      if (keyIs(key, n, "NUM_PORT")) return LdevKey::kNumPort;
      break;
    case 11:
      if (keyIs(key, n, "LDEV_NAMING")) return LdevKey::kLabel;
      break;
    case 17:
      if (keyIs(key, n, "VOL_Capacity(BLK)")) return LdevKey::kCapacity;
      break;
    default:
      break;
  }
  return LdevKey::kNone;
}

// strtoull over the leading decimal digits, saturating instead of wrapping;
// no digits gives 0 (a capacity is never negative, so no sign is read).
uint64_t readUint64(std::string_view text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

// One path entry of a "PORTs" line: "<port>-<GID> <LUN> <host-group name>".
// Appends it when its first token is a path token.
void parsePortEntry(std::string_view entry, std::vector<HDSLunInfo>& luns) {
  entry = hdscols::trimLeft(entry);
  size_t end = 0;
  while (end < entry.size() && !hdscols::isBlank(entry[end])) ++end;
  const std::string_view path = entry.substr(0, end);
  const size_t dash = path.rfind('-');
  // Leniency: the rest of a host-group name that holds ":" looks like a
  // further entry; only "<port>-<digits>" starts a path.
  if (dash == std::string_view::npos || dash == 0 ||
      !hdscols::isDecimalDigits(path.substr(dash + 1))) {
    return;
  }
  HDSLunInfo lun;
  lun.port.assign(path.data(), dash);
  lun.hostGroupId.assign(path.data() + dash + 1, path.size() - dash - 1);
  const std::string_view rest = hdscols::trimLeft(entry.substr(end));
  size_t lunEnd = 0;
  while (lunEnd < rest.size() && !hdscols::isBlank(rest[lunEnd])) ++lunEnd;
  lun.lun.assign(rest.data(), lunEnd);
  luns.push_back(std::move(lun));
}

// Adds `text` without white space to `out` (which the caller cleared).
inline void compactInto(std::string& out, std::string_view text) {
  for (char c : text) {
    if (!isSpace(c)) out.push_back(c);
  }
}

}  // namespace

int parsePortList(std::string_view line, std::vector<HDSLunInfo>& luns) {
  if (line.size() < 9) return 0;
  luns.clear();
  line = hdscols::trimRight(line);
  // The paths begin after the key's colon ("PORTs : "); a key padded with
  // more blanks moves them, so the colon is looked for rather than
  // counted.
  size_t pos = line.find(':');
  pos = (pos == std::string_view::npos) ? 8 : pos + 1;
  while (pos < line.size()) {
    const size_t colon = line.find(':', pos);
    const size_t end = (colon == std::string_view::npos) ? line.size() : colon;
    parsePortEntry(line.substr(pos, end - pos), luns);
    if (colon == std::string_view::npos) break;
    pos = colon + 1;
  }
  return 1;
}

int volumeAttributeMap(std::string_view value) {
  if (value == "NOTDEFINED") return HDS_VOL_ATTR_UNDEFINED;
  struct Keyword {
    const char* text;
    int bit;
  };
  static const Keyword kKeywords[] = {
      {"CMD", 0x2},      {"CVS", 0x4},      {"LUSE", 0x8},    {"ALUN", 0x10},   {"ELUN", 0x20},
      {"VVOL", 0x40},    {"QS", 0x80},      {"HDP", 0x100},   {"THP", 0x100},   {"POOL", 0x200},
      {"HORC", 0x400},   {"MRCF", 0x800},   {"ENCD", 0x1000}, {"SYSD", 0x2000}, {"TSE", 0x4000},
      {"HDT", 0x8000},   {"SMRT", 0x8000},  {"OLG", 0x10000}, {"QRD", 0x20000}, {"JNL", 0x40000},
      {"CLUN", 0x80000}, {"GAD", 0x100000}, {"HA", 0x100000},
  };
  int bits = 0;
  for (const Keyword& k : kKeywords) {
    if (value.find(k.text) != std::string_view::npos) bits |= k.bit;
  }
  return bits;
}

size_t parseGetLdevOutput(std::string_view output, std::vector<HDSLdevInfo>& ldevs,
                          std::string_view labelFilter, size_t* blocks) {
  size_t read = 0;
  std::string filter;
  compactInto(filter, labelFilter);

  HDSLdevInfo record;
  bool inBlock = false;
  size_t appended = 0;
  std::string value;  // reused for every line: no allocation once grown

  auto finishBlock = [&]() {
    // The global-virtualisation form prints the virtual values where the
    // other form prints the physical ones: the record holds the physical
    // LDEV and array in both forms (commands name those), and a printed
    // LDEV other than the physical one is its virtual id, as VIR_LDEV is.
    if (!record.physicalLdevId.empty()) {
      if (record.virtualLdevId.empty() && record.ldevId != record.physicalLdevId) {
        record.virtualLdevId = record.ldevId;
      }
      record.ldevId = record.physicalLdevId;
    }
    if (!record.physicalSerial.empty()) record.serial = record.physicalSerial;
    ++read;
    // The array prints no VOL_ATTR line for an id that holds no LDEV, so
    // the type alone marks it undefined.
    if (record.volType == "NOTDEFINED") record.volAttr = HDS_VOL_ATTR_UNDEFINED;
    if (!filter.empty() && record.label != filter) return;
    ldevs.push_back(std::move(record));
    ++appended;
  };

  size_t pos = 0;
  while (pos < output.size()) {
    // Text after the last "\n" is the last line: the tools may end their
    // output without one.
    size_t nl = output.find('\n', pos);
    if (nl == std::string_view::npos) nl = output.size();
    const std::string_view line = output.substr(pos, nl - pos);
    pos = nl + 1;

    char key[kMaxKeyLength];
    size_t keyLength = 0;
    size_t i = 0;
    bool keyTooLong = false;
    for (; i < line.size() && line[i] != ':'; ++i) {
      const char c = line[i];
      if (isSpace(c)) continue;
      if (keyLength == kMaxKeyLength) {
        keyTooLong = true;
        break;
      }
      key[keyLength++] = c;
    }
    if (keyTooLong || i == line.size()) continue;  // no key of ours, or no value
    const LdevKey which = classifyKey(key, keyLength);
    if (which == LdevKey::kNone) continue;

    const std::string_view rawValue = line.substr(i + 1);
    if (which == LdevKey::kSerial) {
      if (inBlock) finishBlock();
      record.init();
      inBlock = true;
      compactInto(record.serial, rawValue);
      cutMarked(record.serial, "PHY_Serial#", record.physicalSerial);
      continue;
    }
    if (!inBlock) continue;  // a line before the first "Serial#" line
    if (which == LdevKey::kPorts) {
      parsePortList(line, record.ports);
      continue;
    }

    value.clear();
    compactInto(value, rawValue);
    switch (which) {
      case LdevKey::kLdev: {
        // "<id>", "<id>VIR_LDEV:<v>" or "<id>PHY_LDEV:<p>" once the blanks
        // are gone; each marker's value runs to the next marker.
        cutMarked(value, "PHY_LDEV", record.physicalLdevId);
        cutMarked(value, "VIR_LDEV", record.virtualLdevId);
        record.ldevId = value;
        break;
      }
      case LdevKey::kVolType:
        record.volType = value;
        break;
      case LdevKey::kCapacity:
        record.capacityBlocks = readUint64(value);
        break;
      case LdevKey::kPoolId:
        record.poolId = value;
        break;
      case LdevKey::kVolAttr:
        record.volAttr = volumeAttributeMap(value);
        break;
      case LdevKey::kLabel:
        record.label = value;
        break;
      case LdevKey::kRsgid:
        record.resourceGroupId = hdscols::atoiView(value);
        break;
      case LdevKey::kNumPort:
        record.numPorts = hdscols::atoiView(value);
        break;
      case LdevKey::kMpBlade:
        record.mpBladeId = hdscols::atoiView(value);
        break;
      default:
        break;
    }
  }
  if (inBlock) finishBlock();
  if (blocks != nullptr) *blocks = read;
  return appended;
}

std::string writtenLabel(const std::string& label) {
  return label.empty() ? std::string(ZR_HDS_BLANK_LABEL) : label;
}

std::string listedLabel(const std::string& label) {
  std::string listed;
  compactInto(listed, writtenLabel(label));
  return listed;
}

}  // namespace hdsparse
