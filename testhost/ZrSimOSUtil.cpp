#include "testhost/ZrSimOSUtil.h"

#include "sim/ccisim_query.h"

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

// The state as last read, kept while neither the database nor its
// write-ahead log changed (every tool run commits, so any change shows in
// their size or time): a device scan followed by an inquiry of each device
// then reads the database once, not once per device. Readers share the one
// copy.
struct StateCache {
  std::mutex mu;
  std::string path;
  std::string stamp;
  std::shared_ptr<const ccisim::State> state;
};

std::string fileStamp(const std::string& path) {
  std::string stamp;
  for (const std::string& f : {path, path + "-wal"}) {
    struct stat st;
    if (::stat(f.c_str(), &st) != 0) {
      stamp += "-;";
      continue;
    }
    stamp += std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
             std::to_string(st.st_mtim.tv_nsec) + ";";
  }
  return stamp;
}

// The state now; null when it cannot be read.
std::shared_ptr<const ccisim::State> loadCurrent(const std::string& path) {
  static StateCache* cache = new StateCache;
  std::lock_guard<std::mutex> g(cache->mu);
  const std::string stamp = fileStamp(path);
  if (!cache->state || cache->path != path || cache->stamp != stamp) {
    std::shared_ptr<ccisim::State> s(new ccisim::State);
    if (!ccisim::loadState(path, *s, nullptr)) return nullptr;
    cache->path = path;
    cache->stamp = stamp;
    cache->state = s;
  }
  return cache->state;
}

const char kDeviceRoot[] = "/dev/zrsim/";

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class SimScsi : public ZrDeviceScsiIface {
 public:
  SimScsi(ZrSimOSUtil* host, const std::string& path) : m_host(host), m_path(path) {}
  int send(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
           int /*direction*/, int /*flags*/, int /*reserved1*/, int /*reserved2*/,
           int /*timeoutSeconds*/, CNqError* error) override {
    auto fail = [&](const std::string& text) {
      if (error != nullptr) *error = CNqError(-EIO, "[" + m_path + "] " + text);
      return -1;
    };
    if (cdb == nullptr || cdbLength != 6 || cdb[0] != 0x12) return fail("unsupported command");
    const bool evpd = (cdb[1] & 0x01) != 0;
    if (!evpd && cdb[2] != 0) return fail("ILLEGAL REQUEST: page code without EVPD");
    std::vector<uint8_t> reply;
    if (!m_host->inquiry(m_path, evpd ? cdb[2] : -1, reply)) {
      return fail(evpd ? "ILLEGAL REQUEST: VPD page not supported" : "device gone");
    }
    const size_t allocation = (static_cast<size_t>(cdb[3]) << 8) | cdb[4];
    const size_t n =
        std::min({reply.size(), allocation, static_cast<size_t>(std::max(bufferLength, 0))});
    if (n > 0 && buffer != nullptr) std::memcpy(buffer, reply.data(), n);
    return static_cast<int>(n);
  }

 private:
  ZrSimOSUtil* m_host;
  std::string m_path;
};

class SimDisk : public ZrDevice {
 public:
  SimDisk(ZrSimOSUtil* host, const std::string& path) : m_path(path), m_scsi(host, path) {}
  ZrDeviceScsiIface* queryInterface(const char* name) override {
    if (name == nullptr || std::strcmp(name, "ZrDeviceScsiIface") != 0) return nullptr;
    return &m_scsi;
  }
  std::string getName() const override { return m_path; }

 private:
  std::string m_path;
  SimScsi m_scsi;
};

// Copies text and its terminator when capacity allows; the host's sizing
// convention for short lengths: *length receives the size needed.
bool putShort(const std::string& text, char* buffer, short* length) {
  const short needed = static_cast<short>(std::min<size_t>(text.size() + 1, 32767));
  if (buffer == nullptr || length == nullptr || *length < needed) {
    if (length != nullptr) *length = needed;
    return false;
  }
  std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
  *length = static_cast<short>(text.size());
  return true;
}

}  // namespace

ZrSimOSUtil::ZrSimOSUtil(const std::string& statePath, const std::vector<std::string>& initiators,
                         bool iscsi)
    : m_statePath(statePath), m_initiators(initiators), m_iscsi(iscsi) {
  rescan();
}

ZrSimOSUtil::~ZrSimOSUtil() = default;

bool ZrSimOSUtil::loadState(const std::string& path, ccisim::State& out, std::string* error) {
  return ccisim::loadState(path, out, error);
}

std::string ZrSimOSUtil::devicePath(const ccisim::State& s, const std::string& serial, int ldev) {
  for (const ccisim::CommandDevice& c : s.commandDevices) {
    if (c.serial == serial && c.ldev == ldev) return c.path;
  }
  return kDeviceRoot + serial + "/" + std::to_string(ldev);
}

std::vector<ZrSimDevice> ZrSimOSUtil::attachedDevices(const ccisim::State& s,
                                                      const std::vector<std::string>& initiators) {
  std::set<std::string> mine;
  for (const std::string& i : initiators) mine.insert(lower(i));
  std::set<ZrSimDevice> out;
  for (const auto& a : s.arrays) {
    for (const auto& p : a.second.ports) {
      for (const auto& g : p.second.hostGroups) {
        bool holds = false;
        for (const auto& w : g.second.wwns) holds = holds || mine.count(lower(w.first)) > 0;
        if (!holds) continue;
        for (const auto& lun : g.second.luns) {
          if (!a.second.ldev(lun.second).defined) continue;
          ZrSimDevice d;
          d.serial = a.first;
          d.ldev = lun.second;
          d.path = devicePath(s, d.serial, d.ldev);
          out.insert(d);
        }
      }
    }
  }
  for (const ccisim::CommandDevice& c : s.commandDevices) {
    ZrSimDevice d;
    d.path = c.path;
    d.serial = c.serial;
    d.ldev = c.ldev;
    d.commandDevice = true;
    out.insert(d);
  }
  return std::vector<ZrSimDevice>(out.begin(), out.end());
}

bool ZrSimOSUtil::refreshLocked() {
  std::shared_ptr<const ccisim::State> s = loadCurrent(m_statePath);
  if (!s) return false;
  if (s == m_state) return true;
  // The devices attached now follow the state; worked out once per state.
  m_state = s;
  m_attached = attachedDevices(*s, m_initiators);
  m_visibleKnown = false;
  return true;
}

const std::vector<ZrSimDevice>& ZrSimOSUtil::visibleLocked() {
  if (!refreshLocked()) {
    m_visible.clear();
    m_visibleByPath.clear();
    m_visibleKnown = false;
    return m_visible;
  }
  if (m_visibleKnown) return m_visible;
  m_visible.clear();
  m_visibleByPath.clear();
  std::set<std::string> still;
  for (const ZrSimDevice& d : m_attached) {
    if (m_seen.count(d.path) == 0) continue;
    m_visibleByPath[d.path] = m_visible.size();
    m_visible.push_back(d);
    still.insert(d.path);
  }
  // A device whose path went away is gone for good: mapping it again
  // needs a rescan, as on a real machine.
  m_seen.swap(still);
  m_visibleKnown = true;
  return m_visible;
}

std::vector<ZrSimDevice> ZrSimOSUtil::visibleDevices() {
  std::lock_guard<std::mutex> g(m_mu);
  return visibleLocked();
}

void ZrSimOSUtil::rescan() {
  std::lock_guard<std::mutex> g(m_mu);
  ++m_rescans;
  m_seen.clear();
  m_visibleKnown = false;
  if (!refreshLocked()) return;
  for (const ZrSimDevice& d : m_attached) m_seen.insert(d.path);
}

int ZrSimOSUtil::rescanCount() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_rescans;
}

void ZrSimOSUtil::setHostNumber(long n) {
  std::lock_guard<std::mutex> g(m_mu);
  m_hostNumber = n;
}

void ZrSimOSUtil::setRemoteHandler(std::function<bool(const std::string&)> handler) {
  std::lock_guard<std::mutex> g(m_mu);
  m_remote = std::move(handler);
}

void ZrSimOSUtil::setCloneHandler(
    std::function<int(const std::vector<ZRSO::SnapInfo*>&, std::vector<ZRSO::SnapInfo*>*)>
        handler) {
  std::lock_guard<std::mutex> g(m_mu);
  m_clone = std::move(handler);
}

int ZrSimOSUtil::refreshSystemBus(const char* /*option*/, const char* const* /*first*/,
                                  const char* const* /*second*/) {
  rescan();
  return 1;
}

int ZrSimOSUtil::getDeviceList(const char* /*hostId*/, const char* /*vendor*/, char separator,
                               int bufferSize, char* buffer) {
  std::string text;
  for (const ZrSimDevice& d : visibleDevices()) text += d.path + separator;
  const int needed = static_cast<int>(text.size()) + 1;
  if (buffer == nullptr || bufferSize < needed) return needed;
  std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
  return 0;
}

bool ZrSimOSUtil::hbaList(char* names, short* namesLength, char* types, short* typesLength) {
  std::string joined;
  for (size_t i = 0; i < m_initiators.size(); ++i) joined += (i ? "," : "") + m_initiators[i];
  const short count = static_cast<short>(m_initiators.size());
  if (names == nullptr || types == nullptr) {
    if (namesLength != nullptr) *namesLength = static_cast<short>(joined.size() + 1);
    if (typesLength != nullptr) *typesLength = count;
    return false;
  }
  if (namesLength == nullptr || typesLength == nullptr || *typesLength < count ||
      !putShort(joined, names, namesLength)) {
    return false;
  }
  for (short i = 0; i < count; ++i) types[i] = m_iscsi ? 1 : 0;
  *typesLength = count;
  return !m_initiators.empty();
}

bool ZrSimOSUtil::detectHbaList(const char* /*reserved*/, const char* /*second*/, char* names,
                                short* namesLength, char* types, short* typesLength,
                                short* /*third*/) {
  std::lock_guard<std::mutex> g(m_mu);
  return hbaList(names, namesLength, types, typesLength);
}

bool ZrSimOSUtil::detectHbaListForHost(const char* /*hostName*/, const char* /*second*/,
                                       char* names, short* namesLength, char* types,
                                       short* typesLength, short* /*third*/) {
  std::lock_guard<std::mutex> g(m_mu);
  return hbaList(names, namesLength, types, typesLength);
}

bool ZrSimOSUtil::detectHba(const char* /*host*/, const char* /*second*/, char* buffer,
                            short* length, bool& isIscsi) {
  std::lock_guard<std::mutex> g(m_mu);
  isIscsi = m_iscsi;
  if (m_initiators.empty()) {
    if (length != nullptr) *length = 0;
    return false;
  }
  return putShort(m_initiators.front(), buffer, length);
}

long ZrSimOSUtil::getHostNumber() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_hostNumber;
}

bool ZrSimOSUtil::executeOnRemoteMA(const std::string& mediaAgentName) {
  std::function<bool(const std::string&)> remote;
  {
    std::lock_guard<std::mutex> g(m_mu);
    remote = m_remote;
  }
  return remote ? remote(mediaAgentName) : false;
}

int ZrSimOSUtil::getPageInfoForVMwareDevice(const char*, const char*, const char*, int, int, int,
                                            char, int, char*) {
  return -1;  // this host has no VMware sources
}

int ZrSimOSUtil::cloneSnaps(const std::vector<ZRSO::SnapInfo*>& snaps,
                            std::vector<ZRSO::SnapInfo*>* clones) {
  std::function<int(const std::vector<ZRSO::SnapInfo*>&, std::vector<ZRSO::SnapInfo*>*)> clone;
  {
    std::lock_guard<std::mutex> g(m_mu);
    clone = m_clone;
  }
  return clone ? clone(snaps, clones) : 0;
}

bool ZrSimOSUtil::inquiry(const std::string& path, int page, std::vector<uint8_t>& reply) {
  std::lock_guard<std::mutex> g(m_mu);
  visibleLocked();
  const auto it = m_visibleByPath.find(path);
  if (it == m_visibleByPath.end()) return false;
  const ZrSimDevice& d = m_visible[it->second];
  const ccisim::Array* a = m_state->array(d.serial);
  if (a == nullptr) return false;
  if (page == -1) {
    reply = ccisim::inquiryStandard(*a, d.ldev);
    return true;
  }
  if (page != 0xE2) return false;
  reply = ccisim::inquiryE2(*a, d.ldev);
  return true;
}

SP<ZrDevice> ZrSimOSUtil::getDevice(const char* path, CNqError* error) {
  const std::string p = path != nullptr ? path : "";
  bool visible = false;
  {
    std::lock_guard<std::mutex> g(m_mu);
    visibleLocked();
    visible = m_visibleByPath.count(p) != 0;
  }
  if (!visible) {
    if (error != nullptr) *error = CNqError(-ENOENT, "open [" + p + "]: No such file or directory");
    return SP<ZrDevice>();
  }
  return SP<ZrDevice>(new SimDisk(this, p));
}
