// Line and column cutting shared by the parsers of the CCI listings (pools,
// pairs, copy groups, Q-markers, LU paths, host groups, ports).
//
// The listings are plain text: one header line, then one row per line, the
// columns separated by runs of blanks and tabs. Readers find the columns they
// take by the header's words (letter case not compared; columns they do not
// take may stand anywhere), read each row from its first word (an indented
// or right-aligned row reads as a left-aligned one), and refuse an answer
// whose header lacks a column they take or one of whose rows lacks it (cut
// short). Every function here is pure and works on views into the caller's
// output; nothing is copied per line, so a parser stays linear in the size
// of the output.
#ifndef ZR_ARRAY_HDSTEXTCOLUMNS_H
#define ZR_ARRAY_HDSTEXTCOLUMNS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace hdscols {

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Calls fn(line) for every data line of a listing: the output is cut at each
// "\n", the first line (the header) is skipped, and text after the last "\n"
// is the last row (the tools may end their output without one). Leniencies,
// both for hostile text only: a "\r" right before the "\n" is not part of
// the line (CRLF output), and a line holding nothing but blanks and tabs is
// not a row.
template <class Fn>
void forEachDataLine(std::string_view output, Fn&& fn) {
  size_t pos = output.find('\n');
  if (pos == std::string_view::npos) return;  // no complete header line
  ++pos;
  while (pos < output.size()) {
    size_t nl = output.find('\n', pos);
    if (nl == std::string_view::npos) nl = output.size();
    std::string_view line = output.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t i = 0;
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size()) continue;
    fn(line);
  }
}

// True when output holds nothing but blanks, tabs and line ends: an answer
// without any listing (not even a header).
bool isBlankText(std::string_view output);

// The first line of output without a trailing "\r" (all of it when there is
// no "\n").
std::string_view firstLine(std::string_view output);

// One column of a row read from the left.
struct Field {
  std::string_view text;  // may be empty (a row that begins with a blank)
  size_t begin = 0;       // offset of the column in the line
  bool followed = false;  // a blank or tab follows it within the line
};

// True when a and b are the same word but for the letter case of ASCII
// letters: the tools print header words in either case ("PORT#", "Port#").
bool sameWord(std::string_view a, std::string_view b);

// True when line, leading blanks skipped, begins with the given column names
// in this order, each a whole column (letter case not compared).
bool lineStartsWithColumns(std::string_view line, std::initializer_list<std::string_view> names);

// 0-based index of the first whole column of line equal to name (columns cut
// at runs of blanks and tabs, leading ones skipped; letter case not
// compared); npos when absent. name may list alternatives separated by "|"
// ("P-Seq#|E-Seq#"): the first column equal to any of them counts.
size_t columnIndex(std::string_view line, std::string_view name);

// Finds each of names in header with columnIndex; false when one is absent
// (columns is then partly filled). columns must hold names.size() entries.
bool findColumns(std::string_view header, std::initializer_list<std::string_view> names,
                 size_t* columns);

// Number of whole columns of line.
size_t columnCount(std::string_view line);

// One data row of a listing, cut into its columns from its first word:
// leading blanks and tabs are skipped, so an indented or right-aligned row
// reads as a left-aligned one. Columns are counted from 0, as header columns
// are by columnIndex.
class Row {
 public:
  // Columns beyond this many are not cut (no listing read has so many
  // before its last column read).
  static constexpr size_t kMaxColumns = 24;
  explicit Row(std::string_view line);

  // True when column k is there (it may end the line).
  bool has(size_t k) const { return k < m_count; }
  // True when column k is there and a blank or tab follows it within the
  // line: the listings' rule for a column read as a whole (a column that
  // ends the line may have been cut off with it).
  bool taken(size_t k) const { return has(k) && m_fields[k].followed; }
  // True when every column of columns is taken.
  template <size_t N>
  bool takesAll(const size_t (&columns)[N]) const {
    for (size_t k : columns)
      if (!taken(k)) return false;
    return true;
  }
  // Column k's text; empty when it is not there.
  std::string_view text(size_t k) const { return has(k) ? m_fields[k].text : std::string_view(); }
  // The row from the start of column k to its end; empty when it is not there.
  std::string_view from(size_t k) const {
    return has(k) ? m_line.substr(m_fields[k].begin) : std::string_view();
  }
  // Offset of column k in line() (line().size() when it is not there).
  size_t begin(size_t k) const { return has(k) ? m_fields[k].begin : m_line.size(); }
  // The row without its leading blanks.
  std::string_view line() const { return m_line; }
  size_t count() const { return m_count; }

 private:
  std::string_view m_line;
  Field m_fields[kMaxColumns];
  size_t m_count = 0;
};

// What a listing reader made of an answer. A refused answer adds nothing.
struct ListingRead {
  size_t rows = 0;                // records added
  const char* refusal = nullptr;  // why the answer was refused; null when read
  bool ok() const { return refusal == nullptr; }
};

// The two refusals: the answer's first line lacks a column the reader takes
// (another command's answer, a prompt, an abbreviated sample), or a row lacks
// one (cut short).
extern const char kNotTheListing[];
extern const char kRowCutShort[];

inline ListingRead refused(const char* why) { return ListingRead{0, why}; }

// Calls fn(const Row&) for every data line of output (see forEachDataLine)
// until fn returns false, which refuses the answer as cut short. The header
// is the caller's to check first.
template <class Fn>
ListingRead readRows(std::string_view output, Fn&& fn) {
  ListingRead read;
  forEachDataLine(output, [&](std::string_view line) {
    if (read.ok() && !fn(Row(line))) read.refusal = kRowCutShort;
  });
  return read;
}

// Appends fresh to out when read accepted the answer, and sets read.rows.
template <class T>
ListingRead appendRead(ListingRead read, std::vector<T>& fresh, std::vector<T>& out) {
  if (!read.ok()) return read;
  read.rows = fresh.size();
  out.insert(out.end(), std::make_move_iterator(fresh.begin()),
             std::make_move_iterator(fresh.end()));
  return read;
}

// Cuts the first `max` columns of `line` read from the left: column 1 begins
// at the first character (a line that begins with a blank or tab has an
// empty first column), a column ends at the next blank or tab, and the next
// one begins at the next character that is neither. Returns how many columns
// were found (at most max). Only a column with followed set counts as
// "taken" under the listings' rule that a column is read only when a blank
// or tab follows it; the last column of a line never is.
size_t splitLeft(std::string_view line, Field* fields, size_t max);

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

// True when a refusal of the array in text ("... SSB=0x2E20,0x0000 on
// Serial#(...)") carries the sense pair first,second: four hexadecimal
// digits each, compared without regard to case.
bool hasSsbPair(std::string_view text, std::string_view first, std::string_view second);

// True when text holds the array's refusal by its sense pair first,second,
// or its message (for tools that print only the message).
bool namesRefusal(std::string_view text, std::string_view first, std::string_view second,
                  std::string_view message);

}  // namespace hdscols

#endif  // ZR_ARRAY_HDSTEXTCOLUMNS_H
