// zrtesthost: drives libzrhdscli.so as the host application does.
//   zrtesthost run SCENARIO.json [--work DIR] [--plugin LIB] [--verbose]
//   zrtesthost exports [--plugin LIB]
//   zrtesthost remote-serve EXCHANGE.json   (started by a test host itself)
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "testhost/ZrPluginLoader.h"
#include "testhost/ZrScenarioRunner.h"
#include "testhost/ZrTestHost.h"

namespace {

const char kUsage[] =
    "usage: zrtesthost run SCENARIO.json [--work DIR] [--plugin LIB] [--verbose]\n"
    "       zrtesthost exports [--plugin LIB]\n"
    "  run      build the scenario's simulated arrays in DIR (default ./zrtesthost-work),\n"
    "           run its calls through the plug-in and check each result; exit 0 only\n"
    "           when every step met its expectation\n"
    "  exports  list the zrso_ functions the plug-in exports\n";

int exports(const std::string& plugin) {
  ZrPluginLoader loader;
  std::string error;
  if (!loader.open(plugin, &error)) {
    std::cerr << error << "\n";
    return 2;
  }
  std::vector<std::string> names = {"zrso_version", "zrso_isSupported"};
  for (const std::string& n : ZrPluginLoader::deviceOpNames()) names.push_back(n);
  for (const std::string& n : names) {
    bool missing = false;
    for (const std::string& m : loader.missing()) missing = missing || m == n;
    std::cout << (missing ? "  missing  " : "  found    ") << n << "\n";
  }
  if (ZrsoVersionFn v = loader.version()) {
    short major = -1, minor = -1, patch = -1;
    v(&major, &minor, &patch);
    std::cout << "version " << major << "." << minor << "." << patch << "\n";
  }
  return loader.missing().empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "remote-serve") return ZrTestHost::serveRemote(args[1]);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  ZrRunOptions options;
  options.workDir = "zrtesthost-work";
  std::string scenarioPath;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--work" && hasValue)
      options.workDir = args[++i];
    else if (a == "--plugin" && hasValue)
      options.pluginPath = args[++i];
    else if (a == "--verbose")
      options.verbose = true;
    else if (scenarioPath.empty() && a.compare(0, 2, "--") != 0)
      scenarioPath = a;
    else {
      std::cerr << "zrtesthost: bad argument " << a << "\n" << kUsage;
      return 2;
    }
  }
  if (args[0] == "exports") {
    return exports(options.pluginPath.empty() ? ZrPluginLoader::defaultPluginPath()
                                              : options.pluginPath);
  }
  if (args[0] != "run" || scenarioPath.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  ZrScenario scenario;
  std::string error;
  if (!zrLoadScenario(scenarioPath, scenario, &error)) {
    std::cerr << "zrtesthost: " << error << "\n";
    return 2;
  }
  ZrScenarioRunner runner(scenario, options, std::cout);
  return runner.run().passed() ? 0 : 1;
}
