#pragma once
// The operating-system side of the host's device tree (declared in
// host/ZrDevice.h): devices opened by path and a SCSI pass-through that
// sends each CDB with the Linux SG_IO ioctl. ZrDeviceTree::getDevice hands
// these out unless a test has installed a ZrDeviceProvider.
//
// Thread-safety: a device and its interface belong to one caller at a time;
// distinct devices may be used from distinct threads.
#include <string>

#include "host/CNqError.h"
#include "host/SP.h"
#include "host/ZrDevice.h"

// SCSI pass-through over one open descriptor. Does not own the descriptor.
class ZrSgIoScsiIface : public ZrDeviceScsiIface {
 public:
  ZrSgIoScsiIface(int fd, const std::string& name) : m_fd(fd), m_name(name) {}

  // direction 0 moves data from the device into buffer (the only use of the
  // plug-in), anything else from buffer to the device. flags, reserved1 and
  // reserved2 are not used. timeoutSeconds below 1 means 10 seconds.
  // Fails (-1, *error set) when the ioctl is refused (for example by a
  // device that is not SCSI) and when the command itself did not complete
  // with GOOD status; the error text then names the SCSI, host and driver
  // status and the sense key.
  int send(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
           int direction, int flags, int reserved1, int reserved2, int timeoutSeconds,
           CNqError* error) override;

  // True when fd answers the SG driver version query, which every SCSI disk
  // and generic SCSI node does and nothing else does.
  static bool isSgCapable(int fd);

 private:
  int m_fd;
  std::string m_name;
};

// A device node opened read-only and non-blocking, closed with the last
// handle. Offers "ZrDeviceScsiIface" only when the node is SG-capable.
class ZrOsDevice : public ZrDevice {
 public:
  // Empty handle and *error (when not null) set when path cannot be opened.
  static SP<ZrDevice> open(const char* path, CNqError* error);
  ~ZrOsDevice() override;

  ZrDeviceScsiIface* queryInterface(const char* name) override;
  std::string getName() const override { return m_name; }

 private:
  ZrOsDevice(int fd, const std::string& name) : m_fd(fd), m_name(name), m_scsi(fd, name) {}

  int m_fd;
  std::string m_name;
  ZrSgIoScsiIface m_scsi;
};
