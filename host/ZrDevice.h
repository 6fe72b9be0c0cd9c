#pragma once
// The host's device tree: a handle to an operating-system device and its
// SCSI pass-through interface. The stand-in opens block and generic SCSI
// devices by path and sends commands with the SG_IO ioctl.
#include <string>

#include "host/CNqError.h"
#include "host/SP.h"

class ZrDeviceScsiIface {
 public:
  virtual ~ZrDeviceScsiIface();
  // Sends one data-in CDB. Returns the count of bytes transferred, or -1
  // with *error set. direction, flags and reserved are the host's (the
  // plug-in passes 0, 1, 0, 0); timeoutSeconds bounds the command.
  virtual int send(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
                   int direction, int flags, int reserved1, int reserved2, int timeoutSeconds,
                   CNqError* error) = 0;
};

class ZrDevice : public SPEnabled {
 public:
  // The interface named name ("ZrDeviceScsiIface"), or null when the device
  // does not offer it. The interface lives as long as the device.
  virtual ZrDeviceScsiIface* queryInterface(const char* name) = 0;
  virtual std::string getName() const = 0;
};

// Supplies devices instead of the operating system (tests).
class ZrDeviceProvider {
 public:
  virtual ~ZrDeviceProvider();
  // A device for path, or an empty handle with *error set.
  virtual SP<ZrDevice> getDevice(const char* path, CNqError* error) = 0;
};

class ZrDeviceTree {
 public:
  // A handle to the device at path; empty with *error set when it cannot be
  // opened.
  static SP<ZrDevice> getDevice(const char* path, CNqError* error);
  // Test seam: routes getDevice to provider (null restores the operating
  // system). Returns the provider in force before.
  static ZrDeviceProvider* setProvider(ZrDeviceProvider* provider);
};
