// Shell quoting of command-line values: plain values stay as they are,
// anything else becomes one /bin/sh word that carries the value byte for
// byte and runs nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "array/HDSShellQuote.h"
#include "host/ZrProcess.h"
#include "host/testing/ScopedTempDir.h"

TEST(CoreShell, QuotedForms) {
  const std::pair<std::string, std::string> rows[] = {
      {"meta_resource", "meta_resource"},
      {"CL1-A", "CL1-A"},
      {"/dev/disk/by-id/x", "/dev/disk/by-id/x"},
      {"QB_SVOL_a.b,c:d@e%f+g=h", "QB_SVOL_a.b,c:d@e%f+g=h"},
      {"", "\"\""},
      {"my group", "\"my group\""},
      {"a;b", "\"a;b\""},
      {"it's", "\"it's\""},
      {"a$b", "'a$b'"},
      {"a`b`", "'a`b`'"},
      {"a\\b", "'a\\b'"},
      {"say \"hi\"", "'say \"hi\"'"},
      {"x'$y", "'x'\\''$y'"},
      {"~root", "\"~root\""},
      {"*", "\"*\""},
  };
  for (const auto& r : rows) EXPECT_EQ(r.second, HDSShell::quote(r.first)) << r.first;
}

TEST(CoreShell, Predicates) {
  EXPECT_TRUE(HDSShell::isDecimal("0"));
  EXPECT_TRUE(HDSShell::isDecimal("3532"));
  for (const char* bad : {"", " 1", "1 ", "-1", "+1", "1a", "3532;x", "١"}) {
    EXPECT_FALSE(HDSShell::isDecimal(bad)) << bad;
  }
  EXPECT_TRUE(HDSShell::isPlain("a-b_c"));
  EXPECT_FALSE(HDSShell::isPlain(""));
  EXPECT_FALSE(HDSShell::isPlain("a b"));
  EXPECT_TRUE(HDSShell::isLineSafe("a b $ ' \" ;"));
  EXPECT_FALSE(HDSShell::isLineSafe("a\nb"));
  EXPECT_FALSE(HDSShell::isLineSafe("a\rb"));
  EXPECT_FALSE(HDSShell::isLineSafe(std::string("a\0b", 3)));
  EXPECT_FALSE(HDSShell::isLineSafe("a\x7f"));
}

// Every quoted value comes back from a real /bin/sh exactly, and the shell
// runs nothing it holds.
TEST(CoreShell, RealShellReceivesTheValueAndRunsNothing) {
  ScopedTempDir tmp;
  const std::string marker = tmp.file("marker");
  const std::string values[] = {
      "plain",
      "two words",
      "p a$s'w\"d;touch " + marker,
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "a\\b\\\\c\\",
      "'; touch " + marker + "; '",
      "\"; touch " + marker + "; \"",
      "$HOME ${HOME} $$ !! * ? [a] ~ & | < > ( ) { } #x",
      "",
  };
  for (const std::string& v : values) {
    std::string out, err;
    long rc = ZrProcess::system(("printf '%s' " + HDSShell::quote(v)).c_str(), &out, &err, 0, true);
    EXPECT_EQ(0, rc) << v;
    EXPECT_EQ(v, out) << HDSShell::quote(v);
    struct stat st;
    EXPECT_NE(0, ::stat(marker.c_str(), &st)) << v;
  }
}
