// zrjson writers: the pretty wire form (json()) and the compact stream form.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>

#include "json/ZrJsonInternal.h"
#include "json/zrjson.h"

namespace zrjson {
namespace {

// Escaping table: entry b is the text written for byte b. Built once (the
// function-local static is initialised exactly once even under concurrent
// first use) and read-only afterwards. Always indexed by unsigned char.
struct EscapeTable {
  std::string entry[256];
  bool plain[256];

  EscapeTable() {
    for (int b = 0; b < 256; ++b) entry[b] = std::string(1, static_cast<char>(b));
    static const char kHex[] = "0123456789abcdef";
    for (int b = 0; b < 0x20; ++b) {
      entry[b] = "\\u00";
      entry[b] += kHex[b >> 4];
      entry[b] += kHex[b & 0xF];
    }
    entry[0x08] = "\\b";
    entry[0x09] = "\\t";
    entry[0x0A] = "\\n";
    entry[0x0C] = "\\f";
    entry[0x0D] = "\\r";
    entry[0x22] = "\\\"";
    entry[0x2F] = "\\/";
    entry[0x5C] = "\\\\";
    for (int b = 0; b < 256; ++b) plain[b] = entry[b].size() == 1;
  }
};

const EscapeTable& escapeTable() {
  static const EscapeTable table;
  return table;
}

void appendTabs(std::string& out, unsigned int depth) { out.append(depth, '\t'); }

// The separator after the last item of a container becomes a blank: every
// item ends with ",\n", so the comma in front of the final line feed is
// replaced. A container without items ends with its bracket and is left as is.
void removeLastComma(std::string& out, std::size_t start) {
  std::size_t n = out.size();
  if (n - start > 2 && out[n - 2] == ',') out[n - 2] = ' ';
}

void appendItem(std::string& out, unsigned int depth, const std::string* name, const Value& v);

void appendArrayBody(std::string& out, std::size_t start, unsigned int depth, const Array& a) {
  out += "[\n";
  for (const Value* element : a.values()) appendItem(out, depth + 1, nullptr, *element);
  removeLastComma(out, start);
  appendTabs(out, depth);
  out += "],\n";
}

void appendObjectBody(std::string& out, std::size_t start, unsigned int depth, const Object& o) {
  out += "{\n";
  for (const auto& member : o.kv_map()) appendItem(out, depth + 1, &member.first, *member.second);
  removeLastComma(out, start);
  appendTabs(out, depth);
  out += "},\n";
}

// One item: depth TABs, "name": when named, the value, ",\n". Members are
// always written with their key, the empty key as "": so that the text reads
// back; array elements have none.
void appendItem(std::string& out, unsigned int depth, const std::string* name, const Value& v) {
  std::size_t start = out.size();
  appendTabs(out, depth);
  if (name != nullptr) {
    out += '"';
    detail::appendEscaped(out, *name);
    out += "\": ";
  }
  switch (detail::Access::type(v)) {
    case Value::NumberType:
      detail::appendNumber(out, detail::Access::number(v));
      break;
    case Value::StringType:
      if (const String* s = detail::Access::string(v)) {
        out += '"';
        detail::appendEscaped(out, *s);
        out += '"';
      } else {
        out += "null";  // hollow
      }
      break;
    case Value::BooleanType:
      out += detail::Access::boolean(v) ? "true" : "false";
      break;
    case Value::ArrayType:
      if (const Array* a = detail::Access::array(v)) {
        appendArrayBody(out, start, depth, *a);
        return;
      }
      out += "null";
      break;
    case Value::ObjectType:
      if (const Object* o = detail::Access::object(v)) {
        appendObjectBody(out, start, depth, *o);
        return;
      }
      out += "null";
      break;
    default:  // null, invalid
      out += "null";
      break;
  }
  out += ",\n";
}

// The largest text of 16 significant digits that still reads back as a
// finite number: the format of LDBL_MAX rounds up past it, so a value whose
// own text would overflow is written as this instead (truncated, not
// rounded), keeping every written number readable.
const std::string& largestNumberText() {
  static const std::string text = [] {
    char buf[64];
    std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, std::numeric_limits<long double>::max(),
                      std::chars_format::scientific, 30);
    // d.ddd...e+XXXX: keep 1 + 15 fraction digits, drop trailing zeros.
    std::string s(buf, r.ptr);
    std::size_t e = s.find('e');
    std::string mantissa = s.substr(0, 17);
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    return mantissa + s.substr(e);
  }();
  return text;
}

// ---- Numbers with a fraction, or too large for the integer form ----------
//
// The text of %.16Lg (16 significant digits, rounded to nearest with ties
// to even, the shorter of the fixed and exponent forms as %g chooses, no
// trailing zeros), made with integer arithmetic on the exact binary value
// for magnitudes from 1e-19 to below 2^127; anything else goes to the
// library's formatter. The digits are exact, so the text is the same byte
// for byte.

using u128 = unsigned __int128;

constexpr int kDigits = 16;
constexpr uint64_t kLowest16 = 1000000000000000ULL;   // 10^15
constexpr uint64_t kAbove16 = 10000000000000000ULL;   // 10^16

// 10^0 to 10^38, all below 2^128.
struct Powers {
  u128 p[39];
  Powers() {
    p[0] = 1;
    for (int i = 1; i < 39; ++i) p[i] = p[i - 1] * 10;
  }
};

u128 pow10(int e) {
  static const Powers powers;
  return powers.p[e];
}

// Where the dropped part of a value stood against one half of the last kept
// digit.
enum class Rest { kZero, kBelowHalf, kHalf, kAboveHalf };

// floor(m * 2^q / 10^k) with where the rest stands, for m < 2^64 and a
// result below 2^64; false when the arithmetic would not fit.
bool scaledDigits(uint64_t m, int q, int k, uint64_t& digits, Rest& rest) {
  if (k <= 0) {
    // m * 10^-k as a 192-bit number (top * 2^64 + bottom), shifted right
    // by s = -q.
    const int j = -k;
    if (j > 34 || q >= 0) return false;
    const int s = -q;
    if (s >= 192 || s < 1) return false;
    const u128 p = pow10(j);
    const u128 lo = static_cast<u128>(m) * static_cast<uint64_t>(p);
    const u128 hi = static_cast<u128>(m) * static_cast<uint64_t>(p >> 64);
    const uint64_t bottom = static_cast<uint64_t>(lo);
    const u128 top = hi + (lo >> 64);  // below 2^128: m < 2^64, p < 2^113
    u128 quotient;
    bool halfBit, lowerBits;
    if (s >= 64) {
      const int t = s - 64;  // shift of top
      if (t >= 128) return false;
      quotient = t == 0 ? top : top >> t;
      halfBit = t == 0 ? (bottom >> 63) != 0 : ((top >> (t - 1)) & 1) != 0;
      const u128 below = t <= 1 ? 0 : (top & ((static_cast<u128>(1) << (t - 1)) - 1));
      lowerBits = t == 0 ? (bottom & ~(1ULL << 63)) != 0 : (below != 0 || bottom != 0);
    } else {
      quotient = (top << (64 - s)) | (bottom >> s);
      if ((top >> s) >> (128 - 64) != 0) return false;  // would not fit in 128 bits
      halfBit = ((bottom >> (s - 1)) & 1) != 0;
      lowerBits = s >= 2 && (bottom & ((1ULL << (s - 1)) - 1)) != 0;
    }
    if (quotient >> 64 != 0) return false;
    digits = static_cast<uint64_t>(quotient);
    rest = halfBit ? (lowerBits ? Rest::kAboveHalf : Rest::kHalf)
                   : (lowerBits ? Rest::kBelowHalf : Rest::kZero);
    return true;
  }
  if (k > 38) return false;
  u128 value, divisor = pow10(k);
  if (q >= 0) {
    if (q > 63) return false;
    value = static_cast<u128>(m) << q;
  } else {
    if (-q > 63) return false;
    value = m;
    divisor <<= -q;
  }
  const u128 quotient = value / divisor;
  const u128 remainder = value % divisor;
  if (quotient >> 64 != 0) return false;
  digits = static_cast<uint64_t>(quotient);
  const u128 twice = remainder * 2;  // divisor is even: no overflow below 2^127
  rest = remainder == 0      ? Rest::kZero
         : twice < divisor  ? Rest::kBelowHalf
         : twice == divisor ? Rest::kHalf
                            : Rest::kAboveHalf;
  return true;
}

// The 16 digits and the decimal exponent of m * 2^q (2^63 <= m < 2^64).
bool sixteenDigits(uint64_t m, int q, uint64_t& digits, int& exponent) {
  // The lower of the two decimal exponents |n| may have (78913 / 2^18
  // stands for log10(2)); 16 or 17 digits come out.
  int e = ((63 + q) * 78913) >> 18;
  Rest rest;
  if (!scaledDigits(m, q, e - (kDigits - 1), digits, rest)) return false;
  if (digits >= kAbove16) {
    // One digit too many: it joins the rest.
    const int dropped = static_cast<int>(digits % 10);
    digits /= 10;
    ++e;
    rest = dropped > 5   ? Rest::kAboveHalf
           : dropped == 5 ? (rest == Rest::kZero ? Rest::kHalf : Rest::kAboveHalf)
           : dropped == 0 && rest == Rest::kZero ? Rest::kZero
                                                 : Rest::kBelowHalf;
  }
  if (digits < kLowest16) return false;  // the estimate was not the lower one
  if (rest == Rest::kAboveHalf || (rest == Rest::kHalf && (digits & 1) != 0)) ++digits;
  if (digits == kAbove16) {
    digits = kLowest16;
    ++e;
  }
  exponent = e;
  return true;
}

// Writes digits (16 of them) as %g does at precision 16 with exponent e.
void appendGeneral(std::string& out, bool negative, uint64_t digits, int e) {
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char d[kDigits];
  for (int i = kDigits - 2; i >= 0; i -= 2) {
    const int pair = static_cast<int>(digits % 100);
    digits /= 100;
    d[i] = kPairs[2 * pair];
    d[i + 1] = kPairs[2 * pair + 1];
  }
  int used = kDigits;
  while (used > 1 && d[used - 1] == '0') --used;
  char buf[48];
  char* p = buf;
  if (negative) *p++ = '-';
  if (e < -4 || e >= kDigits) {
    *p++ = d[0];
    if (used > 1) {
      *p++ = '.';
      for (int i = 1; i < used; ++i) *p++ = d[i];
    }
    *p++ = 'e';
    *p++ = e < 0 ? '-' : '+';
    const int a = e < 0 ? -e : e;
    if (a >= 100) *p++ = static_cast<char>('0' + a / 100);
    *p++ = static_cast<char>('0' + a / 10 % 10);
    *p++ = static_cast<char>('0' + a % 10);
  } else if (e >= 0) {
    for (int i = 0; i <= e; ++i) *p++ = d[i];
    if (used > e + 1) {
      *p++ = '.';
      for (int i = e + 1; i < used; ++i) *p++ = d[i];
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < -e - 1; ++i) *p++ = '0';
    for (int i = 0; i < used; ++i) *p++ = d[i];
  }
  out.append(buf, static_cast<size_t>(p - buf));
}

// Numbers read from their bits (the x86 extended format: 64 mantissa bits
// with an explicit leading one): integers below 10^16 as plain digits, and
// the decimals of the range above. False for anything else (infinities,
// NaN, zero's sign, subnormals, magnitudes out of range), which the
// library's formatter writes.
bool appendFromBits(std::string& out, long double n) {
  if (std::numeric_limits<long double>::digits != 64) return false;
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &n, sizeof(bytes));
  uint64_t m;
  uint16_t se;
  std::memcpy(&m, bytes, sizeof(m));
  std::memcpy(&se, bytes + 8, sizeof(se));
  const bool negative = (se & 0x8000) != 0;
  const int biased = se & 0x7fff;
  if (biased == 0 && m == 0 && !negative) {
    out += '0';
    return true;
  }
  if (biased == 0 || biased == 0x7fff || (m >> 63) == 0) return false;
  const int q = biased - 16383 - 63;  // |n| = m * 2^q
  if (q < 0 && q > -64 && (m & ((uint64_t(1) << -q) - 1)) == 0 && (m >> -q) < kAbove16) {
    char buf[24];
    char* p = buf;
    if (negative) *p++ = '-';
    std::to_chars_result r = std::to_chars(p, buf + sizeof buf, m >> -q);
    out.append(buf, static_cast<size_t>(r.ptr - buf));
    return true;
  }
  uint64_t digits = 0;
  int e = 0;
  if (!sixteenDigits(m, q, digits, e)) return false;
  appendGeneral(out, negative, digits, e);
  return true;
}

}  // namespace

namespace detail {

void appendEscaped(std::string& out, const std::string& text) {
  const EscapeTable& table = escapeTable();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    const unsigned char* run = p;
    while (p < end && table.plain[*p]) ++p;
    out.append(reinterpret_cast<const char*>(run), p - run);
    if (p < end) {
      out += table.entry[*p];
      ++p;
    }
  }
}

void appendNumber(std::string& out, Number n) {
  if (appendFromBits(out, n)) return;
  // Integers below 10^16 are printed as plain digits by %.16Lg.
  if (n > -1e16L && n < 1e16L) {
    long long i = static_cast<long long>(n);
    if (static_cast<Number>(i) == n && !(i == 0 && std::signbit(n))) {
      char buf[24];
      std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, i);
      out.append(buf, r.ptr - buf);
      return;
    }
  }
  char buf[64];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::general, 16);
  if (std::isfinite(n) && std::fabs(n) > 1e4931L) {
    long double back = 0;
    if (std::from_chars(buf, r.ptr, back).ec == std::errc::result_out_of_range) {
      if (n < 0) out += '-';
      out += largestNumberText();
      return;
    }
  }
  out.append(buf, r.ptr - buf);
}

}  // namespace detail

std::string escape_string(const std::string& text, bool quote) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  if (quote) out += '"';
  detail::appendEscaped(out, text);
  if (quote) out += '"';
  return out;
}

std::string Array::json() const {
  std::string out;
  appendArrayBody(out, 0, 0, *this);
  removeLastComma(out, 0);
  return out;
}

std::string Object::json() const {
  std::string out;
  appendObjectBody(out, 0, 0, *this);
  removeLastComma(out, 0);
  return out;
}

// ----------------------------------------------------------------------
// Compact form

namespace {

void streamString(std::ostream& os, const std::string& s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  detail::appendEscaped(out, s);
  out += '"';
  os.write(out.data(), static_cast<std::streamsize>(out.size()));
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const Value& value) {
  switch (detail::Access::type(value)) {
    case Value::NumberType:
      os << detail::Access::number(value);
      break;
    case Value::StringType:
      if (const String* s = detail::Access::string(value)) streamString(os, *s);
      break;
    case Value::BooleanType:
      os << (detail::Access::boolean(value) ? "true" : "false");
      break;
    case Value::NullType:
      os << "null";
      break;
    case Value::ArrayType:
      if (const Array* a = detail::Access::array(value)) os << *a;
      break;
    case Value::ObjectType:
      if (const Object* o = detail::Access::object(value)) os << *o;
      break;
    default:  // invalid: nothing
      break;
  }
  return os;
}

std::ostream& operator<<(std::ostream& os, const Array& array) {
  os << '[';
  bool first = true;
  for (const Value* v : array.values()) {
    if (!first) os << ", ";
    first = false;
    os << *v;
  }
  os << ']';
  return os;
}

std::ostream& operator<<(std::ostream& os, const Object& object) {
  os << '{';
  bool first = true;
  for (const auto& member : object.kv_map()) {
    if (!first) os << ", ";
    first = false;
    streamString(os, member.first);
    os << ": " << *member.second;
  }
  os << '}';
  return os;
}

}  // namespace zrjson
