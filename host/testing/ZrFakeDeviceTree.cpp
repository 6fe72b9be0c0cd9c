#include "host/testing/ZrFakeDeviceTree.h"

#include <errno.h>

#include <algorithm>
#include <cstring>

namespace {

class FakeScsi : public ZrDeviceScsiIface {
 public:
  FakeScsi(ZrFakeDeviceTree* tree, const std::string& path) : m_tree(tree), m_path(path) {}
  int send(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
           int /*direction*/, int /*flags*/, int /*reserved1*/, int /*reserved2*/,
           int timeoutSeconds, CNqError* error) override {
    return m_tree->send(m_path, cdb, cdbLength, buffer, bufferLength, timeoutSeconds, error);
  }

 private:
  ZrFakeDeviceTree* m_tree;
  std::string m_path;
};

class FakeDevice : public ZrDevice {
 public:
  FakeDevice(ZrFakeDeviceTree* tree, const std::string& path)
      : m_tree(tree), m_path(path), m_scsi(tree, path) {}
  ~FakeDevice() override { m_tree->deviceClosed(); }
  ZrDeviceScsiIface* queryInterface(const char* name) override {
    if (name == nullptr || std::strcmp(name, "ZrDeviceScsiIface") != 0) return nullptr;
    return m_tree->isScsi(m_path) ? &m_scsi : nullptr;
  }
  std::string getName() const override { return m_path; }

 private:
  ZrFakeDeviceTree* m_tree;
  std::string m_path;
  FakeScsi m_scsi;
};

}  // namespace

void ZrFakeDeviceTree::addDisk(const std::string& path, const Disk& disk) {
  std::lock_guard<std::mutex> g(m_mu);
  m_disks[path] = disk;
}

void ZrFakeDeviceTree::addLdev(const std::string& path, const zrinq::LdevIdentity& id) {
  Disk d;
  d.standard = zrinq::standardPageFor(id);
  d.e2 = zrinq::pageE2For(id);
  addDisk(path, d);
}

void ZrFakeDeviceTree::remove(const std::string& path) {
  std::lock_guard<std::mutex> g(m_mu);
  m_disks.erase(path);
}

ZrFakeDeviceTree::Disk& ZrFakeDeviceTree::disk(const std::string& path) {
  std::lock_guard<std::mutex> g(m_mu);
  return m_disks.at(path);
}

std::vector<ZrFakeDeviceTree::Sent> ZrFakeDeviceTree::sent() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_sent;
}

int ZrFakeDeviceTree::inquiries(const std::string& path) {
  std::lock_guard<std::mutex> g(m_mu);
  return static_cast<int>(
      std::count_if(m_sent.begin(), m_sent.end(), [&](const Sent& s) { return s.path == path; }));
}

int ZrFakeDeviceTree::openDevices() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_open;
}

void ZrFakeDeviceTree::clearSent() {
  std::lock_guard<std::mutex> g(m_mu);
  m_sent.clear();
}

SP<ZrDevice> ZrFakeDeviceTree::getDevice(const char* path, CNqError* error) {
  std::lock_guard<std::mutex> g(m_mu);
  const std::string p = path != nullptr ? path : "";
  if (m_disks.count(p) == 0) {
    if (error != nullptr) *error = CNqError(-ENOENT, "open [" + p + "]: No such file or directory");
    return SP<ZrDevice>();
  }
  ++m_open;
  return SP<ZrDevice>(new FakeDevice(this, p));
}

bool ZrFakeDeviceTree::isScsi(const std::string& path) {
  std::lock_guard<std::mutex> g(m_mu);
  auto it = m_disks.find(path);
  return it != m_disks.end() && it->second.scsi;
}

void ZrFakeDeviceTree::deviceClosed() {
  std::lock_guard<std::mutex> g(m_mu);
  --m_open;
}

int ZrFakeDeviceTree::send(const std::string& path, const unsigned char* cdb, int cdbLength,
                           unsigned char* buffer, int bufferLength, int timeoutSeconds,
                           CNqError* error) {
  std::lock_guard<std::mutex> g(m_mu);
  Sent s;
  s.path = path;
  s.cdb.assign(cdb, cdb + std::max(cdbLength, 0));
  s.bufferLength = bufferLength;
  s.timeoutSeconds = timeoutSeconds;
  m_sent.push_back(s);

  auto fail = [&](const std::string& text) {
    if (error != nullptr) *error = CNqError(-EIO, "[" + path + "] " + text);
    return -1;
  };
  auto it = m_disks.find(path);
  if (it == m_disks.end()) return fail("device gone");
  if (cdbLength != 6 || cdb[0] != 0x12) return fail("unsupported command");
  const Disk& d = it->second;
  const zrinq::Page* page = nullptr;
  if ((cdb[1] & 0x01) == 0) {
    if (cdb[2] != 0) return fail("ILLEGAL REQUEST: page code without EVPD");
    if (d.failStandard) return fail("standard INQUIRY failed");
    page = &d.standard;
  } else {
    if (cdb[2] != 0xE2 || d.e2.empty()) return fail("ILLEGAL REQUEST: VPD page not supported");
    if (d.failE2) return fail("page 0xE2 INQUIRY failed");
    page = &d.e2;
  }
  // The device returns at most the CDB's allocation length.
  const size_t allocation = (static_cast<size_t>(cdb[3]) << 8) | cdb[4];
  const size_t n =
      std::min({page->size(), allocation, static_cast<size_t>(std::max(bufferLength, 0))});
  if (n > 0) std::memcpy(buffer, page->data(), n);
  return static_cast<int>(n);
}
