// Line and column cutting shared by the parsers of the CCI listings (pools,
// pairs, copy groups, Q-markers, LU paths, host groups, ports).
//
// The listings are plain text: one header line, then one row per line, the
// columns separated by runs of blanks and tabs. Every function here is pure
// and works on views into the caller's output; nothing is copied per line,
// so a parser stays linear in the size of the output.
#ifndef ZR_ARRAY_HDSTEXTCOLUMNS_H
#define ZR_ARRAY_HDSTEXTCOLUMNS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hdscols {

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Calls fn(line) for every data line of a listing: the output is cut at each
// "\n", the first line (the header) is skipped, and text after the last "\n"
// is not a line (a row cut short by a dying tool is never half read).
// Leniencies, both for hostile text only: a "\r" right before the "\n" is
// not part of the line (CRLF output), and a line holding nothing but blanks
// and tabs is not a row.
template <class Fn>
void forEachDataLine(std::string_view output, Fn&& fn) {
  size_t pos = output.find('\n');
  if (pos == std::string_view::npos) return;  // no complete header line
  ++pos;
  while (pos < output.size()) {
    const size_t nl = output.find('\n', pos);
    if (nl == std::string_view::npos) return;
    std::string_view line = output.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t i = 0;
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size()) continue;
    fn(line);
  }
}

// One column of a row read from the left.
struct Field {
  std::string_view text;  // may be empty (a row that begins with a blank)
  size_t begin = 0;       // offset of the column in the line
  bool followed = false;  // a blank or tab follows it within the line
};

// Cuts the first `max` columns of `line` read from the left: column 1 begins
// at the first character (a line that begins with a blank or tab has an
// empty first column), a column ends at the next blank or tab, and the next
// one begins at the next character that is neither. Returns how many columns
// were found (at most max). Only a column with followed set counts as
// "taken" under the listings' rule that a column is read only when a blank
// or tab follows it; the last column of a line never is.
size_t splitLeft(std::string_view line, Field* fields, size_t max);

// The column `n` (1-based) of line when it is taken under the rule above.
bool takenColumn(std::string_view line, size_t n, std::string_view& out);

// line without leading blanks and tabs.
std::string_view trimLeft(std::string_view line);
// line without trailing blanks, tabs and carriage returns.
std::string_view trimRight(std::string_view line);

// atoi over a view: optional leading white space and sign, then decimal
// digits up to the first other character; no digits gives 0; values beyond
// int32 are clamped instead of overflowing.
int32_t atoiView(std::string_view text);

// Appends text to out with every white-space character removed.
void appendWithoutSpace(std::string& out, std::string_view text);

// True when text is not empty and holds decimal digits only.
bool isDecimalDigits(std::string_view text);

}  // namespace hdscols

#endif  // ZR_ARRAY_HDSTEXTCOLUMNS_H
