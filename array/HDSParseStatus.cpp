#include "array/HDSParseStatus.h"

#include <cstdlib>
#include <limits>

#include "array/HDSTextColumns.h"

namespace hdsparse {

namespace {

// The first data row of output, when there is one (with terminated, only a
// row that a newline ends).
bool firstRow(std::string_view output, std::string_view& row, bool terminated) {
  bool found = false;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    if (found) return;
    const size_t end = static_cast<size_t>(line.data() - output.data()) + line.size();
    if (terminated && output.find('\n', end) == std::string_view::npos) return;
    row = line;
    found = true;
  });
  return found;
}

}  // namespace

bool parseCommandStatusRow(std::string_view output, bool& hasError, std::string& description,
                           std::string& row, int* errors) {
  hasError = false;
  if (errors != nullptr) *errors = 0;
  enum { kCount, kDescription, kColumns };
  size_t col[kColumns];
  std::string_view line;
  if (!hdscols::findColumns(hdscols::firstLine(output), {"ERR_CNT", "Description"}, col) ||
      !firstRow(output, line, false)) {
    return false;
  }
  row.assign(line);
  const hdscols::Row r(line);
  const std::string_view count = r.text(col[kCount]);
  if (!r.taken(col[kCount]) || !hdscols::isDecimalDigits(count)) return false;
  if (count.find_first_not_of('0') == std::string_view::npos) return true;
  hasError = true;
  if (errors != nullptr) {
    const std::string digits(count);
    *errors = digits.size() > 9 ? std::numeric_limits<int>::max() : std::atoi(digits.c_str());
  }
  description.assign(r.from(col[kDescription]));
  return true;
}

bool parseRaidqryList(std::string_view output, HDSRaidqryInfo& info) {
  info.init();
  const std::string_view header = hdscols::firstLine(output);
  const size_t host = hdscols::columnIndex(header, "Hostname");
  const size_t micro = hdscols::columnIndex(header, "Micro_ver");
  std::string_view line;
  if (host == std::string_view::npos || micro == std::string_view::npos ||
      !firstRow(output, line, true)) {
    return false;
  }
  const hdscols::Row row(line);
  if (!row.taken(host) || !row.taken(micro)) return false;
  const struct {
    const char* name;
    std::string* field;
  } kText[] = {{"Group", &info.column2},     {"Hostname", &info.hostName},
               {"HORCM_ver", &info.column4}, {"Uid", &info.column5},
               {"Serial#", &info.column6},   {"Micro_ver", &info.microVersion}};
  for (const auto& t : kText) {
    const size_t k = hdscols::columnIndex(header, t.name);
    if (row.taken(k)) t.field->assign(row.text(k));
  }
  const size_t cache = hdscols::columnIndex(header, "Cache(MB)");
  if (row.has(cache)) info.column8 = hdscols::atoiView(row.from(cache));
  return true;
}

}  // namespace hdsparse
