#pragma once
// The compact text of a JSON item (what operator<< writes), for the checks of
// the JSON tests and fuzz targets that compare written text.
#include <sstream>
#include <string>

namespace zrjson_test {

template <typename T>
std::string compact(const T& item) {
  std::ostringstream os;
  os << item;
  return os.str();
}

}  // namespace zrjson_test
