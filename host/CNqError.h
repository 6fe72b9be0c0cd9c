#pragma once
// The host's error holder: a 32-bit code (0 success, negative an error) and a
// detail object shared by every copy. CError is the host's plain error object
// that some plug-in types embed.
#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

// Detail of one error: its readable text and the system error number behind
// it (0 when none).
struct FXErrorPrivate {
  std::string text;
  int sysError = 0;
};

class CNqError {
 public:
  CNqError() : m_code(0) {}
  CNqError(int32_t code, const std::string& text);
  CNqError(const CNqError& other) = default;

  static CNqError Success() { return CNqError(); }
  // An error for a failed system call: code -errnum (or -1), text
  // "<context>: <strerror(errnum)>".
  static CNqError FromErrno(int errnum, const std::string& context);

  // True exactly when the code is negative; a positive code is not an error.
  bool IsError() const { return (static_cast<uint32_t>(m_code) & 0x80000000u) != 0; }
  int32_t GetCode() const { return m_code; }
  // The detail text; "" when there is none.
  std::string AsString() const;
  // The shared detail object (null for success).
  const FXErrorPrivate* GetDetail() const { return m_detail.get(); }

  // Copies the code and shares the other's detail object.
  CNqError& operator=(const CNqError& other) {
    m_code = other.m_code;
    m_detail = other.m_detail;
    return *this;
  }

 private:
  int32_t m_code;
  boost::shared_ptr<FXErrorPrivate> m_detail;
};

class CError {
 public:
  CError() = default;
  ~CError() {}
};
