#include "host/testing/ZrReferenceSamples.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>

#include "host/testing/ScopedTempDir.h"

#ifndef ZR_TESTDATA_DIR
#define ZR_TESTDATA_DIR "testdata"
#endif

namespace {

std::vector<std::string> subdirectories(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == ".." || e->d_type != DT_DIR) continue;
    names.push_back(n);
  }
  closedir(d);
  return names;
}

// Numbered folders sort by their number, others by name.
bool sampleOrder(const std::string& a, const std::string& b) {
  bool an = !a.empty() && a.find_first_not_of("0123456789") == std::string::npos;
  bool bn = !b.empty() && b.find_first_not_of("0123456789") == std::string::npos;
  if (an && bn) return std::stoul(a) < std::stoul(b);
  return a < b;
}

ZrReferenceSample readSample(const std::string& form, const std::string& number) {
  std::string dir = zrReferenceDir() + "/" + form + "/" + number + "/";
  ZrReferenceSample s;
  s.form = form;
  s.number = number;
  s.cmd = zrReadFile(dir + "cmd");
  std::string::size_type nl = s.cmd.find('\n');
  if (nl != std::string::npos) s.cmd.erase(nl);
  s.stdoutText = zrReadFile(dir + "stdout");
  s.stderrText = zrReadFile(dir + "stderr");
  s.exitCode = std::atoi(zrReadFile(dir + "exit").c_str());
  s.source = zrReadFile(dir + "source");
  return s;
}

}  // namespace

bool ZrReferenceSample::isFixture() const {
  return cmd.find("fixture") != std::string::npos || source.find("fixture") != std::string::npos;
}

std::string zrReferenceDir() {
  const char* over = std::getenv("ZR_REFERENCE_DIR");
  if (over != nullptr && *over != '\0') return over;
  return std::string(ZR_TESTDATA_DIR) + "/cci-reference";
}

std::vector<ZrReferenceSample> zrReferenceSamples() {
  std::vector<ZrReferenceSample> all;
  std::vector<std::string> forms = subdirectories(zrReferenceDir());
  std::sort(forms.begin(), forms.end());
  for (const std::string& form : forms) {
    std::vector<std::string> numbers = subdirectories(zrReferenceDir() + "/" + form);
    std::sort(numbers.begin(), numbers.end(), sampleOrder);
    for (const std::string& n : numbers) all.push_back(readSample(form, n));
  }
  return all;
}

ZrReferenceSample zrReferenceSample(const std::string& id) {
  std::string::size_type slash = id.find('/');
  if (slash == std::string::npos) return ZrReferenceSample();
  std::string form = id.substr(0, slash);
  std::string number = id.substr(slash + 1);
  for (const std::string& n : subdirectories(zrReferenceDir() + "/" + form)) {
    if (n == number) return readSample(form, number);
  }
  return ZrReferenceSample();
}
