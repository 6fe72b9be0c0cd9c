#include "host/CNqError.h"

#include <cstring>

CNqError::CNqError(int32_t code, const std::string& text) : m_code(code) {
  m_detail.reset(new FXErrorPrivate());
  m_detail->text = text;
}

CNqError CNqError::FromErrno(int errnum, const std::string& context) {
  char buf[256];
  buf[0] = '\0';
  // GNU strerror_r may return a static string instead of filling buf.
  const char* msg = strerror_r(errnum, buf, sizeof(buf));
  CNqError e(errnum > 0 ? -errnum : -1, context + ": " + (msg != nullptr ? msg : "unknown error"));
  e.m_detail->sysError = errnum;
  return e;
}

std::string CNqError::AsString() const { return m_detail ? m_detail->text : std::string(); }
