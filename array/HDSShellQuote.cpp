#include "array/HDSShellQuote.h"

namespace HDSShell {

bool isSafeChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
    return true;
  }
  switch (c) {
    case '_':
    case '-':
    case '.':
    case ',':
    case ':':
    case '/':
    case '@':
    case '%':
    case '+':
    case '=':
      return true;
    default:
      return false;
  }
}

bool isPlain(const std::string& value) {
  if (value.empty()) return false;
  for (char c : value) {
    if (!isSafeChar(c)) return false;
  }
  return true;
}

bool isDecimal(const std::string& value) {
  if (value.empty()) return false;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool isLineSafe(const std::string& value) {
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

std::string quote(const std::string& value) {
  if (isPlain(value)) return value;
  // Inside double quotes only " $ ` \ keep a meaning for /bin/sh.
  if (value.find_first_of("\"$`\\") == std::string::npos) {
    return "\"" + value + "\"";
  }
  std::string out;
  out.reserve(value.size() + 8);
  out += '\'';
  for (char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

}  // namespace HDSShell
