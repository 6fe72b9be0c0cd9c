#pragma once
// Device tree double: serves SCSI INQUIRY replies (standard page and VPD
// page 0xE2) for device paths a test registers, and records every CDB sent.
// Install it for a scope with ZrScopedDeviceTree; unknown paths fail as an
// unopenable device would.
//
// Thread-safety: all members lock one mutex; devices handed out refer back
// to the tree, which must outlive them.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/ZrDevice.h"
#include "host/testing/ZrInquiryPages.h"

class ZrFakeDeviceTree : public ZrDeviceProvider {
 public:
  struct Disk {
    zrinq::Page standard;       // reply to the standard INQUIRY
    zrinq::Page e2;             // reply to VPD page 0xE2; empty: the page is refused
    bool scsi = true;           // false: the device offers no SCSI interface
    bool failStandard = false;  // the standard INQUIRY fails (send returns -1)
    bool failE2 = false;        // the page 0xE2 INQUIRY fails (send returns -1)
  };

  // One sent command: the path and the six CDB bytes.
  struct Sent {
    std::string path;
    std::vector<uint8_t> cdb;
    int bufferLength;
    int timeoutSeconds;
  };

  void addDisk(const std::string& path, const Disk& disk);
  // A Hitachi-style disk with both pages built from id.
  void addLdev(const std::string& path, const zrinq::LdevIdentity& id);
  void remove(const std::string& path);
  Disk& disk(const std::string& path);

  std::vector<Sent> sent();
  // How many INQUIRY commands reached path.
  int inquiries(const std::string& path);
  // How many devices are open now (handles not yet released).
  int openDevices();
  void clearSent();

  SP<ZrDevice> getDevice(const char* path, CNqError* error) override;

  // Used by the devices handed out.
  int send(const std::string& path, const unsigned char* cdb, int cdbLength, unsigned char* buffer,
           int bufferLength, int timeoutSeconds, CNqError* error);
  bool isScsi(const std::string& path);
  void deviceClosed();

 private:
  std::mutex m_mu;
  std::map<std::string, Disk> m_disks;
  std::vector<Sent> m_sent;
  int m_open = 0;
};

// Routes ZrDeviceTree::getDevice to tree for the life of the guard.
class ZrScopedDeviceTree {
 public:
  explicit ZrScopedDeviceTree(ZrDeviceProvider* tree)
      : m_previous(ZrDeviceTree::setProvider(tree)) {}
  ~ZrScopedDeviceTree() { ZrDeviceTree::setProvider(m_previous); }
  ZrScopedDeviceTree(const ZrScopedDeviceTree&) = delete;
  ZrScopedDeviceTree& operator=(const ZrScopedDeviceTree&) = delete;

 private:
  ZrDeviceProvider* m_previous;
};
