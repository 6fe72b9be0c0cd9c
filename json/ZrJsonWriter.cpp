// zrjson writers: the pretty wire form (json()) and the compact stream form.
#include <charconv>
#include <cmath>
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
