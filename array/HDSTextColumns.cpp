#include "array/HDSTextColumns.h"

#include <cctype>
#include <climits>

namespace hdscols {

size_t splitLeft(std::string_view line, Field* fields, size_t max) {
  size_t count = 0;
  size_t pos = 0;
  while (count < max) {
    size_t end = pos;
    while (end < line.size() && !isBlank(line[end])) ++end;
    Field& f = fields[count++];
    f.text = line.substr(pos, end - pos);
    f.begin = pos;
    f.followed = end < line.size();
    if (!f.followed) break;
    pos = end;
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    // A run of blanks that ends the line opens no further column.
    if (pos == line.size()) break;
  }
  return count;
}

bool isBlankText(std::string_view output) {
  for (char c : output)
    if (!isBlank(c) && c != '\n' && c != '\r') return false;
  return true;
}

std::string_view firstLine(std::string_view output) {
  std::string_view line = output.substr(0, output.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

const char kNotTheListing[] = "The answer is not the listing asked for.";
const char kRowCutShort[] = "A row of the answer is cut short.";

bool sameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

namespace {

// True when word equals one of the "|"-separated alternatives.
bool isOneOf(std::string_view word, std::string_view alternatives) {
  size_t pos = 0;
  for (;;) {
    const size_t bar = alternatives.find('|', pos);
    const size_t end = bar == std::string_view::npos ? alternatives.size() : bar;
    if (sameWord(word, alternatives.substr(pos, end - pos))) return true;
    if (bar == std::string_view::npos) return false;
    pos = bar + 1;
  }
}

// Calls fn(word, index) for each whole column of line until fn returns true;
// returns the index it stopped at, npos when it never did.
template <class Fn>
size_t eachColumn(std::string_view line, Fn&& fn) {
  size_t index = 0;
  size_t pos = 0;
  for (;;) {
    while (pos < line.size() && (isBlank(line[pos]) || line[pos] == '\r')) ++pos;
    if (pos == line.size()) return std::string_view::npos;
    size_t end = pos;
    while (end < line.size() && !isBlank(line[end]) && line[end] != '\r') ++end;
    if (fn(line.substr(pos, end - pos))) return index;
    ++index;
    pos = end;
  }
}

}  // namespace

size_t columnIndex(std::string_view line, std::string_view name) {
  return eachColumn(line, [&](std::string_view word) { return isOneOf(word, name); });
}

size_t columnCount(std::string_view line) {
  size_t count = 0;
  eachColumn(line, [&](std::string_view) {
    ++count;
    return false;
  });
  return count;
}

bool findColumns(std::string_view header, std::initializer_list<std::string_view> names,
                 size_t* columns) {
  for (std::string_view name : names) {
    *columns = columnIndex(header, name);
    if (*columns++ == std::string_view::npos) return false;
  }
  return true;
}

Row::Row(std::string_view line) : m_line(trimLeft(line)) {
  if (!m_line.empty()) m_count = splitLeft(m_line, m_fields, kMaxColumns);
}

bool lineStartsWithColumns(std::string_view line, std::initializer_list<std::string_view> names) {
  size_t expected = 0;
  for (std::string_view name : names) {
    if (columnIndex(line, name) != expected) return false;
    ++expected;
  }
  return expected > 0;
}

std::string_view trimLeft(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && isBlank(line[i])) ++i;
  return line.substr(i);
}

std::string_view trimRight(std::string_view line) {
  size_t n = line.size();
  while (n > 0 && (isBlank(line[n - 1]) || line[n - 1] == '\r')) --n;
  return line.substr(0, n);
}

int32_t atoiView(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

void appendWithoutSpace(std::string& out, std::string_view text) {
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) out.push_back(c);
  }
}

bool isDecimalDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

namespace {

// The four characters at pos after a "0x" or "0X", when there are.
bool hexAt(std::string_view text, size_t pos, std::string_view& out) {
  if (pos + 6 > text.size() || text[pos] != '0' || (text[pos + 1] != 'x' && text[pos + 1] != 'X'))
    return false;
  out = text.substr(pos + 2, 4);
  return true;
}

}  // namespace

bool hasSsbPair(std::string_view text, std::string_view first, std::string_view second) {
  static constexpr std::string_view kMark = "SSB=";
  for (size_t p = text.find(kMark); p != std::string_view::npos; p = text.find(kMark, p + 1)) {
    const size_t a = p + kMark.size();
    std::string_view one, two;
    if (!hexAt(text, a, one) || a + 6 >= text.size() || text[a + 6] != ',') continue;
    if (!hexAt(text, a + 7, two)) continue;
    // A longer value is another pair.
    const size_t end = a + 13;
    if (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) continue;
    if (sameWord(one, first) && sameWord(two, second)) return true;
  }
  return false;
}

bool namesRefusal(std::string_view text, std::string_view first, std::string_view second,
                  std::string_view message) {
  return hasSsbPair(text, first, second) || text.find(message) != std::string_view::npos;
}

}  // namespace hdscols
