// The README's settings reference and the code name the same keys: every
// settings key a source file of the plug-in names is in the table, and every
// key of the table is named by some source file.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string kRoot = std::string(ZRTESTHOST_SOURCE_DIR) + "/..";

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Settings keys named in the plug-in's sources (tests excluded: they name
// per-array keys of their own serials).
void scan(const std::string& dir, std::set<std::string>& keys) {
  static const std::regex key("\"([ns]ZRHDS[A-Za-z0-9_]*|SNAP_HDS_[A-Z_]+|ZR_HDS_VENDOR_NAME)\"");
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name == "tests") continue;
    const std::string path = dir + "/" + name;
    if (e->d_type == DT_DIR) {
      scan(path, keys);
      continue;
    }
    if (name.size() < 3 ||
        (name.substr(name.size() - 4) != ".cpp" && name.substr(name.size() - 2) != ".h"))
      continue;
    const std::string text = readAll(path);
    for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it)
      keys.insert((*it)[1]);
  }
  ::closedir(d);
}

std::set<std::string> tableKeys(const std::string& readme) {
  std::set<std::string> keys;
  const size_t start = readme.find("## Settings reference");
  if (start == std::string::npos) return keys;
  const size_t end = readme.find("\n## ", start + 1);
  std::istringstream lines(readme.substr(start, end - start));
  static const std::regex row("^\\| `([A-Za-z0-9_]+)` \\| (~?Tessavon) \\| ");
  std::string line;
  std::smatch m;
  while (std::getline(lines, line))
    if (std::regex_search(line, m, row)) keys.insert(m[1]);
  return keys;
}

TEST(SettingsReferenceTest, TableAndCodeNameTheSameKeys) {
  std::set<std::string> code;
  for (const char* dir :
       {"util", "array", "handler", "container", "plugin", "remote", "json", "records", "host"})
    scan(kRoot + "/" + dir, code);
  const std::set<std::string> table = tableKeys(readAll(kRoot + "/README.md"));
  ASSERT_GT(code.size(), 20u) << "the scan found too few keys to be looking at the sources";
  ASSERT_FALSE(table.empty()) << "no settings table in README.md";
  for (const std::string& k : code) EXPECT_EQ(1u, table.count(k)) << k << " is not in the README";
  for (const std::string& k : table) EXPECT_EQ(1u, code.count(k)) << k << " is read by no code";
}

}  // namespace
