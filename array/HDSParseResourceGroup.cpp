#include "array/HDSParseResourceGroup.h"

#include <utility>
#include <vector>

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

namespace {

// Columns of the resource-group header: RS_GROUP RGID, three more, Serial#.
constexpr size_t kResourceColumns = 6;

bool isResourceGroupHeader(std::string_view line) {
  return hdscols::lineStartsWithColumns(line, {"RS_GROUP", "RGID"}) &&
         hdscols::columnCount(line) == kResourceColumns &&
         hdscols::columnIndex(line, "Serial#") == kResourceColumns - 1;
}

// Reads one row into name and info; false when it lacks a column.
bool readResourceRow(std::string_view line, std::string_view& name, ResourceGroupInfo& info) {
  RightCursor cursor(hdscols::trimRight(line));
  std::string_view serial, host, owner, status, id;
  if (!cursor.take(serial) || !cursor.take(host)) return false;
  info.serial.assign(serial.data(), serial.size() > 5 ? 6 : serial.size());
  // The lock host may be one of three multi-word values; a word that does
  // not complete one of them is the next column.
  if (host == "Navigator" && cursor.takeIf("Storage")) {
    info.lockHost = "Storage Navigator";
  } else if (host == "Program" && cursor.takeIf("User")) {
    info.lockHost = cursor.takeIf("RMI") ? "RMI User Program" : "User Program";
  } else {
    info.lockHost.assign(host.data(), host.size());
  }
  if (!cursor.take(owner) || !cursor.take(status) || !cursor.take(id)) return false;
  info.lockOwner.assign(owner.data(), owner.size());
  info.lockStatus.assign(status.data(), status.size());
  info.resourceGroupId = hdscols::atoiView(id);
  name = hdscols::trimRight(hdscols::trimLeft(cursor.left()));
  return !name.empty();
}

}  // namespace

size_t resourceGroupHeaderAt(std::string_view output) {
  size_t pos = 0;
  while (pos < output.size()) {
    size_t nl = output.find('\n', pos);
    if (nl == std::string_view::npos) nl = output.size();
    if (isResourceGroupHeader(output.substr(pos, nl - pos))) return pos;
    pos = nl + 1;
  }
  return std::string_view::npos;
}

hdscols::ListingRead parseResourceGroupList(std::string_view output,
                                            std::map<std::string, ResourceGroupInfo>& groups) {
  if (hdscols::isBlankText(output)) return {};
  // Whatever a tool printed before the header (a prompt, a warning) is no
  // group, and neither is the header itself.
  const size_t header = resourceGroupHeaderAt(output);
  if (header == std::string_view::npos) return hdscols::refused(hdscols::kNotTheListing);
  std::vector<std::pair<std::string, ResourceGroupInfo>> fresh;
  hdscols::ListingRead read = hdscols::readRows(output.substr(header), [&](const hdscols::Row& row) {
    std::string_view name;
    ResourceGroupInfo info;
    if (!readResourceRow(row.line(), name, info)) return false;
    fresh.emplace_back(std::string(name), std::move(info));
    return true;
  });
  if (!read.ok()) return read;
  for (auto& entry : fresh) groups[entry.first] = std::move(entry.second);
  read.rows = fresh.size();
  return read;
}

}  // namespace hdsparse
