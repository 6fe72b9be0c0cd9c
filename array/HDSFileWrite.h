// Writing whole files of the CCI implementer (HORCM instance files, command
// scripts, kept command output) through descriptors the caller opened with
// its own flags and modes (without following links, exclusively or not).
#ifndef ZR_ARRAY_HDSFILEWRITE_H
#define ZR_ARRAY_HDSFILEWRITE_H

#include <string>

namespace HDSFile {

// Writes all of data to fd, again after EINTR; false with why on an error or
// a short write. Leaves fd open.
bool writeAll(int fd, const std::string& data, std::string& why);

// writeAll, then closes fd on every path. A failed close fails a complete
// write (the data may not have reached the file); why then holds its cause.
bool writeAndClose(int fd, const std::string& data, std::string& why);

}  // namespace HDSFile

#endif  // ZR_ARRAY_HDSFILEWRITE_H
