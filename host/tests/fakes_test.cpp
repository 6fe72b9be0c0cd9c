// The test doubles other subsystems' tests rely on: buffer discipline,
// named faults, captured logs and scripted answers.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/ZrSafeFile.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFileSyncRecorder.h"

namespace {

TEST(FakeSnapInfo, BufferGettersTerminateWithinTheGrantedLength) {
  FakeSnapInfo d;
  d.setSnapName("QB_snap_0001");
  char buf[8];
  std::memset(buf, 'x', sizeof(buf));
  short len = 5;
  ASSERT_EQ(0, d.getSnapName(buf, &len));
  EXPECT_STREQ("QB_s", buf);
  EXPECT_EQ(4, len);
  EXPECT_EQ('x', buf[5]);

  d.setMetadataText(6, "1S:410001**3L:416**");
  char meta[64];
  short mlen = sizeof(meta);
  ASSERT_EQ(0, d.getMetadata(6, meta, &mlen));
  EXPECT_STREQ("1S:410001**3L:416**", meta);
  mlen = sizeof(meta);
  ASSERT_EQ(0, d.getMetadata(65, meta, &mlen));
  EXPECT_STREQ("", meta) << "an id never stored reads as empty";

  int code = -1;
  char text[4];
  d.setErrorPair(62601, "long error text");
  d.getError(&code, text, sizeof(text));
  EXPECT_EQ(62601, code);
  EXPECT_STREQ("lon", text);
}

TEST(FakeSnapInfo, FillWholeBufferLeavesNoTerminatorWhenTheTextIsLong) {
  FakeSnapInfo d;
  d.setFillWholeBuffer(true);
  d.setArrayDetailsText("ABCDEFGH");
  char buf[9];
  std::memset(buf, 'x', sizeof(buf));
  short len = 8;
  ASSERT_EQ(0, d.getArrayDetails(buf, &len));
  EXPECT_EQ(8, len);
  EXPECT_EQ(0, std::memcmp(buf, "ABCDEFGH", 8));
  EXPECT_EQ('x', buf[8]);
  len = 8;
  d.setArrayDetailsText("ABC");
  ASSERT_EQ(0, d.getArrayDetails(buf, &len));
  EXPECT_STREQ("ABC", buf);
}

TEST(FakeSnapInfo, NamedFaultsFailAlwaysOrOnce) {
  FakeSnapInfo d;
  char buf[16];
  short len = sizeof(buf);
  d.failOnce("getMetadata");
  EXPECT_EQ(1, d.getMetadata(6, buf, &len));
  len = sizeof(buf);
  EXPECT_EQ(0, d.getMetadata(6, buf, &len));
  d.failOn("setMetadataByType");
  EXPECT_NE(0, d.setMetadataByType(60, "x"));
  EXPECT_NE(0, d.setMetadataByType(60, "x"));
  d.clearFail("setMetadataByType");
  EXPECT_EQ(0, d.setMetadataByType(60, "x"));
  EXPECT_EQ(3, d.callCount("setMetadataByType"));
  d.failOn("getDeviceDetectionInfo");
  std::string a, b;
  EXPECT_EQ(0, d.getDeviceDetectionInfo(&a, &b));
  d.failOn("getLocalOSUtil");
  ZRSO::ZROSUtil* u = nullptr;
  EXPECT_EQ(0, d.getLocalOSUtil(&u));
}

TEST(FakeSnapInfo, MetadataBlobSizingAndClearing) {
  FakeSnapInfo d;
  ASSERT_EQ(0, d.setMetadataByType(60, "{\"reply\":1}"));
  int length = 0;
  ASSERT_EQ(0, d.getMetadataBlob(60, nullptr, &length));
  EXPECT_EQ(11, length);
  std::vector<char> buf(length + 1, 0);
  ASSERT_EQ(0, d.getMetadataBlob(60, buf.data(), &length));
  EXPECT_STREQ("{\"reply\":1}", buf.data());
  ASSERT_EQ(0, d.setMetadataByType(60, nullptr));
  EXPECT_FALSE(d.hasMetadata(60));
  ASSERT_EQ(0, d.getMetadataBlob(60, nullptr, &length));
  EXPECT_EQ(0, length);
}

TEST(FakeSnapInfo, LogsMessagesErrorsAndConfiguration) {
  FakeSnapInfo d;
  const char* hostile = "%s%n";
  d.log(2, "ZRHDSLock::lock", "Mutex [%s] could not be acquired even after [%d] attempts.", hostile,
        50);
  d.message(2, "shown");
  d.setError(62008, "Failed to set HDS metadata.");
  ASSERT_EQ(1u, d.logs().size());
  EXPECT_EQ(2, d.logs()[0].level);
  EXPECT_EQ("ZRHDSLock::lock", d.logs()[0].function);
  EXPECT_EQ("Mutex [%s%n] could not be acquired even after [50] attempts.", d.logs()[0].text);
  EXPECT_TRUE(d.logged("even after [50]"));
  EXPECT_EQ(1u, d.logTexts(2).size());
  EXPECT_TRUE(d.logTexts(0).empty());
  EXPECT_EQ(62008, d.errorCode());
  EXPECT_EQ(1, d.setErrorCalls());
  ASSERT_EQ(1u, d.messages().size());

  int v = 9;
  EXPECT_NE(0, d.getSnapConfigInt(SMCONFIG_NAME_ENABLE_COMMAND_LOGGING, &v));
  EXPECT_EQ(9, v) << "the preset stays when the setting is missing";
  d.setSnapConfigIntValue(SMCONFIG_NAME_ENABLE_COMMAND_LOGGING, 1);
  EXPECT_EQ(0, d.getSnapConfigInt(SMCONFIG_NAME_ENABLE_COMMAND_LOGGING, &v));
  EXPECT_EQ(1, v);
  d.setSnapConfigText(SMCONFIG_NAME_REMOTE_SNAP_MA, "ma2");
  char buf[1024];
  int len = sizeof(buf);
  EXPECT_EQ(0, d.getSnapConfigValue(SMCONFIG_NAME_REMOTE_SNAP_MA, buf, &len));
  EXPECT_STREQ("ma2", buf);
  std::string s;
  EXPECT_EQ(0, d.getSnapConfigString(SMCONFIG_NAME_REMOTE_SNAP_MA, &s));
  EXPECT_EQ("ma2", s);

  d.setArrayInformationResult(0, 7);
  EXPECT_EQ(0, d.setArrayInformation("410002", "410001", 1));
  EXPECT_EQ(7, d.getControlHostId());
  ASSERT_EQ(1u, d.arrayInformationCalls().size());
  EXPECT_EQ("410002", d.arrayInformationCalls()[0].serial);
}

TEST(FakeOSUtil, DeviceListSizingQueueAndFaults) {
  FakeOSUtil u;
  u.setDevices({"/dev/sdb", "/dev/sdc"});
  char small[4];
  EXPECT_EQ(19, u.getDeviceList("host", "HITACHI", '*', sizeof(small), small));
  char buf[64];
  ASSERT_EQ(0, u.getDeviceList("host", "HITACHI", '*', sizeof(buf), buf));
  EXPECT_STREQ("/dev/sdb*/dev/sdc*", buf);
  u.setDeviceListText("a*");
  u.queueDeviceListText("a*b*");
  ASSERT_EQ(0, u.getDeviceList("h", "v", '*', sizeof(buf), buf));
  EXPECT_STREQ("a*", buf);
  ASSERT_EQ(0, u.getDeviceList("h", "v", '*', sizeof(buf), buf));
  EXPECT_STREQ("a*b*", buf);
  ASSERT_EQ(0, u.getDeviceList("h", "v", '*', sizeof(buf), buf));
  EXPECT_STREQ("a*b*", buf) << "the last answer stays";
  u.setDeviceListAlwaysTooSmall(true);
  EXPECT_GT(u.getDeviceList("h", "v", '*', 8192, buf), 8192);
  u.failOn("getDeviceList");
  EXPECT_LT(u.getDeviceList("h", "v", '*', sizeof(buf), buf), 0);
  EXPECT_EQ(7u, u.deviceListCalls().size());
  EXPECT_EQ("HITACHI", u.deviceListCalls()[0].vendor);
}

TEST(FakeOSUtil, InitiatorsRescansRemoteAndClones) {
  FakeOSUtil u;
  u.setHbaList({"10:00:00:00:c9:aa:bb:cc", "iqn.1994-05.com.redhat:x"}, {0, 1});
  short namesLen = 0, typesLen = 0, third = 0;
  EXPECT_TRUE(u.detectHbaList(nullptr, "", nullptr, &namesLen, nullptr, &typesLen, &third));
  EXPECT_EQ(49, namesLen);
  EXPECT_EQ(2, typesLen);
  std::vector<char> names(namesLen), types(typesLen);
  EXPECT_TRUE(
      u.detectHbaListForHost("esx1", "", names.data(), &namesLen, types.data(), &typesLen, &third));
  EXPECT_STREQ("10:00:00:00:c9:aa:bb:cc,iqn.1994-05.com.redhat:x", names.data());
  EXPECT_EQ(1, types[1]);
  EXPECT_EQ((std::vector<std::string>{"", "esx1"}), u.hbaListHosts());

  u.setHba("50:06:0e:80", false);
  char small[4];
  short len = sizeof(small);
  bool iscsi = true;
  EXPECT_FALSE(u.detectHba("esx1", "", small, &len, iscsi));
  EXPECT_EQ(12, len) << "asks for a larger buffer";
  char big[64];
  len = sizeof(big);
  EXPECT_TRUE(u.detectHba("esx1", "", big, &len, iscsi));
  EXPECT_STREQ("50:06:0e:80", big);
  EXPECT_FALSE(iscsi);

  const char* first[] = {"I1", nullptr};
  const char* second[] = {nullptr};
  EXPECT_EQ(1, u.refreshSystemBus(nullptr, first, second));
  u.failOnce("refreshSystemBus");
  EXPECT_EQ(0, u.refreshSystemBus("opt", first, second));
  EXPECT_EQ(2, u.rescanCount());
  EXPECT_FALSE(u.refreshCalls()[0].optionGiven);
  EXPECT_EQ(std::vector<std::string>{"I1"}, u.refreshCalls()[0].first);
  EXPECT_EQ("opt", u.refreshCalls()[1].option);

  EXPECT_FALSE(u.executeOnRemoteMA("ma2")) << "no handler: the remote side is unreachable";
  FakeSnapInfo sender;
  u.setRemoteHandler([&](const std::string&) { return sender.setMetadataByType(60, "{}") == 0; });
  EXPECT_TRUE(u.executeOnRemoteMA("ma2"));
  EXPECT_EQ("{}", sender.metadata(60));
  EXPECT_EQ(2u, u.remoteCalls().size());

  FakeSnapInfo a, b;
  a.setMetadataText(6, "1S:1**");
  b.setControlHostId(3);
  u.setCloneAdjuster([](FakeSnapInfo& c) { c.setControlHostId(c.getControlHostId() + 100); });
  std::vector<ZRSO::SnapInfo*> clones;
  ASSERT_EQ(1, u.cloneSnaps({&a, &b}, &clones));
  ASSERT_EQ(2u, clones.size());
  EXPECT_EQ("1S:1**", static_cast<FakeSnapInfo*>(clones[0])->metadata(6));
  EXPECT_EQ(103, clones[1]->getControlHostId());
  u.failOn("cloneSnaps");
  EXPECT_EQ(0, u.cloneSnaps({&a}, &clones));
  EXPECT_EQ(2u, u.clones().size());

  u.setPageInfoReply(0, "00E2ABCD*_ZRSO_*");
  char reply[8];
  EXPECT_EQ(0, u.getPageInfoForVMwareDevice("/vmfs/x", "uuid", "GENERIC_VPD", 0, 2, 5, '*',
                                            sizeof(reply), reply));
  EXPECT_STREQ("00E2ABC", reply);
  EXPECT_EQ("uuid", u.pageInfoCalls()[0].lunUuid);
  EXPECT_EQ(0x1F, u.getHostNumber());
}

TEST(FakeSnapInfo, LocalOSUtilFromFactory) {
  FakeSnapInfo d;
  d.setLocalOSUtilFactory([] { return new FakeOSUtil(); });
  ZRSO::ZROSUtil* u = nullptr;
  ASSERT_EQ(1, d.getLocalOSUtil(&u));
  ASSERT_NE(nullptr, u);
  delete u;  // the caller destroys the handle through the host's interface
}

TEST(ZrFileSyncRecorder, FailsFromAFlushUnderADirectoryOn) {
  ScopedTempDir dir;
  const std::string full = dir.path() + "/full", other = dir.path() + "/other";
  ASSERT_TRUE(ZrSafeFile::makeDirectories(full, 0700) && ZrSafeFile::makeDirectories(other, 0700));
  char real[4096];
  ASSERT_NE(nullptr, ::realpath(full.c_str(), real));
  ZrFileSyncRecorder recorder("");
  recorder.failFrom(3, real);  // the file's and the directory's flushes count
  ZrScopedFileSync installed(&recorder);
  std::string error;
  const ZrSafeFile::Durability durable = ZrSafeFile::Durability::kDurable;
  EXPECT_TRUE(ZrSafeFile::replaceAtomically(full + "/a", "1", 0600, &error, durable)) << error;
  EXPECT_TRUE(ZrSafeFile::replaceAtomically(other + "/b", "1", 0600, &error, durable)) << error;
  EXPECT_FALSE(ZrSafeFile::replaceAtomically(full + "/a", "2", 0600, &error, durable))
      << "the directory's flush, the fourth under it";
  EXPECT_FALSE(ZrSafeFile::replaceAtomically(full + "/c", "1", 0600, &error, durable));
  EXPECT_TRUE(ZrSafeFile::replaceAtomically(other + "/b", "2", 0600, &error, durable)) << error;
  EXPECT_EQ(9u, recorder.calls().size()) << "a failed file flush leaves no rename to flush";
}

}  // namespace
