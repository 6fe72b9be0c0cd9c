// SCSI inquiry: decoding of the standard page and page 0xE2 at their exact
// offsets, OEM vendors, VMware page texts, and the pass-through failures,
// including the real SG_IO path against a node that is not SCSI.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/ZrDeviceTree.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ZrInquiryPages.h"
#include "util/HDSCLIUtils.h"
#include "util/tests/support/HostUtilTestEnv.h"

using namespace ZRHDSCLIUtils;
using hostutil_test::Env;

namespace {

// The page builder is the oracle of every decoding test below, so its bytes
// are pinned against a hand-written layout first.
TEST(InquiryPages, StandardAndE2LayoutsAreByteExact) {
  zrinq::Page std = zrinq::standardPage("HITACHI", "OPEN-V", "50312345", "01A0");
  ASSERT_EQ(std.size(), 96u);
  EXPECT_EQ(std::string(std.begin() + 8, std.begin() + 16), "HITACHI ");
  EXPECT_EQ(std::string(std.begin() + 16, std.begin() + 32), "OPEN-V          ");
  EXPECT_EQ(std::string(std.begin() + 36, std.begin() + 44), "50312345");
  EXPECT_EQ(std::string(std.begin() + 44, std.begin() + 48), "01A0");

  zrinq::Page e2 = zrinq::pageE2("HITACHI", "50400123", "7FFF", "R9G");
  ASSERT_EQ(e2.size(), 160u);
  EXPECT_EQ(e2[1], 0xE2);
  EXPECT_EQ(std::string(e2.begin() + 40, e2.begin() + 48), "50400123");
  EXPECT_EQ(std::string(e2.begin() + 48, e2.begin() + 52), "7FFF");
  EXPECT_EQ(std::string(e2.begin() + 138, e2.begin() + 142), "R9G ");

  zrinq::Page hp = zrinq::pageE2("HPE", "50400123", "7FFF", "R800");
  EXPECT_EQ(std::string(hp.begin() + 8, hp.begin() + 16), "50400123");
  EXPECT_EQ(std::string(hp.begin() + 16, hp.begin() + 20), "7FFF");
  EXPECT_EQ(hp[40], 0);

  EXPECT_EQ(zrinq::rawSerial("R700", 62625), "50 0F4A1");
  EXPECT_EQ(zrinq::rawSerial("R800", 374565), "50312345");
  EXPECT_EQ(zrinq::rawLdev(416), "01A0");
}

struct StdRow {
  const char* name;
  std::string vendorField;  // raw 8-byte field (may hold '*' or trailing blanks)
  std::string rawSerial;
  std::string rawLdev;
  std::string vendorSetting;  // ZR_HDS_VENDOR_NAME; "" = not set
  bool hitachi;
  std::string vendor;
  std::string model;
  std::string serial;
  std::string devNo;
};

TEST(InquiryStandardPage, DecodesEverySerialFormAndVendorRule) {
  const std::vector<StdRow> rows = {
      {"r700", "HITACHI", "50 0F4A1", "01A0", "", true, "HITACHI", "R700", "62625", "416"},
      {"r800", "HITACHI", "50312345", "0001", "", true, "HITACHI", "R800", "374565", "1"},
      {"gx00", "HITACHI", "50412345", "FFFF", "", true, "HITACHI", "GX00", "474565", "65535"},
      {"r900", "HITACHI", "50512345", "0010", "", true, "HITACHI", "R900", "574565", "16"},
      {"hm70", "HITACHI", "50912345", "0010", "", true, "HITACHI", "HM70", "974565", "16"},
      {"hm70-digit2", "HITACHI", "50200001", "0010", "", true, "HITACHI", "HM70", "200001", "16"},
      {"trailing blank vendor", "HITACHI ", "50312345", "0A", "", true, "HITACHI", "R800", "374565",
       "10"},
      {"hpe oem", "HPE", "50312345", "0100", "", true, "HPE", "R800", "374565", "256"},
      {"hp oem", "HP", "50312345", "0100", "", true, "HP", "R800", "374565", "256"},
      {"hp with asterisk", "HP*", "50312345", "0100", "", true, "HP", "R800", "374565", "256"},
      {"sun oem", "SUN", "50 000FF", "0002", "", true, "SUN", "R700", "255", "2"},
      {"configured oem", "ACME", "50312345", "0002", "XYZ,ACME", true, "ACME", "R800", "374565",
       "2"},
      {"other vendor", "SEAGATE", "50312345", "01A0", "", false, "SEAGATE", "UNKNOWN", "50312345",
       "416"},
      {"other vendor with setting", "SEAGATE", "ZA1B2C3", "0003", "ACME", false, "SEAGATE",
       "UNKNOWN", "ZA1B2C3", "3"},
      // An empty vendor is never "contained" in the configured list.
      {"empty vendor with setting", "", "50312345", "0003", "HITACHI", false, "", "UNKNOWN",
       "50312345", "3"},
      // Forms too short to decode keep the raw text and "UNKNOWN".
      {"serial 50 only", "HITACHI", "50", "0001", "", true, "HITACHI", "UNKNOWN", "50", "1"},
      {"serial 50 and blank", "HITACHI", "50 ", "0001", "", true, "HITACHI", "UNKNOWN", "50", "1"},
      {"serial 503 only", "HITACHI", "503", "0001", "", true, "HITACHI", "UNKNOWN", "503", "1"},
      {"serial cut short", "HITACHI", "503123", "0001", "", true, "HITACHI", "UNKNOWN", "503123",
       "1"},
      {"serial not hex", "HITACHI", "5031234Z", "0001", "", true, "HITACHI", "UNKNOWN", "5031234Z",
       "1"},
      {"serial letter digit", "HITACHI", "50A12345", "0001", "", true, "HITACHI", "UNKNOWN",
       "50A12345", "1"},
      {"serial other prefix", "HITACHI", "41234567", "0001", "", true, "HITACHI", "UNKNOWN",
       "41234567", "1"},
      {"empty ldev", "HITACHI", "50312345", "", "", true, "HITACHI", "R800", "374565", ""},
      {"ldev not hex", "HITACHI", "50312345", "XY", "", true, "HITACHI", "R800", "374565", "XY"},
  };
  for (const StdRow& r : rows) {
    SCOPED_TRACE(r.name);
    Env env;
    if (!r.vendorSetting.empty()) env.setText("Tessavon", "ZR_HDS_VENDOR_NAME", r.vendorSetting);
    ZrFakeDeviceTree::Disk disk;
    disk.standard = zrinq::standardPage(r.vendorField, "OPEN-V", r.rawSerial, r.rawLdev);
    // An empty vendor field is zeros, as a device that reports none.
    if (r.vendorField.empty()) std::memset(disk.standard.data() + 8, 0, 8);
    env.tree.addDisk("/dev/sdq", disk);

    ZRHDSSCSIInquiryData data;
    data.baseArraySerial = "stale";
    ASSERT_EQ(HDSSCSIInquiryPageSTD("/dev/sdq", data), 1);
    EXPECT_EQ(data.isHitachi, r.hitachi);
    EXPECT_EQ(data.vendor, r.vendor);
    EXPECT_EQ(data.product, "OPEN-V");
    EXPECT_EQ(data.model, r.model);
    EXPECT_EQ(data.arraySerial, r.serial);
    EXPECT_EQ(data.devNo, r.devNo);
    EXPECT_EQ(data.baseArraySerial, "");  // the record is reset first
    EXPECT_EQ(env.tree.openDevices(), 0);
  }
}

TEST(InquiryStandardPage, SendsTheStandardCdbWithTenSecondTimeout) {
  Env env;
  zrinq::LdevIdentity id;
  id.serial = 374565;
  id.ldev = 0x1234;
  env.tree.addLdev("/dev/sdb", id);
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageSTD("/dev/sdb", data), 1);
  auto sent = env.tree.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].cdb, (std::vector<uint8_t>{0x12, 0x00, 0x00, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(sent[0].bufferLength, 4096);
  EXPECT_EQ(sent[0].timeoutSeconds, 10);
  EXPECT_NE(env.debugLog().find(
                "SCSI Inquiry on device-[/dev/sdb]yielded IsHitachi-[TRUE], Model-[R800], "
                "ArraySerial-[374565], DevNo-[4660]"),
            std::string::npos);
}

TEST(InquiryStandardPage, NonHitachiDeviceLogsNotApplicable) {
  Env env;
  env.tree.addDisk("/dev/sdc", {zrinq::standardPage("ATA", "Disk", "ABC", "0001"), {}});
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageSTD("/dev/sdc", data), 1);
  EXPECT_NE(env.debugLog().find("IsHitachi-[FALSE], Model-[NA], ArraySerial-[NA], DevNo-[NA]"),
            std::string::npos);
}

TEST(InquiryStandardPage, FailuresGiveZeroAndTheirLogLines) {
  Env env;
  ZRHDSSCSIInquiryData data;
  EXPECT_EQ(HDSSCSIInquiryPageSTD("", data), 0);
  EXPECT_EQ(data.model, "UNKNOWN");
  EXPECT_NE(env.debugLog().find("Device Name is Empty."), std::string::npos);

  EXPECT_EQ(HDSSCSIInquiryPageSTD("/dev/missing", data), 0);
  std::string log = env.debugLog();
  EXPECT_NE(
      log.find("Failed to get ZrDevice. Error:[open [/dev/missing]: No such file or directory]."),
      std::string::npos);
  EXPECT_NE(log.find("Unable to get the device details from Standard Page."), std::string::npos);

  ZrFakeDeviceTree::Disk notScsi;
  notScsi.scsi = false;
  env.tree.addDisk("/dev/tape0", notScsi);
  EXPECT_EQ(HDSSCSIInquiryPageSTD("/dev/tape0", data), 0);
  EXPECT_NE(env.debugLog().find("[/dev/tape0] is not SCSI Device"), std::string::npos);

  ZrFakeDeviceTree::Disk failing;
  failing.standard = zrinq::standardPage("HITACHI", "OPEN-V", "50312345", "0001");
  failing.failStandard = true;
  env.tree.addDisk("/dev/sdf", failing);
  EXPECT_EQ(HDSSCSIInquiryPageSTD("/dev/sdf", data), 0);
  EXPECT_NE(env.debugLog().find(
                "Failed to send SCSI Inquiry CDB, caught exception: [/dev/sdf] standard INQUIRY "
                "failed"),
            std::string::npos);
  EXPECT_EQ(env.tree.openDevices(), 0);
}

struct E2Row {
  const char* name;
  zrinq::LdevIdentity id;
  std::string model;
  std::string baseSerial;
  std::string baseDevNo;
};

zrinq::LdevIdentity ident(const char* vendor, const char* model, unsigned serial, unsigned ldev,
                          unsigned baseSerial, unsigned baseLdev, const char* code) {
  zrinq::LdevIdentity id;
  id.vendor = vendor;
  id.model = model;
  id.serial = serial;
  id.ldev = ldev;
  id.baseSerial = baseSerial;
  id.baseLdev = baseLdev;
  id.modelCode = code;
  return id;
}

TEST(InquiryPageE2, DecodesBaseSerialLdevAndModelAtVendorOffsets) {
  const std::vector<E2Row> rows = {
      {"hitachi r800", ident("HITACHI", "R800", 374565, 16, 374565, 16, "R800"), "R800", "374565",
       "16"},
      {"vsm", ident("HITACHI", "R800", 312345, 0x100, 410001, 0x2A0, "R9G"), "R9G", "410001",
       "672"},
      {"r700", ident("HITACHI", "R700", 62625, 1, 62625, 0x1F, "R700"), "R700", "62625", "31"},
      {"hp offsets", ident("HP", "R800", 374565, 5, 412345, 0x3F, "R800"), "R800", "412345", "63"},
      {"hpe offsets", ident("HPE", "R800", 374565, 5, 499999, 0xFFFE, "GX00"), "GX00", "499999",
       "65534"},
  };
  for (const E2Row& r : rows) {
    SCOPED_TRACE(r.name);
    Env env;
    env.tree.addLdev("/dev/sdx", r.id);
    FakeSnapInfo device;
    FakeOSUtil util;
    ZRHDSSCSIInquiryData data;
    ASSERT_EQ(HDSSCSIInquiryPageVPD("/dev/sdx", &device, &util, data), 1);
    EXPECT_TRUE(data.isHitachi);
    EXPECT_EQ(data.model, r.model);
    EXPECT_EQ(data.baseArraySerial, r.baseSerial);
    EXPECT_EQ(data.baseDevNo, r.baseDevNo);
    EXPECT_EQ(data.arraySerial, std::to_string(r.id.serial));
    EXPECT_EQ(data.devNo, std::to_string(r.id.ldev));
    auto sent = env.tree.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].cdb, (std::vector<uint8_t>{0x12, 0x01, 0xE2, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(sent[1].timeoutSeconds, 10);
    EXPECT_TRUE(device.logged(
        "Disk [/dev/sdx] SCSI Inquiry (Page E2) data in HEX (first 1024 bytes only)"));
    // 1024 bytes as 2048 hex digits in lines of 128.
    EXPECT_EQ(device.logTexts(0).size(), 1u + 16u);
    EXPECT_EQ(device.logTexts(0)[1].substr(0, 4), "00E2");
    EXPECT_TRUE(
        device.logged("Base ArraySerial-[" + r.baseSerial + "], Base DevNo-[" + r.baseDevNo + "]"));
  }
}

TEST(InquiryPageE2, VendorHpIsReadAtItsOffsetsNotAtTheStandardOnes) {
  Env env;
  ZrFakeDeviceTree::Disk disk;
  disk.standard = zrinq::standardPage("HP", "OPEN-V", "50312345", "0005");
  // Different text at both places: only offsets 8 and 16 may be read.
  disk.e2 = zrinq::pageE2("HP", "50412345", "0040", "R800");
  const std::string decoy = "50599999";
  std::memcpy(disk.e2.data() + 40, decoy.data(), 8);
  std::memcpy(disk.e2.data() + 48, "0999", 4);
  env.tree.addDisk("/dev/sdh", disk);
  FakeSnapInfo device;
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageVPD("/dev/sdh", &device, nullptr, data), 1);
  EXPECT_EQ(data.baseArraySerial, "474565");
  EXPECT_EQ(data.baseDevNo, "64");
}

TEST(InquiryPageE2, NonHitachiDeviceKeepsRawFields) {
  Env env;
  ZrFakeDeviceTree::Disk disk;
  disk.standard = zrinq::standardPage("ACME", "Disk", "50312345", "0005");
  disk.e2 = zrinq::pageE2("ACME", "50412345", "0040", "XX01");
  env.tree.addDisk("/dev/sdi", disk);
  FakeSnapInfo device;
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageVPD("/dev/sdi", &device, nullptr, data), 1);
  EXPECT_FALSE(data.isHitachi);
  EXPECT_EQ(data.model, "XX01");
  EXPECT_EQ(data.baseArraySerial, "50412345");
  EXPECT_EQ(data.baseDevNo, "0040");
  EXPECT_TRUE(device.logged(
      "IsHitachi-[FALSE], Model-[NA], ArraySerial-[NA], DevNo-[NA],Base ArraySerial-[NA], "
      "Base DevNo-[NA]"));
}

TEST(InquiryPageE2, ShortBaseSerialStaysUndecoded) {
  Env env;
  ZrFakeDeviceTree::Disk disk;
  disk.standard = zrinq::standardPage("HITACHI", "OPEN-V", "50312345", "0005");
  disk.e2 = zrinq::pageE2("HITACHI", "50", "0040", "R800");
  env.tree.addDisk("/dev/sdj", disk);
  FakeSnapInfo device;
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageVPD("/dev/sdj", &device, nullptr, data), 1);
  EXPECT_EQ(data.baseArraySerial, "50");
  EXPECT_EQ(data.baseDevNo, "64");
}

TEST(InquiryPageE2, FailuresKeepTheStandardPageData) {
  Env env;
  zrinq::LdevIdentity id = ident("HITACHI", "R800", 374565, 7, 374565, 7, "R800");
  FakeSnapInfo device;
  ZRHDSSCSIInquiryData data;

  ZrFakeDeviceTree::Disk refused;
  refused.standard = zrinq::standardPageFor(id);
  env.tree.addDisk("/dev/sdk", refused);
  EXPECT_EQ(HDSSCSIInquiryPageVPD("/dev/sdk", &device, nullptr, data), 0);
  EXPECT_TRUE(device.logged("Failed to Inquire SCSI Page E2 for device-[/dev/sdk]"));
  EXPECT_EQ(data.arraySerial, "374565");
  EXPECT_EQ(data.devNo, "7");
  EXPECT_EQ(data.model, "R800");

  ZrFakeDeviceTree::Disk wrongPage;
  wrongPage.standard = zrinq::standardPageFor(id);
  wrongPage.e2 = zrinq::pageE2For(id);
  wrongPage.e2[1] = 0x83;
  env.tree.addDisk("/dev/sdl", wrongPage);
  EXPECT_EQ(HDSSCSIInquiryPageVPD("/dev/sdl", &device, nullptr, data), 0);
  EXPECT_TRUE(device.logged("Invalid Page returned for Page E2 SCSI Inquiry."));
  EXPECT_EQ(data.devNo, "7");

  EXPECT_EQ(HDSSCSIInquiryPageVPD("/dev/none", &device, nullptr, data), 0);
  EXPECT_TRUE(device.logged("Failed to Inquire the VPD information for device-[/dev/none]"));
  // A null device is tolerated (no log target).
  EXPECT_EQ(HDSSCSIInquiryPageVPD("/dev/none", nullptr, nullptr, data), 0);
}

// ---- VMware ----------------------------------------------------------------

struct VmwareFixture {
  Env env;
  FakeSnapInfo device;
  FakeOSUtil util;
  zrinq::LdevIdentity id = ident("HITACHI", "R800", 312345, 0x120, 410001, 0x2A0, "R9G");
  std::string text = zrinq::vmwareDeviceText(zrinq::standardPageFor(id), "6006-0e80-uuid");

  VmwareFixture() {
    device.setValueStringFor(10, "/vmfs/volumes/ds1/vm1.vmdk");
    device.setValueIntFor(11, 7);
    device.setValueIntFor(1, 42);
  }
};

TEST(InquiryVmware, StandardPageFromHostText) {
  VmwareFixture f;
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageSTD(f.text, data), 1);
  EXPECT_TRUE(data.isHitachi);
  EXPECT_EQ(data.arraySerial, "312345");
  EXPECT_EQ(data.devNo, "288");
  EXPECT_TRUE(f.env.tree.sent().empty());  // no device was touched
}

TEST(InquiryVmware, PageE2FromHostReply) {
  VmwareFixture f;
  const std::string e2Hex = zrinq::toHex(zrinq::pageE2For(f.id));
  f.util.setPageInfoReply(0, zrinq::vmwarePageReply({"0083000C0102", e2Hex, "00C0FF"}));
  ZRHDSSCSIInquiryData data;
  ASSERT_EQ(HDSSCSIInquiryPageVPD(f.text, &f.device, &f.util, data), 1);
  EXPECT_EQ(data.baseArraySerial, "410001");
  EXPECT_EQ(data.baseDevNo, "672");
  EXPECT_EQ(data.model, "R9G");
  auto calls = f.util.pageInfoCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].sourceHostPath, "/vmfs/volumes/ds1/vm1.vmdk");
  EXPECT_EQ(calls[0].lunUuid, "6006-0e80-uuid");
  EXPECT_EQ(calls[0].pageKind, "GENERIC_VPD");
  EXPECT_EQ(calls[0].applicationId, 42);
  EXPECT_EQ(calls[0].installationId, 7);
  EXPECT_EQ(calls[0].pageCount, 5);
  EXPECT_EQ(calls[0].separator, '*');
  EXPECT_EQ(calls[0].bufferSize, 4096);
  EXPECT_TRUE(f.device.logged(
      "Input for GetPageInforForVMwareDevice API SrcHostPath-[/vmfs/volumes/ds1/vm1.vmdk], "
      "sLunUuid-[6006-0e80-uuid], AppId-[42], Hollacre ID-[7]"));
  EXPECT_TRUE(f.device.logged("GENERIC_VPD details from the VMware server is [" + e2Hex + "]"));
}

TEST(InquiryVmware, ReplyWithoutE2ItemGivesStandardDataOnly) {
  const std::vector<std::string> replies = {
      zrinq::vmwarePageReply({"0083000C0102", "00C0FF"}),
      "",
      // A page text after the last separator is not an item.
      "0083000C*_ZRSO_*00E200FF",
  };
  for (const std::string& reply : replies) {
    SCOPED_TRACE(reply);
    VmwareFixture f;
    f.util.setPageInfoReply(0, reply);
    ZRHDSSCSIInquiryData data;
    ASSERT_EQ(HDSSCSIInquiryPageVPD(f.text, &f.device, &f.util, data), 1);
    EXPECT_EQ(data.baseArraySerial, "");
    EXPECT_EQ(data.baseDevNo, "");
    EXPECT_EQ(data.arraySerial, "312345");
    EXPECT_TRUE(f.device.logged("page inquiry don't have information regarding VSM."));
  }
}

TEST(InquiryVmware, HostFailuresEndThePageQuery) {
  struct Row {
    const char* name;
    const char* failOp;
    bool dropUuid;
    int pageRc;
    int result;
    const char* log;
  };
  const std::vector<Row> rows = {
      {"source path", "getValueString", false, 0, 0, "Failed to get the Host Source Path"},
      {"lun uuid", nullptr, true, 0, 0, "for lunuuid"},
      {"installation id", "getValueInt", false, 0, 0, "Failed to get the Hollacre ID"},
      {"page query", nullptr, false, 3, 0,
       "Failed to get the GENERIC_VPD details from the VMware server."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    VmwareFixture f;
    if (r.failOp != nullptr) f.device.failOn(r.failOp);
    std::string text =
        r.dropUuid ? zrinq::vmwareDeviceText(zrinq::standardPageFor(f.id), "x") : f.text;
    if (r.dropUuid) text.replace(text.find("lunuuid"), 7, "lunname");
    f.util.setPageInfoReply(r.pageRc, "");
    ZRHDSSCSIInquiryData data;
    EXPECT_EQ(HDSSCSIInquiryPageVPD(text, &f.device, &f.util, data), r.result);
    EXPECT_TRUE(f.device.logged(r.log));
    EXPECT_TRUE(
        f.device.logged("Failed to Inquire  SCSI Page E2 related VMware Page for device-["));
    EXPECT_EQ(data.arraySerial, "312345");
  }
}

TEST(InquiryVmware, MissingAppIdOnlyLogs) {
  VmwareFixture f;
  FakeSnapInfo& d = f.device;
  d.setValueIntFor(1, 5);
  f.util.setPageInfoReply(0, zrinq::vmwarePageReply({zrinq::toHex(zrinq::pageE2For(f.id))}));
  d.failOnce("getValueInt");  // first call: installation id -> fails the query
  ZRHDSSCSIInquiryData data;
  EXPECT_EQ(HDSSCSIInquiryPageVPD(f.text, &d, &f.util, data), 0);

  // Only the application id lookup fails: logged, query goes on with 0.
  class AppIdFails : public FakeSnapInfo {
   public:
    int getValueInt(int id, int* value) override {
      return id == 1 ? 1 : FakeSnapInfo::getValueInt(id, value);
    }
  } device;
  device.setValueStringFor(10, "/src");
  device.setValueIntFor(11, 9);
  ASSERT_EQ(HDSSCSIInquiryPageVPD(f.text, &device, &f.util, data), 1);
  EXPECT_TRUE(device.logged("Failed to get the AppId"));
  EXPECT_EQ(f.util.pageInfoCalls().back().applicationId, 0);
  EXPECT_EQ(data.baseArraySerial, "410001");
}

TEST(InquiryVmware, StandardTextDecodesAtMost255Bytes) {
  std::string hex(600, 'A');  // 300 bytes of 0xAA
  unsigned char buffer[400];
  std::memset(buffer, 0x55, sizeof(buffer));
  EXPECT_EQ(
      getStdInquiryDetailsForVMware("{idatype:vmware,standardinqury:" + hex + "}", buffer, 400), 1);
  EXPECT_EQ(buffer[254], 0xAA);
  EXPECT_EQ(buffer[255], 0x00);
  // No value leaves the buffer zero.
  std::memset(buffer, 0x55, sizeof(buffer));
  EXPECT_EQ(getStdInquiryDetailsForVMware("{idatype:vmware}", buffer, 400), 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[399], 0);
}

TEST(InquiryVmware, IsVMwareReadsIdatype) {
  struct Row {
    std::string text;
    bool vmware;
  };
  const std::vector<Row> rows = {
      {"{idatype:vmware,os:linux}", true}, {"{os:linux,idatype:vmware}", true},
      {"idatype:vmware,", true},           {"{idatype:linux}", false},
      {"{idatype:vmwarex}", false},        {"", false},
      {"{idatype:vmware", false},  // no separator and no '}': no value
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    FakeSnapInfo device;
    device.setClientTypeText(r.text);
    EXPECT_EQ(IsVMware(&device), r.vmware);
  }
  EXPECT_FALSE(IsVMware(nullptr));
}

// ---- The real pass-through --------------------------------------------------

TEST(InquiryRealDevice, DevNullIsNotScsiAndFailsCleanly) {
  Env env;
  ZrScopedDeviceTree real(nullptr);  // the operating system's devices
  unsigned char buffer[4096];
  std::memset(buffer, 0x5A, sizeof(buffer));
  EXPECT_EQ(DoSCSIInquiry("/dev/null", 0, 0, buffer, sizeof(buffer)), 0);
  EXPECT_EQ(buffer[0], 0);  // zeroed before the attempt
  EXPECT_EQ(buffer[4095], 0);
  EXPECT_NE(env.debugLog().find("[/dev/null] is not SCSI Device"), std::string::npos);

  ZRHDSSCSIInquiryData data;
  EXPECT_EQ(HDSSCSIInquiryPageSTD("/dev/null", data), 0);
  EXPECT_FALSE(data.isHitachi);

  EXPECT_EQ(DoSCSIInquiry("/dev/zr-no-such-device", 0, 0, buffer, sizeof(buffer)), 0);
  EXPECT_NE(env.debugLog().find(
                "Failed to get ZrDevice. Error:[open [/dev/zr-no-such-device]: No such file"),
            std::string::npos);
}

TEST(InquiryRealDevice, SgIoOnDevNullIsRefusedWithTheSystemError) {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(ZrSgIoScsiIface::isSgCapable(fd));
  ZrSgIoScsiIface scsi(fd, "/dev/null");
  const unsigned char cdb[6] = {0x12, 0, 0, 0, 0xFF, 0};
  unsigned char buffer[255];
  CNqError error;
  EXPECT_EQ(scsi.send(cdb, 6, buffer, sizeof(buffer), 0, 1, 0, 0, 10, &error), -1);
  EXPECT_TRUE(error.IsError());
  EXPECT_NE(error.AsString().find("SG_IO on [/dev/null]"), std::string::npos);
  // A malformed request never reaches the ioctl.
  CNqError bad;
  EXPECT_EQ(scsi.send(cdb, 3, buffer, sizeof(buffer), 0, 1, 0, 0, 10, &bad), -1);
  EXPECT_TRUE(bad.IsError());
  ::close(fd);

  CNqError openError;
  SP<ZrDevice> device = ZrOsDevice::open("/dev/null", &openError);
  ASSERT_NE(device.get(), nullptr);
  EXPECT_EQ(device->getName(), "/dev/null");
  EXPECT_EQ(device->queryInterface("ZrDeviceScsiIface"), nullptr);
  EXPECT_EQ(device->queryInterface("SomethingElse"), nullptr);
}

TEST(InquiryRealDevice, ScopedGuardsRestoreTheProviderInForce) {
  // Installing and removing the double restores the provider in force.
  ZrFakeDeviceTree outer;
  ZrScopedDeviceTree g1(&outer);
  {
    ZrFakeDeviceTree inner;
    ZrScopedDeviceTree g2(&inner);
    EXPECT_EQ(ZrDeviceTree::setProvider(&inner), &inner);
  }
  EXPECT_EQ(ZrDeviceTree::setProvider(&outer), &outer);
}

}  // namespace
