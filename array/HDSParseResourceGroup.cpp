#include "array/HDSParseResourceGroup.h"

#include "array/HDSTextColumns.h"

namespace hdsparse {

namespace {

// Reads a row from its right end, one token at a time.
class RightCursor {
 public:
  explicit RightCursor(std::string_view line) : m_line(line), m_end(line.size()) {}

  // The token that ends at the current position (blanks before the
  // position skipped), when a blank or tab stands left of it: a token at
  // the very start of the line is the name's, never a column.
  bool peek(std::string_view& token, size_t& begin) const {
    size_t end = m_end;
    while (end > 0 && hdscols::isBlank(m_line[end - 1])) --end;
    size_t b = end;
    while (b > 0 && !hdscols::isBlank(m_line[b - 1])) --b;
    if (b == 0 || b == end) return false;
    token = m_line.substr(b, end - b);
    begin = b;
    return true;
  }
  bool take(std::string_view& token) {
    size_t begin = 0;
    if (!peek(token, begin)) return false;
    m_end = begin;
    return true;
  }
  // Takes the next token only when it equals word.
  bool takeIf(std::string_view word) {
    std::string_view token;
    size_t begin = 0;
    if (!peek(token, begin) || token != word) return false;
    m_end = begin;
    return true;
  }
  std::string_view left() const { return m_line.substr(0, m_end); }

 private:
  std::string_view m_line;
  size_t m_end;
};

}  // namespace

size_t resourceGroupHeaderAt(std::string_view output) {
  size_t pos = 0;
  while (pos < output.size()) {
    size_t nl = output.find('\n', pos);
    if (nl == std::string_view::npos) nl = output.size();
    if (hdscols::lineStartsWithColumns(output.substr(pos, nl - pos), {"RS_GROUP", "RGID"}))
      return pos;
    pos = nl + 1;
  }
  return std::string_view::npos;
}

size_t parseResourceGroupList(std::string_view output,
                              std::map<std::string, ResourceGroupInfo>& groups) {
  size_t rows = 0;
  // Whatever a tool printed before the header (a prompt, a warning) is no
  // group, and neither is the header itself.
  const size_t header = resourceGroupHeaderAt(output);
  if (header == std::string_view::npos) return 0;
  hdscols::forEachDataLine(output.substr(header), [&](std::string_view line) {
    RightCursor cursor(hdscols::trimRight(line));
    ResourceGroupInfo info;
    std::string_view serial, host, owner, status, id;
    if (!cursor.take(serial) || !cursor.take(host)) return;
    info.serial.assign(serial.data(), serial.size() > 5 ? 6 : serial.size());
    // The lock host may be one of three multi-word values; a word that
    // does not complete one of them is the next column.
    if (host == "Navigator" && cursor.takeIf("Storage")) {
      info.lockHost = "Storage Navigator";
    } else if (host == "Program" && cursor.takeIf("User")) {
      info.lockHost = cursor.takeIf("RMI") ? "RMI User Program" : "User Program";
    } else {
      info.lockHost.assign(host.data(), host.size());
    }
    if (!cursor.take(owner) || !cursor.take(status) || !cursor.take(id)) return;
    info.lockOwner.assign(owner.data(), owner.size());
    info.lockStatus.assign(status.data(), status.size());
    info.resourceGroupId = hdscols::atoiView(id);
    const std::string_view name = hdscols::trimRight(hdscols::trimLeft(cursor.left()));
    if (name.empty()) return;
    groups[std::string(name)] = std::move(info);
    ++rows;
  });
  return rows;
}

}  // namespace hdsparse
