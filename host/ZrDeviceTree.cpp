// The device tree of the stand-in host: ZrDeviceTree, its provider seam and
// the Linux devices behind it (host/ZrDevice.h, host/ZrDeviceTree.h).
#include "host/ZrDeviceTree.h"

#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

ZrDeviceScsiIface::~ZrDeviceScsiIface() = default;
ZrDeviceProvider::~ZrDeviceProvider() = default;

namespace {

std::atomic<ZrDeviceProvider*> g_provider{nullptr};

void setError(CNqError* error, const CNqError& value) {
  if (error != nullptr) *error = value;
}

// Sense key of fixed (0x70/0x71) or descriptor (0x72/0x73) sense data; -1
// when there is none.
int senseKey(const unsigned char* sense, int length) {
  if (length < 2) return -1;
  const int code = sense[0] & 0x7f;
  if ((code == 0x70 || code == 0x71) && length >= 3) return sense[2] & 0x0f;
  if (code == 0x72 || code == 0x73) return sense[1] & 0x0f;
  return -1;
}

}  // namespace

SP<ZrDevice> ZrDeviceTree::getDevice(const char* path, CNqError* error) {
  ZrDeviceProvider* provider = g_provider.load(std::memory_order_acquire);
  if (provider != nullptr) return provider->getDevice(path, error);
  return ZrOsDevice::open(path, error);
}

ZrDeviceProvider* ZrDeviceTree::setProvider(ZrDeviceProvider* provider) {
  return g_provider.exchange(provider, std::memory_order_acq_rel);
}

bool ZrSgIoScsiIface::isSgCapable(int fd) {
  int version = 0;
  return fd >= 0 && ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000;
}

int ZrSgIoScsiIface::send(const unsigned char* cdb, int cdbLength, unsigned char* buffer,
                          int bufferLength, int direction, int /*flags*/, int /*reserved1*/,
                          int /*reserved2*/, int timeoutSeconds, CNqError* error) {
  if (cdb == nullptr || cdbLength < 6 || cdbLength > 16 || bufferLength < 0 ||
      (buffer == nullptr && bufferLength > 0)) {
    setError(error, CNqError(-EINVAL, "invalid SCSI command for [" + m_name + "]"));
    return -1;
  }
  unsigned char cdbCopy[16];
  std::memcpy(cdbCopy, cdb, static_cast<size_t>(cdbLength));
  unsigned char sense[64];
  std::memset(sense, 0, sizeof(sense));

  sg_io_hdr_t hdr;
  std::memset(&hdr, 0, sizeof(hdr));
  hdr.interface_id = 'S';
  hdr.dxfer_direction =
      bufferLength == 0 ? SG_DXFER_NONE : (direction == 0 ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV);
  hdr.cmd_len = static_cast<unsigned char>(cdbLength);
  hdr.cmdp = cdbCopy;
  hdr.dxferp = buffer;
  hdr.dxfer_len = static_cast<unsigned int>(bufferLength);
  hdr.mx_sb_len = sizeof(sense);
  hdr.sbp = sense;
  hdr.timeout = static_cast<unsigned int>(timeoutSeconds > 0 ? timeoutSeconds : 10) * 1000u;

  if (ioctl(m_fd, SG_IO, &hdr) != 0) {
    setError(error, CNqError::FromErrno(errno, "SG_IO on [" + m_name + "]"));
    return -1;
  }
  if ((hdr.info & SG_INFO_OK_MASK) != SG_INFO_OK || hdr.status != 0 || hdr.host_status != 0 ||
      hdr.driver_status != 0) {
    char text[160];
    std::snprintf(
        text, sizeof(text),
        "SCSI command 0x%02x failed: status 0x%02x, host 0x%04x, driver 0x%04x, sense key %d",
        cdbCopy[0], hdr.status, hdr.host_status, hdr.driver_status, senseKey(sense, hdr.sb_len_wr));
    setError(error, CNqError(-EIO, "[" + m_name + "] " + text));
    return -1;
  }
  return bufferLength - hdr.resid;
}

SP<ZrDevice> ZrOsDevice::open(const char* path, CNqError* error) {
  if (path == nullptr || *path == '\0') {
    setError(error, CNqError(-ENOENT, "empty device path"));
    return SP<ZrDevice>();
  }
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    setError(error, CNqError::FromErrno(errno, std::string("open [") + path + "]"));
    return SP<ZrDevice>();
  }
  return SP<ZrDevice>(new ZrOsDevice(fd, path));
}

ZrOsDevice::~ZrOsDevice() {
  if (m_fd >= 0) ::close(m_fd);
}

ZrDeviceScsiIface* ZrOsDevice::queryInterface(const char* name) {
  if (name == nullptr || std::strcmp(name, "ZrDeviceScsiIface") != 0) return nullptr;
  return ZrSgIoScsiIface::isSgCapable(m_fd) ? &m_scsi : nullptr;
}
