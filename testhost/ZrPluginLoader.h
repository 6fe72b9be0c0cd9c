#pragma once
// Loads the plug-in as the host does: dlopen of libzrhdscli.so and a lookup
// of every exported zrso_ function by its bare name. Nothing of the plug-in
// is linked into the test host; a missing export is reported, not fatal,
// so that a partly built plug-in can still be driven for what it offers.
//
// Thread-safety: a loaded library may be called from one thread at a time.
#include <map>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"

// built when that file exists, else the file at installed (relative to the
// running program's directory) when that exists, else built: the build
// tree's files for a program run from the build, the installed ones for an
// installed program.
std::string zrBuiltOrInstalled(const std::string& built, const std::string& installed);

// The shape shared by every grouped export: (devices, count, utility) -> int.
typedef int (*ZrsoDeviceOp)(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil* util);
typedef void (*ZrsoVersionFn)(short* major, short* minor, short* patch);
typedef int (*ZrsoIsSupportedFn)(const char* device, int flags, void* first, void* second,
                                 short count);

class ZrPluginLoader {
 public:
  ZrPluginLoader() = default;
  ~ZrPluginLoader();
  ZrPluginLoader(const ZrPluginLoader&) = delete;
  ZrPluginLoader& operator=(const ZrPluginLoader&) = delete;

  // The names of the device-array exports, in the order the host documents
  // them.
  static const std::vector<std::string>& deviceOpNames();

  // dlopen(path, RTLD_NOW | RTLD_LOCAL) and resolves every export. False
  // with *error set when the library cannot be loaded; missing exports do
  // not fail the load (see missing()).
  bool open(const std::string& path, std::string* error);
  bool isOpen() const { return m_handle != nullptr; }
  const std::string& path() const { return m_path; }

  // The export named name ("zrso_snapDevices"), or null when the library
  // does not export it.
  ZrsoDeviceOp deviceOp(const std::string& name) const;
  ZrsoVersionFn version() const { return m_version; }
  ZrsoIsSupportedFn isSupported() const { return m_isSupported; }
  // Exports looked for and not found, in lookup order.
  const std::vector<std::string>& missing() const { return m_missing; }

  // The default location of the plug-in: $ZRTESTHOST_PLUGIN, else the
  // build's libzrhdscli.so.
  static std::string defaultPluginPath();

 private:
  void* m_handle = nullptr;
  std::string m_path;
  std::map<std::string, ZrsoDeviceOp> m_ops;
  ZrsoVersionFn m_version = nullptr;
  ZrsoIsSupportedFn m_isSupported = nullptr;
  std::vector<std::string> m_missing;
};
