// zrjson parser: a permissive recursive-descent reader.
//
// One function per grammar rule; every leniency beyond strict JSON is a
// commented branch of the rule that allows it. The grammar is written once
// over a cursor type and used with two cursors: one over a text in memory
// (the string entry points, which is what the system's messages go through)
// and one over a std::istream (the stream entry points).
//
// Failure is reported only by a false result. Containers keep whatever they
// read before a failure; nothing is rolled back.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <limits>
#include <locale.h>
#include <memory>

#include "json/ZrJsonInternal.h"
#include "json/zrjson.h"

namespace zrjson {
namespace {

constexpr int kEnd = -1;

// The whitespace of the C locale: blank, \t, \n, \v, \f, \r. Takes an
// unsigned byte value (or kEnd).
inline bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool isDigit(int c) { return c >= '0' && c <= '9'; }
inline bool isAsciiLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Cursor over a text in memory. Positions are offsets into the text.
class TextCursor {
 public:
  TextCursor(const char* data, std::size_t size)
      : m_pBegin(data), m_pCur(data), m_pEnd(data + size) {}

  int peek() const { return m_pCur < m_pEnd ? static_cast<unsigned char>(*m_pCur) : kEnd; }
  int peekSecond() const {
    return m_pEnd - m_pCur >= 2 ? static_cast<unsigned char>(m_pCur[1]) : kEnd;
  }
  int get() { return m_pCur < m_pEnd ? static_cast<unsigned char>(*m_pCur++) : kEnd; }
  // REQUIRES: peek() != kEnd.
  void advance() { ++m_pCur; }
  std::size_t pos() const { return static_cast<std::size_t>(m_pCur - m_pBegin); }
  void setPos(std::size_t pos) { m_pCur = m_pBegin + pos; }
  bool atEnd() const { return m_pCur >= m_pEnd; }
  // REQUIRES: pos <= pos(). The bytes from pos on, contiguous up to pos().
  const char* at(std::size_t pos) const { return m_pBegin + pos; }

  void skipSpace() {
    while (m_pCur < m_pEnd && isSpace(static_cast<unsigned char>(*m_pCur))) ++m_pCur;
  }
  // Up to, not including, the next carriage return or line feed.
  void skipLine() {
    while (m_pCur < m_pEnd && *m_pCur != '\n' && *m_pCur != '\r') ++m_pCur;
  }
  // Appends the bytes up to the quote, a backslash or the end.
  void appendRun(std::string& out, char quote) {
    const char* run = m_pCur;
    while (m_pCur < m_pEnd && *m_pCur != quote && *m_pCur != '\\') ++m_pCur;
    out.append(run, m_pCur - run);
  }

 private:
  const char* m_pBegin;
  const char* m_pCur;
  const char* m_pEnd;
};

// Cursor over a std::istream. Bytes are taken from the stream buffer as the
// grammar looks at them and kept, so that the grammar can go back as far as
// it likes; finish() hands the bytes read ahead of the final position back to
// the stream, which then stands right after what was parsed.
class StreamCursor {
 public:
  explicit StreamCursor(std::istream& input) : m_rInput(input), m_pBuf(input.rdbuf()) {}

  int peek() { return fill(m_nPos + 1) ? static_cast<unsigned char>(m_sRead[m_nPos]) : kEnd; }
  int peekSecond() {
    return fill(m_nPos + 2) ? static_cast<unsigned char>(m_sRead[m_nPos + 1]) : kEnd;
  }
  int get() { return fill(m_nPos + 1) ? static_cast<unsigned char>(m_sRead[m_nPos++]) : kEnd; }
  void advance() { ++m_nPos; }
  std::size_t pos() const { return m_nPos; }
  void setPos(std::size_t pos) { m_nPos = pos; }
  bool atEnd() { return !fill(m_nPos + 1); }
  const char* at(std::size_t pos) const { return m_sRead.data() + pos; }

  void skipSpace() {
    while (isSpace(peek())) ++m_nPos;
  }
  void skipLine() {
    for (int c = peek(); c != kEnd && c != '\n' && c != '\r'; c = peek()) ++m_nPos;
  }
  void appendRun(std::string& out, char quote) {
    for (int c = peek(); c != kEnd && c != static_cast<unsigned char>(quote) && c != '\\';
         c = peek()) {
      out += static_cast<char>(c);
      ++m_nPos;
    }
  }

  void finish() {
    for (std::size_t i = m_sRead.size(); i > m_nPos; --i) {
      if (m_pBuf->sputbackc(m_sRead[i - 1]) == std::char_traits<char>::eof()) {
        m_rInput.setstate(std::ios_base::failbit);
        return;
      }
    }
    if (m_bEof && m_nPos == m_sRead.size()) m_rInput.setstate(std::ios_base::eofbit);
  }

 private:
  bool fill(std::size_t n) {
    while (m_sRead.size() < n) {
      if (m_bEof || m_pBuf == nullptr) return false;
      int c = m_pBuf->sbumpc();
      if (c == std::char_traits<char>::eof()) {
        m_bEof = true;
        return false;
      }
      m_sRead.push_back(static_cast<char>(c));
    }
    return true;
  }

  std::istream& m_rInput;
  std::streambuf* m_pBuf;
  std::string m_sRead;
  std::size_t m_nPos = 0;
  bool m_bEof = false;
};

locale_t cLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

// Powers of ten that a long double of at least 64 mantissa bits holds exactly.
constexpr int kExactPowers = 28;
const long double kPow10[kExactPowers] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                          1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                          1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                          1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
constexpr bool kFastNumbers = std::numeric_limits<long double>::digits >= 64;
// Elements of an array that give each number a node of its own.
constexpr std::size_t kOwnNumberNodes = 8;
// Significant digits that a 64-bit integer always holds.
constexpr int kFastDigits = 18;

// The int that "%x" formatted extraction reads from the (up to four) bytes of
// a \u escape: leading whitespace, an optional sign, an optional 0x, then the
// leading hexadecimal digits; whatever follows is ignored. False when there
// is no digit (a lone "0" counts as one).
bool readHexEscape(const char* s, std::size_t n, int& result) {
  std::size_t i = 0;
  while (i < n && isSpace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  bool zero = false;
  if (i < n && s[i] == '0') {
    zero = true;
    ++i;
    if (i < n && (s[i] == 'x' || s[i] == 'X')) {
      zero = false;  // "0x" alone is no number
      ++i;
    }
  }
  int value = 0;
  bool digits = false;
  for (; i < n; ++i) {
    int c = static_cast<unsigned char>(s[i]);
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      break;
    value = value * 16 + d;
    digits = true;
  }
  if (!digits && !zero) return false;
  result = negative ? -value : value;
  return true;
}

template <class Cursor>
class Reader {
 public:
  explicit Reader(Cursor& in) : m_rIn(in) {}

  // Set once a container nests deeper than kMaxNestingDepth; from then on
  // every rule fails.
  bool tooDeep() const { return m_bTooDeep; }

  // A line comment: "//" up to the end of the line, then any whitespace.
  // Block comments are not recognised.
  bool parseComment() {
    if (m_rIn.peek() != '/' || m_rIn.peekSecond() != '/') return false;
    m_rIn.advance();
    m_rIn.advance();
    m_rIn.skipLine();
    m_rIn.skipSpace();
    return true;
  }

  // A fixed literal after whitespace. Leniency: a comment may stand before
  // the literal and wherever the next literal character does not match, also
  // inside the literal ("nu// x\nll" is null). On a mismatch, including the
  // end of the input, the literal's bytes read so far go back; whitespace and
  // comments before it stay read.
  bool match(const char* pattern) {
    m_rIn.skipSpace();
    const char* p = pattern;
    std::size_t start = 0;
    while (*p != '\0') {
      int c = m_rIn.peek();
      if (c == static_cast<unsigned char>(*p)) {
        if (p == pattern) start = m_rIn.pos();
        m_rIn.advance();
        ++p;
      } else if (c == kEnd || !parseComment()) {
        if (p != pattern) m_rIn.setPos(start);
        return false;
      }
    }
    return true;
  }

  // match() of a one-character literal, the common case: the same result
  // without the bookkeeping of a partial match.
  bool match(char literal) {
    for (;;) {
      m_rIn.skipSpace();
      int c = m_rIn.peek();
      if (c == static_cast<unsigned char>(literal)) {
        m_rIn.advance();
        return true;
      }
      if (c == kEnd || !parseComment()) return false;
    }
  }

  // A quoted string; its bytes are appended to value.
  bool parseString(std::string& value) {
    char quote;
    if (match('"')) {
      quote = '"';
    } else if (m_rIn.peek() == '\'') {
      // Leniency: single-quoted strings.
      m_rIn.advance();
      quote = '\'';
    } else {
      return false;
    }
    for (;;) {
      // Leniency: raw control characters and line ends are taken as they are.
      m_rIn.appendRun(value, quote);
      int c = m_rIn.get();
      if (c == kEnd) return false;  // not closed
      if (c == static_cast<unsigned char>(quote)) return true;
      int e = m_rIn.get();  // c was a backslash
      switch (e) {
        case kEnd:
          return false;
        case '/':
          value += '/';
          break;
        case '\\':
          value += '\\';
          break;
        case 'b':
          value += '\b';
          break;
        case 'f':
          value += '\f';
          break;
        case 'n':
          value += '\n';
          break;
        case 'r':
          value += '\r';
          break;
        case 't':
          value += '\t';
          break;
        case 'u': {
          // One byte, the low eight bits of the hexadecimal number that the
          // next four bytes start with (\u00e9 gives 0xE9, \u20ac 0xAC); no
          // digits add nothing. The four bytes are taken whatever they are.
          char hex[4];
          for (int i = 0; i < 4; ++i) {
            int h = m_rIn.get();
            if (h == kEnd) return false;
            hex[i] = static_cast<char>(h);
          }
          int code;
          if (readHexEscape(hex, 4, code)) value += static_cast<char>(code & 0xFF);
          break;
        }
        default:
          if (e == static_cast<unsigned char>(quote)) {
            value += quote;
          } else {
            // Leniency: an unknown escape (the other quote among them) keeps
            // its backslash.
            value += '\\';
            value += static_cast<char>(e);
          }
          break;
      }
    }
  }

  // A number as the standard formatted extraction of a long double reads
  // it: an optional sign, digits with an optional decimal point, an optional
  // exponent. Leniency: a leading '+', leading zeros and a missing integer or
  // fraction part (.5, 5.). Hexadecimal, infinity and NaN are not numbers;
  // an out-of-range value fails. On failure the input is left where the
  // number would have begun. The number may be followed by anything.
  bool parseNumber(Number& result) {
    m_rIn.skipSpace();
    const std::size_t start = m_rIn.pos();
    int c = m_rIn.peek();
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = c == '-';
      m_rIn.advance();
      c = m_rIn.peek();
    }
    // While fast, digits holds every significant digit and the value is
    // digits * 10^(exponent - fraction).
    bool mantissa = false, point = false;
    bool fast = kFastNumbers;
    uint64_t digits = 0;
    int significant = 0, fraction = 0;
    for (;; c = m_rIn.peek()) {
      if (isDigit(c)) {
        mantissa = true;
        if (digits != 0 || c != '0') {
          if (++significant > kFastDigits) fast = false;
          digits = digits * 10 + static_cast<uint64_t>(c - '0');
        }
        if (point && fraction < kExactPowers) ++fraction;
        if (point && fraction >= kExactPowers) fast = false;
      } else if (c == '.' && !point) {
        point = true;
      } else {
        break;
      }
      m_rIn.advance();
    }
    if (!mantissa) {
      m_rIn.setPos(start);
      return false;
    }
    int exponent = 0;
    if (c == 'e' || c == 'E') {
      m_rIn.advance();
      c = m_rIn.peek();
      bool negativeExponent = false;
      if (c == '+' || c == '-') {
        negativeExponent = c == '-';
        m_rIn.advance();
        c = m_rIn.peek();
      }
      if (!isDigit(c)) {  // "1e" is no number at all
        m_rIn.setPos(start);
        return false;
      }
      for (; isDigit(c); c = m_rIn.peek()) {
        if (exponent < kExactPowers) exponent = exponent * 10 + (c - '0');
        m_rIn.advance();
      }
      if (exponent >= kExactPowers) fast = false;
      if (negativeExponent) exponent = -exponent;
    }
    const int scale = exponent - fraction;
    if (fast && scale > -kExactPowers && scale < kExactPowers) {
      // Both operands are exact, so the one rounding of the product or
      // quotient gives the correctly rounded value, as the library
      // conversion does.
      long double v = static_cast<long double>(digits);
      if (scale > 0) v *= kPow10[scale];
      if (scale < 0) v /= kPow10[-scale];
      result = negative ? -v : v;
      return true;
    }
    const std::size_t length = m_rIn.pos() - start;
    std::string text(m_rIn.at(start), length);
    char* end = nullptr;
    long double v = strtold_l(text.c_str(), &end, cLocale());
    if (end != text.c_str() + length || std::isinf(v)) {
      m_rIn.setPos(start);
      return false;
    }
    result = v;
    return true;
  }

  bool parseBool(bool& result) {
    if (match("true")) {
      result = true;
      return true;
    }
    if (match("false")) {
      result = false;
      return true;
    }
    return false;
  }

  bool parseNull() {
    if (match("null")) return true;
    // Leniency: an empty value before a comma is null; the comma stays.
    return m_rIn.peek() == ',';
  }

  // An unquoted name up to a ':' (left unread). Not used by the object
  // reader: keys must be quoted.
  bool parseIdentifier(std::string& value) {
    m_rIn.skipSpace();
    bool first = true;
    for (;;) {
      int c = m_rIn.peek();
      if (c == kEnd) return false;
      if (c == ':') return true;
      if (first && !(isAsciiLetter(c) || c == '_' || c == '$')) return false;
      first = false;
      m_rIn.advance();
      if (isAsciiLetter(c) || isDigit(c) || c == '_' || c == '$') {
        value += static_cast<char>(c);
      } else if (c == ' ' || c == '\t') {
        m_rIn.skipSpace();
      }
      // Any other byte is passed over.
    }
  }

  // Tried in this order: string, number, boolean, null, array, object. The
  // value's tag changes only on success.
  // A number is given its node by lender when there is one.
  bool parseValue(Value& value, ValueList* lender = nullptr) {
    value.reset();
    m_rIn.skipSpace();
    const int first = m_rIn.peek();
    // Only a quote or a comment in front lets the string rule read more than
    // the whitespace.
    if (first == '"' || first == '\'' || first == '/') {
      String s;
      if (parseString(s)) {
        detail::Access::adoptString(value, new String(std::move(s)));
        return true;
      }
    }
    // The string rule consumed the whitespace and comments in front, so the
    // next byte tells which of the other rules can succeed: each of them
    // fails without reading anything when its first byte does not match.
    switch (m_rIn.peek()) {
      case '[': {
        std::unique_ptr<Array> a(new Array);
        if (parseEmptyArray(*a)) {
          detail::Access::adoptArray(value, a.release());
          return true;
        }
        // A failed array is not rewound: the object rule is tried where it
        // stopped.
        if (m_bTooDeep) return false;
        return parseObjectValue(value);
      }
      case '{':
        return parseObjectValue(value);
      case 't':
      case 'f': {
        bool b;
        if (!parseBool(b)) return false;
        detail::Access::setBoolean(value, b);
        return true;
      }
      case 'n':
      case ',':
        if (!parseNull()) return false;
        detail::Access::setNull(value);
        return true;
      default: {
        Number n;
        if (!parseNumber(n)) return false;
        if (lender != nullptr) {
          detail::Access::setLentNumber(value, *lender, n);
        } else {
          detail::Access::setNumber(value, n);
        }
        return true;
      }
    }
  }

  bool parseObjectValue(Value& value) {
    std::unique_ptr<Object> o(new Object);
    if (!parseEmptyObject(*o)) return false;
    detail::Access::adoptObject(value, o.release());
    return true;
  }

  bool parseArray(Array& array) {
    array.reset();
    return parseEmptyArray(array);
  }

  bool parseObject(Object& object) {
    object.reset();
    return parseEmptyObject(object);
  }

 private:
  // REQUIRES: the container holds nothing (a fresh one needs no reset).
  bool parseEmptyArray(Array& array) {
    if (!match('[')) return false;
    if (!enter()) return false;
    bool ok = arrayBody(array);
    --m_nDepth;
    return ok;
  }

  bool parseEmptyObject(Object& object) {
    if (!match('{')) return false;
    if (!enter()) return false;
    bool ok = objectBody(object);
    --m_nDepth;
    return ok;
  }

  bool enter() {
    if (m_bTooDeep || m_nDepth >= kMaxNestingDepth) {
      m_bTooDeep = true;
      return false;
    }
    ++m_nDepth;
    return true;
  }

  // After the '['. Each element is read in place at the end of the list.
  bool arrayBody(Array& array) {
    if (match(']')) return true;
    ValueList& values = detail::Access::values(array);
    do {
      Value& element = detail::Access::emplaceBack(values);
      // The numbers of a long list share the list's nodes; a short one
      // gives each its own, which costs less for a handful.
      ValueList* lender = values.size() > kOwnNumberNodes ? &values : nullptr;
      // Leniency: an element that cannot be read ends the list; a missing
      // last element (a trailing comma) still closes with ']'.
      if (!parseValue(element, lender)) {
        detail::Access::popBack(values);
        break;
      }
    } while (match(','));
    if (m_bTooDeep) return false;
    return match(']');
  }

  // After the '{'. Members are appended as they come and put in key order
  // once the object ends, however it ends.
  bool objectBody(Object& object) {
    if (match('}')) return true;
    MemberList& members = detail::Access::members(object);
    bool ok = objectMembers(members);
    detail::Access::normalize(members);
    return ok;
  }

  bool objectMembers(MemberList& members) {
    do {
      std::string key;
      if (!parseString(key)) {
        // Leniency: a trailing comma before '}'.
        if (m_rIn.peek() == '}') break;
        return false;  // keys must be quoted
      }
      if (!match(':')) return false;
      Value value;
      // Leniency: a member whose value cannot be read is dropped and ends the
      // list; nothing but whitespace before '}' still closes the object.
      if (!parseValue(value)) break;
      // A key given twice takes the later value.
      detail::Access::appendMember(members, std::move(key), std::move(value));
    } while (match(','));
    if (m_bTooDeep) return false;
    return match('}');
  }

  Cursor& m_rIn;
  unsigned int m_nDepth = 0;
  bool m_bTooDeep = false;
};

// Runs one rule on a stream; the stream must be usable to begin with.
template <typename Rule>
bool onStream(std::istream& input, Rule rule) {
  std::istream::sentry ok(input, true);
  if (!ok) return false;
  StreamCursor cursor(input);
  Reader<StreamCursor> reader(cursor);
  bool result = rule(reader) && !reader.tooDeep();
  cursor.finish();
  return result;
}

template <typename Rule>
bool onText(const std::string& text, Rule rule) {
  TextCursor cursor(text.data(), text.size());
  Reader<TextCursor> reader(cursor);
  return rule(reader) && !reader.tooDeep();
}

}  // namespace

// ----------------------------------------------------------------------
// Entry points
//
// The target is emptied first, also when the stream is unusable: a failed
// read never leaves the content of an earlier message behind.

bool Value::parse(std::istream& input, Value& value) {
  value.reset();
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseValue(value); });
}
// The string entry points read into a fresh container and take its content
// over afterwards: the text may belong to the target itself (a member's
// string), which resetting the target first would destroy.
bool Value::parse(const std::string& text) {
  Value fresh;
  bool ok = onText(text, [&](Reader<TextCursor>& r) { return r.parseValue(fresh); });
  if (ok) {
    *this = std::move(fresh);
  } else {
    reset();  // keeps the tag, as a failed read does
  }
  return ok;
}

bool Array::parse(std::istream& input, Array& array) {
  array.reset();
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseArray(array); });
}
bool Array::parse(const std::string& text) {
  Array fresh;
  bool ok = onText(text, [&](Reader<TextCursor>& r) { return r.parseArray(fresh); });
  m_oValues.takeOver(fresh.m_oValues);
  return ok;
}

bool Object::parse(std::istream& input, Object& object) {
  object.reset();  // the pending key stays
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseObject(object); });
}
bool Object::parse(const std::string& text) {
  Object fresh;
  bool ok = onText(text, [&](Reader<TextCursor>& r) { return r.parseObject(fresh); });
  m_oMap.swap(fresh.m_oMap);  // the pending key stays
  return ok;
}

// Building blocks on a stream.

bool match(const char* pattern, std::istream& input) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.match(pattern); });
}
bool parse_comment(std::istream& input) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseComment(); });
}
bool parse_string(std::istream& input, std::string& value) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseString(value); });
}
bool parse_number(std::istream& input, long double& value) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseNumber(value); });
}
bool parse_bool(std::istream& input, bool& value) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseBool(value); });
}
bool parse_null(std::istream& input) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseNull(); });
}
bool parse_identifier(std::istream& input, std::string& value) {
  return onStream(input, [&](Reader<StreamCursor>& r) { return r.parseIdentifier(value); });
}
bool parse_array(std::istream& input, Array& array) { return Array::parse(input, array); }
bool parse_object(std::istream& input, Object& object) { return Object::parse(input, object); }
bool parse_value(std::istream& input, Value& value) { return Value::parse(input, value); }

}  // namespace zrjson
