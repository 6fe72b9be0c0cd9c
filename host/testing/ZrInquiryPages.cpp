#include "host/testing/ZrInquiryPages.h"

#include <cstdio>

namespace zrinq {
namespace {

// Copies text into page at offset, blank-padded or cut to width.
void putField(Page& page, size_t offset, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i)
    page.at(offset + i) = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

std::string hex5(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%05X", value & 0xFFFFFu);
  return buf;
}

bool isHp(const std::string& vendor) { return vendor == "HP" || vendor == "HPE"; }

}  // namespace

LdevIdentity physicalLdev(unsigned serial, unsigned ldev) {
  LdevIdentity id;
  id.serial = serial;
  id.ldev = ldev;
  id.baseSerial = serial;
  id.baseLdev = ldev;
  return id;
}

std::string rawSerial(const std::string& model, unsigned serial) {
  if (model == "R700") return "50 " + hex5(serial);
  char digit = '0' + static_cast<char>((serial / 100000u) % 10u);
  return std::string("50") + digit + hex5(serial % 100000u);
}

std::string rawLdev(unsigned ldev) {
  char buf[8];
  std::snprintf(buf, sizeof(buf), "%04X", ldev & 0xFFFFu);
  return buf;
}

Page standardPage(const std::string& vendor, const std::string& product,
                  const std::string& rawSerialText, const std::string& rawLdevText) {
  Page page(96, 0);
  page[0] = 0x00;  // direct-access block device
  page[2] = 0x06;  // SPC-4
  page[3] = 0x02;  // response data format
  page[4] = static_cast<uint8_t>(page.size() - 5);
  putField(page, 8, 8, vendor);
  putField(page, 16, 16, product);
  putField(page, 32, 4, "8301");
  putField(page, 36, 8, rawSerialText);
  putField(page, 44, 4, rawLdevText);
  return page;
}

Page pageE2(const std::string& vendor, const std::string& rawBaseSerial,
            const std::string& rawBaseLdev, const std::string& modelCode) {
  Page page(160, 0);
  page[1] = 0xE2;
  page[3] = static_cast<uint8_t>(page.size() - 4);
  putField(page, isHp(vendor) ? 8 : 40, 8, rawBaseSerial);
  putField(page, isHp(vendor) ? 16 : 48, 4, rawBaseLdev);
  putField(page, 138, 4, modelCode);
  return page;
}

Page standardPageFor(const LdevIdentity& id) {
  return standardPage(id.vendor, id.product, rawSerial(id.model, id.serial), rawLdev(id.ldev));
}

Page pageE2For(const LdevIdentity& id) {
  return pageE2(id.vendor, rawSerial(id.modelCode, id.baseSerial), rawLdev(id.baseLdev),
                id.modelCode);
}

std::string toHex(const Page& page) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(page.size() * 2);
  for (uint8_t b : page) {
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out;
}

std::string vmwareDeviceText(const Page& standard, const std::string& lunUuid) {
  return "{idatype:vmware,standardinqury:" + toHex(standard) + ",lunuuid:" + lunUuid + "}";
}

std::string vmwarePageReply(const std::vector<std::string>& pageTexts) {
  std::string out;
  for (const std::string& t : pageTexts) out += t + "*_ZRSO_*";
  return out;
}

}  // namespace zrinq
