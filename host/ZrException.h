#pragma once
// The host's exception type: where it was raised (function, source file name
// and line), a message and a code.
#include <exception>
#include <string>

class ZrException : public std::exception {
 public:
  ZrException(const std::string& function, const std::string& message, const std::string& file,
              int line, int code)
      : m_function(function), m_message(message), m_file(file), m_line(line), m_code(code) {}

  const char* getMessage() const { return m_message.c_str(); }
  const std::string& getFunction() const { return m_function; }
  const std::string& getFile() const { return m_file; }
  int getLine() const { return m_line; }
  int getCode() const { return m_code; }
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_function;
  std::string m_message;
  std::string m_file;
  int m_line;
  int m_code;
};

#define ZR_THROW(function, message, code) \
  throw ZrException((function), (message), __FILE__, __LINE__, (code))
