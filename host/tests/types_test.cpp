// Small host types: errors, smart pointer, exception, conversions, files,
// locations, the clock seam and the identity and password services.
#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "host/CNqError.h"
#include "host/CNqFile.h"
#include "host/NqSleep.h"
#include "host/SP.h"
#include "host/ZRClient.h"
#include "host/ZrClock.h"
#include "host/ZrException.h"
#include "host/ZrPaths.h"
#include "host/zrcast.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"

namespace {

TEST(CNqError, IsErrorFollowsTheSignBit) {
  struct Row {
    int32_t code;
    bool error;
  } rows[] = {{0, false}, {1, false}, {INT32_MAX, false}, {-1, true}, {INT32_MIN, true}};
  for (const Row& r : rows) EXPECT_EQ(r.error, CNqError(r.code, "x").IsError()) << r.code;
  EXPECT_FALSE(CNqError().IsError());
  EXPECT_FALSE(CNqError::Success().IsError());
  EXPECT_EQ(nullptr, CNqError::Success().GetDetail());
  EXPECT_EQ("", CNqError::Success().AsString());
}

TEST(CNqError, AssignmentSharesTheDetail) {
  CNqError a(-5, "disk full");
  CNqError b;
  b = a;
  EXPECT_EQ(-5, b.GetCode());
  EXPECT_EQ(a.GetDetail(), b.GetDetail());
  EXPECT_EQ("disk full", b.AsString());
  CNqError c(a);
  EXPECT_EQ(a.GetDetail(), c.GetDetail());
}

TEST(CNqError, FromErrnoNamesContextAndCause) {
  CNqError e = CNqError::FromErrno(ENOENT, "open /x");
  EXPECT_TRUE(e.IsError());
  EXPECT_EQ(-ENOENT, e.GetCode());
  EXPECT_EQ(0u, e.AsString().find("open /x: "));
  EXPECT_NE(std::string::npos, e.AsString().find("No such file"));
  EXPECT_EQ(ENOENT, e.GetDetail()->sysError);
  EXPECT_TRUE(CNqError::FromErrno(0, "x").IsError());
}

TEST(zrcast, Conversions) {
  EXPECT_EQ(1u, zrcast::u<long>((1L << 32) + 1));
  EXPECT_EQ(0xFFFFFFFFu, zrcast::u<long>(-1L));
  EXPECT_EQ(0xFFFFFFFFull, zrcast::lu<unsigned int>(0xFFFFFFFFu));
  EXPECT_EQ(416ull, zrcast::lu<unsigned int>(416u));
  EXPECT_EQ(-7LL, zrcast::lld<long>(-7L));
  EXPECT_EQ(1234567890123ull, _strtoui64("1234567890123", nullptr, 10));
  char* end = nullptr;
  EXPECT_EQ(0x1A0ull, _strtoui64("1A0x", &end, 16));
  EXPECT_STREQ("x", end);
  EXPECT_EQ(static_cast<uint32_t>((uintptr_t)pthread_self() & 0xffffffffu), GetCurrentThreadId());
}

struct Counted : SPEnabled {
  explicit Counted(int* deaths) : deaths(deaths) {}
  ~Counted() override { ++*deaths; }
  int* deaths;
  int value = 7;
};

TEST(SP, HoldsSharesAndReleases) {
  int deaths = 0;
  {
    SP<Counted> a;
    EXPECT_EQ(nullptr, a.get());
    Counted* raw = new Counted(&deaths);
    a = raw;
    EXPECT_EQ(raw, static_cast<Counted*>(a));
    EXPECT_EQ(7, a->value);
    EXPECT_EQ(1, raw->spRefCount());
    {
      SP<Counted> b(a);
      EXPECT_EQ(2, raw->spRefCount());
    }
    EXPECT_EQ(1, raw->spRefCount());
    a = raw;  // self-assignment keeps it alive
    EXPECT_EQ(0, deaths);
    a = new Counted(&deaths);
    EXPECT_EQ(1, deaths);
  }
  EXPECT_EQ(2, deaths);
}

TEST(ZrException, CarriesWhereAndWhat) {
  try {
    throw ZrException("ZRHDSCLIUtils::DoSCSIInquiry", "send failed", "HDSCLIUtils", 399, -1);
  } catch (const ZrException& e) {
    EXPECT_STREQ("send failed", e.getMessage());
    EXPECT_STREQ("send failed", e.what());
    EXPECT_EQ("HDSCLIUtils", e.getFile());
    EXPECT_EQ(399, e.getLine());
    EXPECT_EQ(-1, e.getCode());
    EXPECT_EQ("ZRHDSCLIUtils::DoSCSIInquiry", e.getFunction());
  }
  try {
    ZR_THROW("f", "m", 3);
  } catch (const ZrException& e) {
    EXPECT_NE(std::string::npos, e.getFile().find("types_test.cpp"));
    EXPECT_GT(e.getLine(), 0);
  }
}

TEST(CNqFile, WriteReadStatAndErrors) {
  ScopedTempDir dir;
  const std::string path = dir.file("horcm3532.conf");
  EXPECT_TRUE(CNqFile::Stat(path.c_str()).IsError());
  {
    CNqFile f;
    ASSERT_FALSE(f.Open(path.c_str(), 0x241, 0777).IsError());  // write-only, create, truncate
    size_t written = 0;
    std::string content(100000, 'h');
    content.append("\0tail", 5);
    EXPECT_FALSE(f.Write(content.data(), content.size(), &written).IsError());
    EXPECT_EQ(content.size(), written);
    EXPECT_FALSE(f.Flush().IsError());
    EXPECT_FALSE(f.Close().IsError());
    EXPECT_FALSE(f.IsOpen());
  }
  struct stat st;
  ASSERT_FALSE(CNqFile::Stat(path.c_str(), &st).IsError());
  EXPECT_EQ(100000 + 5, st.st_size);
  char* buffer = nullptr;
  size_t length = 0;
  ASSERT_FALSE(CNqFile::ReadWholeFile(path.c_str(), &buffer, &length).IsError());
  EXPECT_EQ(100005u, length);
  EXPECT_EQ('\0', buffer[length]);
  EXPECT_EQ(0, std::memcmp(buffer + 100001, "tail", 4));
  delete[] buffer;

  CNqFile exclusive;
  CNqError e = exclusive.Open(path.c_str(), 0xc1, 0777);  // create, exclusive: the file exists
  EXPECT_TRUE(e.IsError());
  EXPECT_NE(std::string::npos, e.AsString().find(path));
  EXPECT_TRUE(CNqFile::ReadWholeFile(dir.file("missing").c_str(), &buffer, &length).IsError());
  EXPECT_EQ(nullptr, buffer);
  EXPECT_EQ(0u, length);
  CNqFile closed;
  EXPECT_TRUE(closed.Write("x", 1, nullptr).IsError());
  EXPECT_TRUE(closed.Flush().IsError());
  EXPECT_FALSE(closed.Close().IsError());
}

TEST(ZrPaths, DefaultsAndOverrides) {
  ScopedTempDir dir;
  const char* vars[] = {"ZRHOST_SETTINGS_FILE", "ZRHOST_LOCK_DIR",      "ZRHOST_LOG_DIR",
                        "ZRHOST_TEMP_DIR",      "ZRHOST_HORCM_ETC_DIR", "ZRHOST_CCI_DIR",
                        "ZRHOST_INTENT_DIR"};
  for (const char* v : vars) dir.setEnv(v, "");
  EXPECT_EQ("/etc/zrhost/settings.ini", ZrPaths::settingsFile());
  EXPECT_EQ("/var/lock/zrhost", ZrPaths::lockDir());
  EXPECT_EQ("/var/log/zrhost", ZrPaths::logDir());
  EXPECT_EQ("/tmp", ZrPaths::tempDir());
  EXPECT_EQ("/etc/", ZrPaths::horcmEtcDir());
  EXPECT_EQ("/HORCM/usr/bin/", ZrPaths::cciDir());
  EXPECT_EQ("/var/lib/zrhost/intent", ZrPaths::intentDir());
  dir.setEnv("ZRHOST_HORCM_ETC_DIR", "/x/etc");
  dir.setEnv("ZRHOST_CCI_DIR", "/x/bin/");
  dir.setEnv("ZRHOST_TEMP_DIR", "/x/tmp");
  EXPECT_EQ("/x/etc/", ZrPaths::horcmEtcDir());
  EXPECT_EQ("/x/bin/", ZrPaths::cciDir());
  EXPECT_EQ("/x/tmp", ZrPaths::tempDir());
}

TEST(ScopedTempDir, PointsEveryLocationInsideAndCleansUp) {
  std::string path;
  {
    ScopedTempDir dir;
    path = dir.path();
    EXPECT_EQ(path + "/settings.ini", ZrPaths::settingsFile());
    EXPECT_EQ(path + "/locks", ZrPaths::lockDir());
    EXPECT_EQ(path + "/logs", ZrPaths::logDir());
    EXPECT_EQ(path + "/tmp", ZrPaths::tempDir());
    EXPECT_EQ(path + "/etc/", ZrPaths::horcmEtcDir());
    EXPECT_EQ(path + "/cci/", ZrPaths::cciDir());
    EXPECT_EQ(path + "/intent", ZrPaths::intentDir());
    EXPECT_TRUE(zrWriteFile(dir.file("a"), "content"));
    EXPECT_EQ("content", zrReadFile(dir.file("a")));
  }
  struct stat st;
  EXPECT_NE(0, ::stat(path.c_str(), &st));
  EXPECT_NE(path + "/locks", ZrPaths::lockDir());
}

TEST(HostServices, TempDirectoryHostNameAndPassword) {
  ScopedTempDir dir;
  dir.setEnv("ZRHOST_TEMP_DIR", dir.path() + "/fresh");
  const char* tmp = ZRPI_Base::getWrenlyTempDirectory();
  ASSERT_NE(nullptr, tmp);
  EXPECT_EQ(dir.path() + "/fresh", std::string(tmp));
  struct stat st;
  EXPECT_EQ(0, ::stat(tmp, &st));
  zrWriteFile(dir.file("notadir"), "x");
  dir.setEnv("ZRHOST_TEMP_DIR", dir.file("notadir"));
  EXPECT_EQ(nullptr, ZRPI_Base::getWrenlyTempDirectory());

  ZRClient client("client", false, 0);
  std::string host;
  EXPECT_NE(0, client.getNetworkHostname(host, nullptr));
  EXPECT_FALSE(host.empty());

  char out[16] = "untouched";
  int length = sizeof(out);
  EXPECT_EQ(0, ZRPassword::decrypt("cipher", out, &length));
  EXPECT_STREQ("untouched", out);
}

TEST(ZrClock, FakeClockInstalledForAScope) {
  ZrClock& real = ZrClock::get();
  {
    ZrFakeClock fake(1000);
    ZrScopedClock guard(&fake);
    EXPECT_EQ(&fake, &ZrClock::get());
    EXPECT_EQ(1000, ZrClock::get().nowSeconds());
    NQSLEEP_InTeRnAl(2500, __FILE__, __LINE__);
    NQSLEEP(500);
    EXPECT_EQ(3000, fake.totalSleptMillis());
    EXPECT_EQ(1003, fake.nowSeconds());
    EXPECT_EQ(3000, fake.monotonicMillis());
    fake.advanceMillis(1000);
    EXPECT_EQ(3000, fake.totalSleptMillis());
    EXPECT_EQ(4000, fake.monotonicMillis());
    EXPECT_EQ(2, fake.sleepCalls());
    {
      ZrFakeClock inner(5);
      ZrScopedClock innerGuard(&inner);
      EXPECT_EQ(5, ZrClock::get().nowSeconds());
    }
    EXPECT_EQ(&fake, &ZrClock::get());
  }
  EXPECT_EQ(&real, &ZrClock::get());
  int64_t a = real.monotonicMillis();
  real.sleepMillis(5);
  EXPECT_GE(real.monotonicMillis() - a, 5);
  EXPECT_NEAR(static_cast<double>(time(nullptr)), static_cast<double>(real.nowSeconds()), 2.0);
}

}  // namespace
