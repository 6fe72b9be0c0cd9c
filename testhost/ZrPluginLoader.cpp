#include "testhost/ZrPluginLoader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <type_traits>

#include "plugin/zrso_api.h"

// The loader's function types are the plug-in's declared ones.
static_assert(std::is_same<decltype(&zrso_snapDevices), ZrsoDeviceOp>::value,
              "device operation signature");
static_assert(std::is_same<decltype(&zrso_execSnapEngineOp), ZrsoDeviceOp>::value,
              "remote receiver signature");
static_assert(std::is_same<decltype(&zrso_version), ZrsoVersionFn>::value, "version signature");
static_assert(std::is_same<decltype(&zrso_isSupported), ZrsoIsSupportedFn>::value,
              "capability probe signature");

#ifndef ZRTESTHOST_DEFAULT_PLUGIN
#define ZRTESTHOST_DEFAULT_PLUGIN "libzrhdscli.so"
#endif

ZrPluginLoader::~ZrPluginLoader() {
  if (m_handle != nullptr) ::dlclose(m_handle);
}

const std::vector<std::string>& ZrPluginLoader::deviceOpNames() {
  static const std::vector<std::string> names = {
      "zrso_prepareDevices",    "zrso_unprepareDevices",   "zrso_snapDevices",
      "zrso_isMapped",          "zrso_mapSnaps",           "zrso_unmapSnaps",
      "zrso_deleteSnaps",       "zrso_revertSnaps",        "zrso_reconcileSnaps",
      "zrso_execSnapEngineOp",  "zrso_prepareRemoteSnaps", "zrso_createRemoteSnaps",
      "zrso_deleteRemoteSnaps", "zrso_preSnapDevices",     "zrso_postSnapDevices",
      "zrso_processVPDInfo"};
  return names;
}

std::string zrBuiltOrInstalled(const std::string& built, const std::string& installed) {
  if (::access(built.c_str(), F_OK) == 0) return built;
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return built;
  std::string dir(self, static_cast<size_t>(n));
  dir.erase(dir.rfind('/'));
  const std::string candidate = dir + "/" + installed;
  return ::access(candidate.c_str(), F_OK) == 0 ? candidate : built;
}

std::string ZrPluginLoader::defaultPluginPath() {
  const char* env = std::getenv("ZRTESTHOST_PLUGIN");
  if (env != nullptr && env[0] != '\0') return env;
  return zrBuiltOrInstalled(ZRTESTHOST_DEFAULT_PLUGIN, "../lib/libzrhdscli.so");
}

bool ZrPluginLoader::open(const std::string& path, std::string* error) {
  if (m_handle != nullptr) {
    if (error != nullptr) *error = "a plug-in is already loaded from " + m_path;
    return false;
  }
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    if (error != nullptr) *error = "cannot load " + path + ": " + (why != nullptr ? why : "?");
    return false;
  }
  m_handle = handle;
  m_path = path;
  m_missing.clear();
  // dlsym hands out data pointers; the exports are functions.
  auto lookup = [&](const std::string& name) -> void* {
    void* symbol = ::dlsym(m_handle, name.c_str());
    if (symbol == nullptr) m_missing.push_back(name);
    return symbol;
  };
  m_version = reinterpret_cast<ZrsoVersionFn>(lookup("zrso_version"));
  m_isSupported = reinterpret_cast<ZrsoIsSupportedFn>(lookup("zrso_isSupported"));
  for (const std::string& name : deviceOpNames()) {
    void* symbol = lookup(name);
    if (symbol != nullptr) m_ops[name] = reinterpret_cast<ZrsoDeviceOp>(symbol);
  }
  return true;
}

ZrsoDeviceOp ZrPluginLoader::deviceOp(const std::string& name) const {
  auto it = m_ops.find(name);
  return it == m_ops.end() ? nullptr : it->second;
}
